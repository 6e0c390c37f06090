/* The operations that are the same on every POSIX system. */
#include "platform/netif.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

void pf_time(timeval *now)
{
	gettimeofday(now, nullptr);
}

static int lookup(struct in_addr addr, char *buf, size_t size)
{
	sockaddr_in sin{};

	sin.sin_family = AF_INET;
	sin.sin_addr = addr;
	/* NI_NAMEREQD: a bare number is no name; the caller shows "unknown hostname" */
	return getnameinfo(reinterpret_cast<sockaddr *>(&sin), sizeof sin, buf, size,
			   nullptr, 0, NI_NAMEREQD) == 0 ? 0 : -1;
}

static void reap(pid_t pid, bool kill_it)
{
	if (kill_it)
		kill(pid, SIGKILL);
	while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR)
		;
}

/*
 * The resolver retries through signals and waits out its own time-outs, so
 * it runs in a child that we can leave: the name comes back on a pipe.
 */
int pf_hostname(struct in_addr addr, char *buf, size_t size, int wake)
{
	pid_t parent = getpid();
	int fd[2];

	if (size == 0 || pipe(fd) < 0)
		return -1;
	fcntl(fd[0], F_SETFD, FD_CLOEXEC);
	fcntl(fd[1], F_SETFD, FD_CLOEXEC);
	pid_t pid = fork();
	if (pid < 0) {
		close(fd[0]);
		close(fd[1]);
		return -1;
	}
	if (pid == 0) {
		char name[NI_MAXHOST];
		signal(SIGPIPE, SIG_IGN);
		if (pf_die_with_parent(parent) < 0 || lookup(addr, name, sizeof name) < 0)
			_exit(1);
		(void)!write(fd[1], name, strnlen(name, sizeof name));
		_exit(0);
	}
	close(fd[1]);

	size_t got = 0;
	for (;;) {
		fd_set readable;
		FD_ZERO(&readable);
		FD_SET(fd[0], &readable);
		if (wake >= 0)
			FD_SET(wake, &readable);
		int n = select((fd[0] > wake ? fd[0] : wake) + 1, &readable, nullptr, nullptr,
			       nullptr);
		if (n < 0 && errno != EINTR)
			break;
		if (n < 0 || (wake >= 0 && FD_ISSET(wake, &readable))) {
			close(fd[0]);
			reap(pid, true);
			errno = EINTR;
			return -1;
		}
		ssize_t r = read(fd[0], buf + got, size - 1 - got);
		if (r < 0 && errno == EINTR)
			continue;
		if (r <= 0 || (got += r) == size - 1)
			break;
	}
	close(fd[0]);
	reap(pid, false);
	buf[got] = '\0';
	return got > 0 ? 0 : -1;
}
