/*
 * Gives up this terminal as controlling terminal, then waits without
 * reading it, so that a background ravlet can take the terminal over.
 * Ends when the terminal itself goes (its tmux pane or server closed), so
 * that no test leaves it behind.
 */
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main()
{
	/* the session leader's TIOCNOTTY hangs up its own foreground group */
	signal(SIGHUP, SIG_IGN);
	if (ioctl(0, TIOCNOTTY) < 0)
		return 1;
	/* no events asked for: only a hangup (the pty's other side closed) wakes us */
	pollfd tty = {0, 0, 0};
	while (poll(&tty, 1, -1) < 0 && errno == EINTR)
		;
	return 0;
}
