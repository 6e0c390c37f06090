/*
 * Background mode: the lock file and the move onto another terminal.
 *
 * The lock file holds the monitor's pid, but what makes it a lock is a
 * POSIX record lock that the monitor holds on it for its whole life: a
 * file whose lock nobody holds is stale, whatever it says, so a pid reused
 * after a SIGKILL or a crash blocks nobody.  The lock is taken after the
 * fork, in the process that runs (record locks are not inherited), and the
 * file is removed only by that process, and only while the path still
 * names the file it holds.
 */
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "daemon/daemon.h"
#include "main/main.h"

constexpr int PID_WAIT_MS = 1000;	/* for a new holder to write its pid */
constexpr int START_WAIT_S = 5;	/* for the detached monitor to report that it runs */
constexpr int REPORT_FD = 3;	/* the detached monitor's end of that report */

[[noreturn]] static void fail(const char *what)
{
	perror(what);
	exit(1);
}

/*
 * The lock path as a regular file: a symbolic link is not followed, a FIFO
 * or a device is not waited on.  -1 with errno set; -2 for another kind of
 * file.
 */
static int open_lock(const char *path, int flags)
{
	struct stat sb;
	int fd = open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);

	/* a symbolic link: ELOOP on Linux, EMLINK on FreeBSD */
	if (fd < 0)
		return errno == ELOOP || errno == EMLINK ? -2 : -1;
	if (fstat(fd, &sb) < 0 || !S_ISREG(sb.st_mode)) {
		close(fd);
		return -2;
	}
	return fd;
}

static void not_regular(const char *path)
{
	fprintf(stderr, "ERROR, lockfile %s is not a regular file, terminating!", path);
}

