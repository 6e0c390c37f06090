/* The operations that are the same on every POSIX system. */
#include "platform/netif.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

int64_t pf_mono_ns()
{
	timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

time_t pf_wall()
{
	return time(nullptr);
}

/*
 * The resolver retries through signals and waits out its own time-outs, so
 * it runs in a child that the main loop waits for with everything else.
 */
pid_t pf_lookup(struct in_addr addr, int *fd, char **argv)
{
	pid_t parent = getpid();
	int p[2];

	if (pipe(p) < 0)
		return -1;
	fcntl(p[0], F_SETFD, FD_CLOEXEC);
	fcntl(p[0], F_SETFL, O_NONBLOCK);
	pid_t pid = fork();
	if (pid < 0) {
		int saved = errno;
		close(p[0]);
		close(p[1]);
		errno = saved;
		return -1;
	}
	if (pid == 0) {
		char name[NI_MAXHOST];
		sockaddr_in sin{};

		close(p[0]);
		signal(SIGPIPE, SIG_IGN);
		pf_set_name(argv, "ravlet-lookup");
		if (pf_die_with_parent(parent) < 0)
			_exit(1);
		sin.sin_family = AF_INET;
		sin.sin_addr = addr;
		/* NI_NAMEREQD: a bare number is no name */
		if (getnameinfo(reinterpret_cast<sockaddr *>(&sin), sizeof sin, name, sizeof name,
				nullptr, 0, NI_NAMEREQD) != 0)
			_exit(1);
		(void)!write(p[1], name, strnlen(name, sizeof name - 1));
		_exit(0);
	}
	close(p[1]);
	*fd = p[0];
	return pid;
}
