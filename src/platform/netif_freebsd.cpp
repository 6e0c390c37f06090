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
#include "platform/lastchange.h"
#include "platform/rtmsg.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
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
const unsigned pf_unkept = 0;
const char pf_optstring[] = "abc:de:gi:o:r:t:u:w:";
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
	/* "-": the name alone, not "ravlet: NAME"; ps -o comm still says ravlet */
	setproctitle("-%s", name);
}

/* ---- Announcements ---- */

/* The walk reads FreeBSD's own layouts: a constant that drifts fails the build. */
static_assert(RTM_VERSION == RT_VERSION);
static_assert(RTM_NEWADDR == RT_NEWADDR && RTM_DELADDR == RT_DELADDR);
static_assert(RTM_IFINFO == RT_IFINFO && RTM_IFANNOUNCE == RT_IFANNOUNCE);
static_assert(offsetof(rt_msghdr, rtm_msglen) == RT_MSGLEN_AT &&
	      offsetof(rt_msghdr, rtm_version) == RT_VERSION_AT &&
	      offsetof(rt_msghdr, rtm_type) == RT_TYPE_AT);
static_assert(offsetof(if_msghdr, ifm_flags) == IFM_FLAGS_AT &&
	      offsetof(if_msghdr, ifm_index) == IFM_INDEX_AT &&
	      offsetof(if_msghdr, ifm_data) == IFM_DATA_AT && sizeof(if_msghdr) == IFM_SIZE);
static_assert(IFM_DATA_AT + offsetof(if_data, __ifi_lastchange) == IFM_CHANGE_AT &&
	      sizeof(timeval::tv_sec) == 8 && sizeof(timeval::tv_usec) == 8);
static_assert(offsetof(ifa_msghdr, ifam_addrs) == IFAM_ADDRS_AT &&
	      offsetof(ifa_msghdr, ifam_index) == IFAM_INDEX_AT && sizeof(ifa_msghdr) == IFAM_SIZE);
static_assert(offsetof(if_announcemsghdr, ifan_index) == IFAN_INDEX_AT &&
	      offsetof(if_announcemsghdr, ifan_name) == IFAN_NAME_AT &&
	      offsetof(if_announcemsghdr, ifan_what) == IFAN_WHAT_AT &&
	      sizeof(if_announcemsghdr) == IFAN_SIZE && IFNAMSIZ == IFNAME_SIZE);
static_assert(IFAN_ARRIVAL == RT_ARRIVAL && IFAN_DEPARTURE == RT_DEPARTURE);
static_assert(RTAX_NETMASK == RT_AX_NETMASK && RTAX_IFP == RT_AX_IFP && RTAX_IFA == RT_AX_IFA &&
	      RTAX_BRD == RT_AX_BRD && RTAX_MAX == RT_AX_MAX);
static_assert(offsetof(if_msghdr, ifm_addrs) == IFM_ADDRS_AT &&
	      offsetof(if_data, ifi_ipackets) == IFD_IPACKETS_AT &&
	      offsetof(if_data, ifi_ierrors) == IFD_IERRORS_AT &&
	      offsetof(if_data, ifi_opackets) == IFD_OPACKETS_AT &&
	      offsetof(if_data, ifi_oerrors) == IFD_OERRORS_AT &&
	      offsetof(if_data, ifi_collisions) == IFD_COLLISIONS_AT &&
	      offsetof(if_data, ifi_ibytes) == IFD_IBYTES_AT &&
	      offsetof(if_data, ifi_obytes) == IFD_OBYTES_AT &&
	      offsetof(if_data, ifi_imcasts) == IFD_IMCASTS_AT &&
	      offsetof(if_data, ifi_omcasts) == IFD_OMCASTS_AT &&
	      offsetof(if_data, ifi_iqdrops) == IFD_IQDROPS_AT &&
	      offsetof(if_data, ifi_oqdrops) == IFD_OQDROPS_AT);
static_assert(offsetof(sockaddr_dl, sdl_nlen) == SDL_NLEN_AT &&
	      offsetof(sockaddr_dl, sdl_data) == SDL_DATA_AT && AF_INET == 2);
/* SA_SIZE in <net/route.h> pads to a long */
static_assert(sizeof(long) == RT_SA_ALIGN);

/*
 * The routing socket has no filter on FreeBSD 14 (ROUTE_MSGFILTER is
 * OpenBSD's): every route a router learns arrives here too, and is let go
 * after a look at its type.  A burst would be dropped without a word, so
 * the socket keeps room for one and reports an overrun (SO_RERROR, then a
 * read fails with ENOBUFS) rather than losing ours silently.
 */
constexpr int ROUTE_RCVBUF = 256 * 1024;

int pf_watch()
{
	int fd = socket(PF_ROUTE, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, AF_UNSPEC);
	int on = 1, size = ROUTE_RCVBUF;

	if (fd < 0)
		return -1;
	setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
	setsockopt(fd, SOL_SOCKET, SO_RERROR, &on, sizeof on);
	return fd;
}

/* The change record of the interface whose row was read last (lastchange.h). */
static if_change chg;

