/*
 * hold_pty PIDFILE SECONDS CMD...: runs CMD on a new 80x24 pty as its
 * controlling terminal, reads what it writes for SECONDS, then stops the
 * terminal's output (as Scroll Lock does on a console) and never reads the
 * master again, while holding it open.  Writes CMD's pid to PIDFILE and, once
 * CMD has ended, its wait status to standard output.
 */
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv)
{
	if (argc < 4)
		return 2;
	int master = posix_openpt(O_RDWR | O_NOCTTY);
	if (master < 0 || grantpt(master) < 0 || unlockpt(master) < 0)
		return 1;
	const char *name = ptsname(master);
	winsize ws = {24, 80, 0, 0};
	ioctl(master, TIOCSWINSZ, &ws);

	pid_t pid = fork();
	if (pid == 0) {
		setsid();
		int s = open(name, O_RDWR);
		if (s < 0)
			_exit(126);
		ioctl(s, TIOCSCTTY, 0);
		dup2(s, 0);
		dup2(s, 1);
		dup2(s, 2);
		if (s > 2)
			close(s);
		close(master);
		execvp(argv[3], argv + 3);
		_exit(127);
	}
	FILE *f = fopen(argv[1], "w");
	if (f) {
		fprintf(f, "%d\n", pid);
		fclose(f);
	}
	int slave = open(name, O_RDWR | O_NOCTTY);

	timespec end;
	clock_gettime(CLOCK_MONOTONIC, &end);
	end.tv_sec += atoi(argv[2]);
	fcntl(master, F_SETFL, O_NONBLOCK);
	for (;;) {
		timespec now;
		clock_gettime(CLOCK_MONOTONIC, &now);
		if (now.tv_sec > end.tv_sec || (now.tv_sec == end.tv_sec && now.tv_nsec >= end.tv_nsec))
			break;
		char buf[4096];
		while (read(master, buf, sizeof buf) > 0)
			;
		usleep(20000);
	}
	tcflow(slave, TCOOFF);

	int status;
	while (waitpid(pid, &status, 0) < 0)
		;
	printf("%d\n", status);
	return 0;
}
