/*
 * FreeBSD: the counters and the change time from the interface's ifmib row
 * (one sysctl a second); the index, flags and addresses from the interface
 * requests by name, made in place on the entries of the list, and the IPv6
 * address from the routing sysctl filtered by index; the routing socket
 * announces when any of it changed.  SIOCGIFCONF would list every address
 * of the host, and a fixed buffer loses the interface's own on a large
 * one: the list holds the entries of the one interface asked for.
 */
#include "platform/netif.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <net/if_dl.h>
#include <net/if_mib.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/procctl.h>
#include <sys/socket.h>
#include <sys/sockio.h>
#include <sys/sysctl.h>
#include <sys/types.h>
#include <unistd.h>

const char pf_default_ifname[] = "lo0";
const char pf_optstring[] = "be:i:r:t:";
const char *const pf_capture_programs[] = {"/usr/sbin/tcpdump", nullptr};

int pf_ifcount(int *count)
{
	size_t len = sizeof *count;

	return sysctlbyname("net.link.generic.system.ifcount", count, &len, nullptr, 0);
}

int pf_die_with_parent(pid_t parent)
{
	int sig = SIGKILL;

	if (procctl(P_PID, 0, PROC_PDEATHSIG_CTL, &sig) < 0)
		return -1;
	/* a parent that died before the call gave us to init, and sends nothing */
	return getppid() == parent ? 0 : -1;
}

void pf_set_name(char **, const char *name)
{
	/* ps shows "ravlet: NAME" */
	setproctitle("%s", name);
}

/* ---- Announcements ---- */

int pf_watch()
{
	int fd = socket(PF_ROUTE, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, AF_UNSPEC);

	if (fd < 0)
		return -1;
#ifdef ROUTE_MSGFILTER
	/* routes come and go all the time on a busy host: only interfaces and addresses */
	unsigned filter = ROUTE_FILTER(RTM_IFINFO) | ROUTE_FILTER(RTM_NEWADDR) |
			  ROUTE_FILTER(RTM_DELADDR) | ROUTE_FILTER(RTM_IFANNOUNCE);
	setsockopt(fd, PF_ROUTE, ROUTE_MSGFILTER, &filter, sizeof filter);
#endif
	return fd;
}

static bool concerns(const char *msg, size_t len, int index, const char *ifname)
{
	auto *rtm = reinterpret_cast<const rt_msghdr *>(msg);

	switch (rtm->rtm_type) {
	case RTM_IFINFO:
		return len >= sizeof(if_msghdr) &&
		       reinterpret_cast<const if_msghdr *>(msg)->ifm_index == index;
	case RTM_NEWADDR:
	case RTM_DELADDR:
		return len >= sizeof(ifa_msghdr) &&
		       reinterpret_cast<const ifa_msghdr *>(msg)->ifam_index == index;
	case RTM_IFANNOUNCE: {
		if (len < sizeof(if_announcemsghdr))
			return false;
		auto *ifan = reinterpret_cast<const if_announcemsghdr *>(msg);
		/* only while ours is missing can another take its name */
		return ifan->ifan_index == index ||
		       (index == 0 && strncmp(ifan->ifan_name, ifname, IFNAMSIZ) == 0);
	}
	default:
		return false;
	}
}

int pf_notice(int fd, int index, const char *ifname)
{
	alignas(rt_msghdr) static char buf[8192];
	int result = 0;

	for (;;) {
		ssize_t n = read(fd, buf, sizeof buf);
		if (n < 0) {
			if (errno == EAGAIN || errno == EWOULDBLOCK)
				return result;
			if (errno == ENOBUFS) {
				result = 1;	/* some were lost: read ours again */
				continue;
			}
			return -1;
		}
		/* one message per read on a routing socket */
		if (n >= static_cast<ssize_t>(sizeof(rt_msghdr)) && concerns(buf, n, index, ifname))
			result = 1;
	}
}

/* ---- The configuration ---- */

static void put_entry(char *buf, int size, int *used, const char *name, const void *sa, int len)
{
	int esize = 16 + (len > 16 ? len : 16);

	if (*used + esize > size)
		return;
	char *e = buf + *used;
	memset(e, 0, esize);
	strlcpy(e, name, IFNAME_SIZE);
	memcpy(e + 16, sa, len);
	*used += esize;
}

/* Sockaddrs in routing messages are padded to longs. */
static size_t sa_room(const sockaddr *sa)
{
	return sa->sa_len ? 1 + ((sa->sa_len - 1) | (sizeof(long) - 1)) : sizeof(long);
}

/*
 * The interface's first IPv6 address, global before link-local, from the
 * routing sysctl for its index alone.
 */
