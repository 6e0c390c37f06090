/* The operations that are the same on every POSIX system. */
#include "platform/netif.h"

#include <netdb.h>
#include <sys/socket.h>

void pf_time(timeval *now)
{
	gettimeofday(now, nullptr);
}

int pf_hostname(struct in_addr addr, char *buf, size_t size)
{
	sockaddr_in sin{};

	sin.sin_family = AF_INET;
	sin.sin_addr = addr;
	/* NI_NAMEREQD: a bare number is no name; the caller shows "unknown hostname" */
	return getnameinfo(reinterpret_cast<sockaddr *>(&sin), sizeof sin, buf, size,
			   nullptr, 0, NI_NAMEREQD) == 0 ? 0 : -1;
}
