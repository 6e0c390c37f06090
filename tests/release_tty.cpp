/*
 * Gives up this terminal as controlling terminal, then waits without
 * reading it, so that a background ravlet can take the terminal over.
 */
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

int main()
{
	/* the session leader's TIOCNOTTY hangs up its own foreground group */
	signal(SIGHUP, SIG_IGN);
	if (ioctl(0, TIOCNOTTY) < 0)
		return 1;
	for (;;)
		pause();
}