static bool held(int fd)
{
	struct flock fl{};

	fl.l_type = F_WRLCK;
	fl.l_whence = SEEK_SET;
	return fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

static bool read_pid(int fd, int *pid)
{
	char text[32];
	ssize_t n = pread(fd, text, sizeof text - 1, 0);

	if (n <= 0)
		return false;
	text[n] = '\0';
	return sscanf(text, "%d", pid) == 1;
}

/*
 * The lock is held: name its holder.  A holder that has just taken the lock
 * may not have written its pid yet, so the file is read again for a moment.
 */
static void report_holder(int fd)
{
	int pid = 0;
	bool found = false;

	for (int ms = 0; ms < PID_WAIT_MS; ms += 10) {
		found = read_pid(fd, &pid);
		if (found && pid > 0 && kill(pid, 0) == 0)
			break;
		pollfd nothing[1];
		wait_input(nothing, 0, 10 * 1000 * 1000);
	}
	if (!found) {
		errno = EINVAL;
		perror("ERROR, reading pid from lockfile failed, terminating!");
		return;
	}
	fprintf(stderr, "ERROR, another daemon is already running, pid = %d, terminating!", pid);
}

/* Returns only when no live monitor holds the lock. */
void check_lockfile(const char *path)
{
	int fd = open_lock(path, O_RDONLY);

	if (fd == -1) {
		if (errno == ENOENT)
			return;
		fail("ERROR, reading pid from lockfile failed, terminating!");
	}
	if (fd == -2) {
		not_regular(path);
		exit(1);
	}
	if (held(fd)) {
		report_holder(fd);
		exit(1);
	}
	close(fd);
}

/*
 * A relative device is relative to where the starter stands, not to "/"
 * where the detached process goes: made absolute first, or refused while
 * the starter can still hear why.
 */
static void absolute_tty()
{
	static char path[PATH_MAX];
	char cwd[PATH_MAX];

	if (st.tty_path[0] == '/')
		return;
	if (!getcwd(cwd, sizeof cwd))
		fail("ERROR, cannot open redirected device");
	int n = snprintf(path, sizeof path, "%s/%s", cwd, st.tty_path);
	if (n < 0 || static_cast<size_t>(n) >= sizeof path) {
		errno = ENAMETOOLONG;
		fail("ERROR, cannot open redirected device");
	}
	st.tty_path = path;
}

/*
 * The starter's side: it stays until the detached monitor has its
 * terminal, the lock, its screen and the capture, so that its status says
 * whether a monitor runs (scripts, rc.d and systemd read it).  Until then
 * the monitor's messages are on the starter's standard error; it reports
 * on a socket once it runs.
 */
[[noreturn]] static void await_start(int fd, pid_t child)
{
	int64_t deadline = pf_mono_ns() + START_WAIT_S * SECOND;
	char ok;
	ssize_t n = -1;

	for (;;) {
		int64_t left = deadline - pf_mono_ns();
		pollfd report[2] = {{fd, POLLIN, 0}};
		if (left <= 0) {
			/* not reaped: a child stuck in an open may not go at once */
			kill(child, SIGKILL);
			fprintf(stderr, "ERROR, background monitor did not start within %d s, terminating!\n",
				START_WAIT_S);
			exit(1);
		}
		if (wait_input(report, 1, left) > 0 &&
		    ((n = read(fd, &ok, 1)) >= 0 || errno != EINTR))
			break;
	}
	if (n == 1)
		exit(0);
	/* ended before it ran: its message is out, unless a signal ended it */
	int status = 0;
	while (waitpid(child, &status, 0) < 0 && errno == EINTR)
		;
	if (WIFSIGNALED(status))
		fprintf(stderr, "ERROR, background monitor ended by signal %d before it ran, terminating!\n",
			WTERMSIG(status));
	exit(1);
}

/*
 * Returns in the detached child, with 0 and 1 on the device and TERM set;
 * descriptor 2 stays the starter's until daemon_ready, so that whatever
 * fails before the monitor runs is reported where it was started.  The
 * report goes on a socket, not a pipe: a starter killed meanwhile makes
 * the report fail, where a pipe would raise SIGPIPE and end the monitor.
 */
void daemonize()
{
	int report[2];

	absolute_tty();
	if (socketpair(AF_UNIX, SOCK_STREAM, 0, report) < 0)
		fail("ERROR, daemonize/fork");
	pid_t pid = fork();
	if (pid < 0)
		fail("ERROR, daemonize/fork");
	if (pid > 0) {
		close(report[1]);
		await_start(report[0], pid);
	}
	close(report[0]);

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
	if (fd > 1 && close(fd) < 0)
		fail("ERROR, close in daemonize");
	/* whatever else the starter left open (a pipe it reads until we end) is not ours */
	if (dup2(report[1], REPORT_FD) < 0)
		fail("ERROR, daemonize/fork");
	closefrom(REPORT_FD + 1);
	if (ioctl(0, TIOCSCTTY, 0) < 0)
		fail("ERROR, cannot setup tty as controlling terminal");

	const char *term = getenv("TERM");
	if (term && *term)
		return;
	if (setenv("TERM", st.term_type, 1) < 0)
		fail("ERROR, setenv TERM failed");
}

/*
 * The monitor runs, screen and capture: its errors go to its own terminal
 * now, and the starter may go.  A starter that has already gone is no
 * failure of ours.
 */
void daemon_ready()
{
	/* a signal noted during the start (a hangup of the device) ends it, and the starter hears why */
	check_signal();
	if (dup2(0, 2) < 0) {
		perror("ERROR, dup2 stderr");
		cleanup_exit(1);
	}
	(void)!send(REPORT_FD, "", 1, MSG_NOSIGNAL);
	close(REPORT_FD);
	st.start_reported = true;
}

/* The path still names the file open on fd (not a link to it); async-signal-safe. */
bool same_file(int fd, const char *path)
{
	struct stat a, b;

	return fstat(fd, &a) == 0 && lstat(path, &b) == 0 && a.st_dev == b.st_dev &&
	       a.st_ino == b.st_ino;
}

/*
 * Takes the lock, then writes the pid.  Of two monitors that passed the
 * check together, one gets the lock and the other ends.  A lock taken on a
 * file that its last holder removed a moment before is no lock: open the
 * path again.
 */
void write_lockfile(const char *path)
{
	int fd = -1;

	for (int tries = 0; fd < 0; tries++) {
		fd = open_lock(path, O_RDWR | O_CREAT);
		if (fd == -2) {
			not_regular(path);
			cleanup_exit(1);
		}
		if (fd < 0 || tries == 10) {
			perror("ERROR, can't open lockfile for writing, terminating");
			cleanup_exit(1);
		}
		struct flock fl{};
		fl.l_type = F_WRLCK;
		fl.l_whence = SEEK_SET;
		if (fcntl(fd, F_SETLK, &fl) < 0) {
			report_holder(fd);
			cleanup_exit(1);
		}
		if (!same_file(fd, path)) {
			close(fd);
			fd = -1;
		}
	}
	st.lock_fd = fd;

	char text[32];
	int n = snprintf(text, sizeof text, "%d", static_cast<int>(getpid()));
	/* whatever the umask, and whoever left a stale file there */
	(void)!fchown(fd, geteuid(), getegid());
	fchmod(fd, 0644);
	if (ftruncate(fd, 0) < 0 || pwrite(fd, text, n, 0) != n) {
		perror("ERROR, can't write pid to lockfile, terminating");
		cleanup_exit(1);
	}
	fsync(fd);
}
