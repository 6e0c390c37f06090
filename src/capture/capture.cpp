#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "capture/capture.h"
#include "main/main.h"

/*
 * Never a search of PATH: we run as root.  A build may fix the path (a
 * packager's choice, or a scripted stand-in for the tests).
 */
static const char *capture_program()
{
#ifdef RAVLET_CAPTURE_PROGRAM
	return RAVLET_CAPTURE_PROGRAM;
#else
	for (const char *const *p = pf_capture_programs; *p; p++)
		if (access(*p, X_OK) == 0)
			return *p;
	return pf_capture_programs[0];
#endif
}

/*
 * Starts the capture program with its output on a pipe and returns the
 * pipe's reading end, non-blocking, or -1 with errno set.  A program that
 * cannot be run is not reported: its child ends with 127 and the pipe with
 * end of file.
 */
int mpopen(const char *ifname, const char *expr)
{
	const char *prog = capture_program();
	char *argv[] = {const_cast<char *>("tcpdump"), const_cast<char *>("-li"),
			const_cast<char *>(ifname), const_cast<char *>(expr), nullptr};
	int fd[2];

	if (pipe(fd) < 0)
		return -1;
	pid_t pid = vfork();
	if (pid < 0) {
		int saved = errno;
		close(fd[0]);
		close(fd[1]);
		errno = saved;
		return -1;
	}
	if (pid == 0) {
		child_signals();
		close(fd[0]);
		if (fd[1] != 1) {
			dup2(fd[1], 1);
			close(fd[1]);
		}
		/* its messages would land in the middle of the screen */
		close(2);
		execv(prog, argv);
		_exit(127);
	}
	st.child_pid = pid;
	close(fd[1]);
	/* a half-written line must never hold up keys and statistics */
	fcntl(fd[0], F_SETFL, fcntl(fd[0], F_GETFL) | O_NONBLOCK);
	return fd[0];
}