int pf_notice(int fd, int index, const char *ifname)
{
	alignas(rt_msghdr) static unsigned char buf[8192];
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
		/* one message per read on a routing socket; a cut one is let go */
		rt_msg m;
		if (rt_next(buf, n, &m) == 0 || !rt_concerns(m, index, ifname))
			continue;
		if (m.type == RT_IFINFO && index == chg.index)
			chg_message(&chg, m.flags, m.change_s, m.change_us);
		/* the index is free: the next interface may get it at once */
		if (m.type == RT_IFANNOUNCE && m.what == RT_DEPARTURE && m.index == chg.index)
			chg = if_change{};
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

/*
 * The interface's addresses as the routing sysctl lists them for its index
 * alone.  The list grows with the addresses, so the buffer is sized by the
 * kernel: asked first, and grown whenever it is too small (on a change of
 * the configuration, never in an idle second).
 */
static unsigned char *list_buf;
static size_t list_size;

static ssize_t read_iflist(int family, int index)
{
	int mib[6] = {CTL_NET, PF_ROUTE, 0, family, NET_RT_IFLIST, index};

	for (int tries = 0; tries < 4; tries++) {
		size_t len = list_size;
		if (list_buf && sysctl(mib, 6, list_buf, &len, nullptr, 0) == 0)
			return static_cast<ssize_t>(len);
		if (list_buf && errno != ENOMEM)
			return -1;
		/* the size it takes now, and room for a few more addresses by the next call */
		if (sysctl(mib, 6, nullptr, &len, nullptr, 0) < 0)
			return -1;
		len += len / 4 + 1024;
		void *p = realloc(list_buf, len);
		if (!p)
			return -1;
		list_buf = static_cast<unsigned char *>(p);
		list_size = len;
	}
	errno = ENOMEM;
	return -1;
}

/* The interface's first IPv6 address, global before link-local. */
static bool first_inet6(int index, sockaddr_in6 *out)
{
	ssize_t len = read_iflist(AF_INET6, index);
	int rank = 0;
	rt_msg m;

	for (size_t off = 0, k; len > 0 && (k = rt_next(list_buf + off, len - off, &m)) != 0;
	     off += k) {
		size_t salen;
		const unsigned char *sa = m.type == RT_NEWADDR ? rt_addr(m, RT_AX_IFA, &salen) : nullptr;
		if (!sa || m.index != index || sa[1] != AF_INET6 || salen < sizeof(sockaddr_in6))
			continue;
		sockaddr_in6 sin6;
		memcpy(&sin6, sa, sizeof sin6);
		int r = IN6_IS_ADDR_LINKLOCAL(&sin6.sin6_addr) ? 1 : 2;
		if (r > rank) {
			/* the kernel takes the scope it embeds out of a link-local address before it sends it */
			*out = sin6;
			rank = r;
		}
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

/*
 * The entries of the list are not aligned for an ifreq (the IPv4 entry
 * stands at byte 70, after a link address of 54): every request is made on
 * a copy.  An entry is at least as long as an ifreq (16 + 16).
 */
static_assert(sizeof(ifreq) == 32);

int pf_flags(int sock, char *entry, unsigned *flags)
{
	ifreq ifr;

	memcpy(&ifr, entry, sizeof ifr);
	if (ioctl(sock, SIOCGIFFLAGS, &ifr) < 0)
		return -1;
	*flags = (ifr.ifr_flags & 0xffff) | (ifr.ifr_flagshigh << 16);
	return 0;
}

/* FreeBSD says EINVAL for an address the interface's kind has not: none. */
static int addr_ioctl(int sock, unsigned long req, char *entry, in_addr *addr)
{
	ifreq ifr;

	memcpy(&ifr, entry, sizeof ifr);
	if (ioctl(sock, req, &ifr) < 0) {
		if (errno == EINVAL)
			errno = EADDRNOTAVAIL;
		return -1;
	}
	sockaddr_in sin;
	memcpy(&sin, &ifr.ifr_addr, sizeof sin);
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
	out->ierrors = md.ifmd_data.ifi_ierrors;
	out->oerrors = md.ifmd_data.ifi_oerrors;
	out->idrops = md.ifmd_data.ifi_iqdrops;
	out->odrops = md.ifmd_data.ifi_oqdrops;
	out->imcasts = md.ifmd_data.ifi_imcasts;
	out->omcasts = md.ifmd_data.ifi_omcasts;
	out->collisions = md.ifmd_data.ifi_collisions;
	out->reread = chg_row(&chg, row, out->name, md.ifmd_flags, md.ifmd_data.ifi_lastchange.tv_sec,
			      md.ifmd_data.ifi_lastchange.tv_usec);
	out->lastchange = chg.last;
	out->prevchange = chg.prev;
	out->changes = chg.changes;
	return 0;
}

/* Every interface and its IPv4 addresses in one sysctl; the walk is common code. */
int pf_list(if_entry *out, int max)
{
	ssize_t len = read_iflist(AF_INET, 0);

	if (len < 0)
		return -1;
	return rt_list(list_buf, len, out, max);
}

/* Nothing is kept between listings: the sysctl is one request whatever changed. */
void pf_list_done()
{
}
