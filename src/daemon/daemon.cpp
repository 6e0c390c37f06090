#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "daemon/daemon.h"
#include "main/main.h"

[[noreturn]] static void fail(const char *what)
{
	perror(what);
	exit(1);
}

/* Returns only when no live process holds the lock; a stale file is gone then. */
void check_lockfile(const char *path)
{
	FILE *f = fopen(path, "r");
	int pid;

	if (!f)
		return;
	if (fscanf(f, "%d", &pid) != 1)
		fail("ERROR, reading pid from lockfile failed, terminating!");
	if (kill(pid, 0) == 0) {
		fprintf(stderr, "ERROR, another daemon is already running, pid = %d, terminating!",
			pid);
		exit(1);
	}
	fclose(f);
	unlink(path);
}

/* Returns in the detached child, with 0, 1 and 2 on the device and TERM set. */
void daemonize()
{
	pid_t pid = fork();

	if (pid < 0)
		fail("ERROR, daemonize/fork");
	if (pid > 0)
		exit(0);

	(void)!chdir("/");
	if (setsid() < 0)
		fail("ERROR, setsid");
	int fd = open(st.tty_path, O_RDWR);
	if (fd < 0)
		fail("ERROR, cannot open redirected device");
	if (!isatty(fd))
		fail("ERROR, device is not a tty!");
	if (dup2(fd, 0) < 0)
		fail("ERROR, dup2 stdin");
	if (dup2(fd, 1) < 0)
		fail("ERROR, dup2 stdout");
	if (dup2(fd, 2) < 0)
		fail("ERROR, dup2 stderr");
	if (fd > 2 && close(fd) < 0)
		fail("ERROR, close in daemonize");
	if (ioctl(0, TIOCSCTTY, 0) < 0)
		fail("ERROR, cannot setup tty as controlling terminal");

	const char *term = getenv("TERM");
	if (term && *term)
		return;
	if (setenv("TERM", st.term_type, 1) < 0)
		fail("ERROR, setenv TERM failed");
}

/*
 * Created exclusively: of two monitors that passed the check at the same
 * moment, only one gets the file; the other ends without touching it.
 */
void write_lockfile(const char *path)
{
	int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);

	if (fd < 0) {
		perror("ERROR, can't open lockfile for writing, terminating");
		cleanup_exit(1);
	}
	st.lock_written = 1;
	FILE *f = fdopen(fd, "w");
	/* a full disk shows only at the flush: an empty lock file is no lock */
	if (!f || fprintf(f, "%d", static_cast<int>(getpid())) < 0 || fflush(f) != 0) {
		perror("ERROR, can't write pid to lockfile, terminating");
		cleanup_exit(1);
	}
	fsync(fd);
	fclose(f);
}
