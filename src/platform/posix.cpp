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

int pf_child_fds(int fd)
{
	/* above 3 first: /dev/null may open at 3, or fd be one of 0..3 */
	int keep = fd >= 0 ? fcntl(fd, F_DUPFD, 4) : -1;
	int nul = open("/dev/null", O_RDWR);

	for (int i = 0; i <= 2; i++)
		if (nul >= 0 && nul != i)
			dup2(nul, i);
	if (keep >= 0)
		dup2(keep, 3);
	closefrom(keep >= 0 ? 4 : 3);
	return keep >= 0 ? 3 : -1;
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

		signal(SIGPIPE, SIG_IGN);
		pf_set_name(argv, "ravlet-lookup");
		if (pf_die_with_parent(parent) < 0)
			_exit(1);
		/* nothing of ours or of a background starter, whose wait it would hold */
		int out = pf_child_fds(p[1]);
		sin.sin_family = AF_INET;
		sin.sin_addr = addr;
		/* NI_NAMEREQD: a bare number is no name */
		if (getnameinfo(reinterpret_cast<sockaddr *>(&sin), sizeof sin, name, sizeof name,
				nullptr, 0, NI_NAMEREQD) != 0)
			_exit(1);
		(void)!write(out, name, strnlen(name, sizeof name - 1));
		_exit(0);
	}
	close(p[1]);
	*fd = p[0];
	return pid;
}