static bool first_inet6(int index, sockaddr_in6 *out)
{
	int mib[6] = {CTL_NET, PF_ROUTE, 0, AF_INET6, NET_RT_IFLIST, index};
	alignas(long) static char buf[16384];
	size_t len = sizeof buf;
	int rank = 0;

	if (sysctl(mib, 6, buf, &len, nullptr, 0) < 0)
		return false;
	for (size_t off = 0; off + sizeof(ifa_msghdr) <= len;) {
		auto *ifam = reinterpret_cast<ifa_msghdr *>(buf + off);
		if (ifam->ifam_msglen == 0 || off + ifam->ifam_msglen > len)
			break;
		size_t next = off + ifam->ifam_msglen;
		if (ifam->ifam_type == RTM_NEWADDR) {
			char *p = buf + off + sizeof *ifam;
			for (int i = 0; i < RTAX_MAX && p < buf + next; i++) {
				if (!(ifam->ifam_addrs & (1 << i)))
					continue;
				auto *sa = reinterpret_cast<sockaddr *>(p);
				if (i == RTAX_IFA && sa->sa_family == AF_INET6 &&
				    sa->sa_len >= sizeof(sockaddr_in6)) {
					sockaddr_in6 sin6;
					memcpy(&sin6, sa, sizeof sin6);
					int r = IN6_IS_ADDR_LINKLOCAL(&sin6.sin6_addr) ? 1 : 2;
					if (r > rank) {
						/* the kernel's scope id, embedded in the address */
						if (r == 1)
							sin6.sin6_addr.s6_addr[2] = sin6.sin6_addr.s6_addr[3] = 0;
						*out = sin6;
						rank = r;
					}
				}
				p += sa_room(sa);
			}
		}
		off = next;
	}
	return rank > 0;
}

/* The link entry (a sockaddr_dl with the index), the IPv4 entry, the IPv6 entry. */
int pf_getconf(int sock, const char *ifname, char *buf, int size)
{
	ifreq ifr;
	int used = 0;

	memset(&ifr, 0, sizeof ifr);
	strlcpy(ifr.ifr_name, ifname, sizeof ifr.ifr_name);
	if (ioctl(sock, SIOCGIFINDEX, &ifr) < 0)
		return errno == ENXIO || errno == EINVAL ? 0 : -1;
	int index = ifr.ifr_index;
	sockaddr_dl sdl;
	memset(&sdl, 0, sizeof sdl);
	sdl.sdl_len = sizeof sdl;
	sdl.sdl_family = AF_LINK;
	sdl.sdl_index = index;
	put_entry(buf, size, &used, ifname, &sdl, sizeof sdl);

	memset(&ifr, 0, sizeof ifr);
	strlcpy(ifr.ifr_name, ifname, sizeof ifr.ifr_name);
	ifr.ifr_addr.sa_family = AF_INET;
	ifr.ifr_addr.sa_len = sizeof(sockaddr_in);
	if (ioctl(sock, SIOCGIFADDR, &ifr) == 0)
		put_entry(buf, size, &used, ifname, &ifr.ifr_addr, sizeof(sockaddr_in));
	else if (errno != EADDRNOTAVAIL && errno != ENXIO && errno != EINVAL)
		return -1;

	sockaddr_in6 sin6;
	if (first_inet6(index, &sin6))
		put_entry(buf, size, &used, ifname, &sin6, sizeof sin6);
	return used;
}

/* Rows are interface indexes: asked of the interface socket, never of the whole host. */
int pf_row_of(int sock, const char *ifname)
{
	ifreq ifr;

	memset(&ifr, 0, sizeof ifr);
	strlcpy(ifr.ifr_name, ifname, sizeof ifr.ifr_name);
	if (ioctl(sock, SIOCGIFINDEX, &ifr) < 0)
		return -1;
	return ifr.ifr_index;
}

int pf_flags(int sock, char *entry, unsigned *flags)
{
	ifreq *ifr = reinterpret_cast<ifreq *>(entry);

	if (ioctl(sock, SIOCGIFFLAGS, ifr) < 0)
		return -1;
	*flags = (ifr->ifr_flags & 0xffff) | (ifr->ifr_flagshigh << 16);
	return 0;
}

/* FreeBSD says EINVAL for an address the interface's kind has not: none. */
static int addr_ioctl(int sock, unsigned long req, char *entry, in_addr *addr)
{
	ifreq *ifr = reinterpret_cast<ifreq *>(entry);

	if (ioctl(sock, req, ifr) < 0) {
		if (errno == EINVAL)
			errno = EADDRNOTAVAIL;
		return -1;
	}
	sockaddr_in sin;
	memcpy(&sin, &ifr->ifr_addr, sizeof sin);
	*addr = sin.sin_addr;
	return 0;
}

int pf_dstaddr(int sock, char *entry, in_addr *addr)
{
	return addr_ioctl(sock, SIOCGIFDSTADDR, entry, addr);
}

int pf_brdaddr(int sock, char *entry, in_addr *addr)
{
	return addr_ioctl(sock, SIOCGIFBRDADDR, entry, addr);
}

/* ifi_lastchange is the kernel's own: a step of the wall clock leaves it be. */
int pf_row(int row, if_row *out)
{
	int name[6] = {CTL_NET, PF_LINK, NETLINK_GENERIC, IFMIB_IFDATA, row, IFDATA_GENERAL};
	ifmibdata md;
	size_t len = sizeof md;

	if (sysctl(name, 6, &md, &len, nullptr, 0) < 0)
		return -1;
	memset(out->name, 0, sizeof out->name);
	strlcpy(out->name, md.ifmd_name, sizeof out->name);
	out->flags = md.ifmd_flags;
	out->ibytes = md.ifmd_data.ifi_ibytes;
	out->obytes = md.ifmd_data.ifi_obytes;
	out->ipackets = md.ifmd_data.ifi_ipackets;
	out->opackets = md.ifmd_data.ifi_opackets;
	out->lastchange = md.ifmd_data.ifi_lastchange.tv_sec;
	return 0;
}
