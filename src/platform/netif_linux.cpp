/*
 * Linux: everything comes from rtnetlink, in fixed buffers, so that a sample
 * allocates nothing and sees the process's own network namespace (sysfs shows
 * the namespace it was mounted in).  Flags and addresses use the classic
 * interface requests, which Linux answers by name.
 */
#include "platform/netif.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/times.h>
#include <unistd.h>

const char pf_default_ifname[] = "lo";
/* "+": glibc's getopt would otherwise reorder the arguments. */
const char pf_optstring[] = "+be:i:r:t:";
const char *const pf_capture_programs[] = {"/usr/sbin/tcpdump", "/usr/bin/tcpdump", nullptr};

/* A dump reply comes in chunks of up to 32 KiB; a message never spans two. */
constexpr size_t NL_BUF_SIZE = 65536;

static int nl_sock = -1;
static unsigned nl_seq;
alignas(nlmsghdr) static char nl_buf[NL_BUF_SIZE];
static char *nl_pos;
static long nl_left;
static bool nl_done;
static int nl_error;

static int nl_request(int type, int flags, int index)
{
	struct {
		nlmsghdr nh;
		ifinfomsg ifi;
	} req{};

	if (nl_sock < 0) {
		nl_sock = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
		if (nl_sock < 0)
			return -1;
	}
	req.nh.nlmsg_len = sizeof req;
	req.nh.nlmsg_type = type;
	req.nh.nlmsg_flags = NLM_F_REQUEST | flags;
	req.nh.nlmsg_seq = ++nl_seq;
	req.ifi.ifi_family = AF_UNSPEC;
	req.ifi.ifi_index = index;
	nl_left = 0;
	nl_done = false;
	nl_error = 0;
	if (send(nl_sock, &req, sizeof req, 0) < 0)
		return -1;
	return 0;
}

/* The next reply message of the current request; null at its end or on error. */
static nlmsghdr *nl_next()
{
	while (!nl_done) {
		if (nl_left <= 0) {
			/* EINTR too: a signal must not wait for a busy kernel */
			ssize_t n = recv(nl_sock, nl_buf, sizeof nl_buf, 0);
			if (n <= 0) {
				nl_error = n < 0 ? errno : EIO;
				nl_done = true;
				break;
			}
			nl_pos = nl_buf;
			nl_left = n;
		}
		nlmsghdr *h = reinterpret_cast<nlmsghdr *>(nl_pos);
		if (!NLMSG_OK(h, nl_left)) {
			nl_left = 0;
			continue;
		}
		nl_pos += NLMSG_ALIGN(h->nlmsg_len);
		nl_left -= NLMSG_ALIGN(h->nlmsg_len);
		if (h->nlmsg_seq != nl_seq)
			continue;		/* left over from an earlier request */
		if (h->nlmsg_type == NLMSG_DONE) {
			nl_done = true;
			break;
		}
		if (h->nlmsg_type == NLMSG_ERROR) {
			auto *e = static_cast<nlmsgerr *>(NLMSG_DATA(h));
			nl_error = e->error ? -e->error : 0;
			nl_done = true;
			break;
		}
		if (!(h->nlmsg_flags & NLM_F_MULTI))
			nl_done = true;	/* a single answer has no end marker */
		return h;
	}
	if (nl_error)
		errno = nl_error;
	return nullptr;
}

int pf_ifcount(int *count)
{
	int highest = 0;

	if (nl_request(RTM_GETLINK, NLM_F_DUMP, 0) < 0)
		return -1;
	while (nlmsghdr *h = nl_next()) {
		if (h->nlmsg_type != RTM_NEWLINK)
			continue;
		auto *ifi = static_cast<ifinfomsg *>(NLMSG_DATA(h));
		if (ifi->ifi_index > highest)
			highest = ifi->ifi_index;
	}
	if (nl_error)
		return -1;
	*count = highest;
	return 0;
}

/* Appends one entry if it fits whole; the socket address is len bytes. */
static bool put_entry(char *buf, int size, int *used, const char *name,
		      const unsigned char *sa, int len)
{
	int esize = 16 + (len > 16 ? len : 16);

	if (*used + esize > size)
		return false;
	char *e = buf + *used;
	memset(e, 0, esize);
	strncpy(e, name, IFNAME_SIZE - 1);
	memcpy(e + 16, sa, len);
	*used += esize;
	return true;
}

/* The name of the link entry with this index among those already written. */
static const char *link_name(const char *buf, int used, int index)
{
	for (int off = 0; off + 20 <= used;) {
		const char *e = buf + off;
		int len = static_cast<unsigned char>(e[16]);
		if (e[17] == AF_PACKET && (static_cast<unsigned char>(e[18]) |
		    static_cast<unsigned char>(e[19]) << 8) == index)
			return e;
		off += 16 + (len > 16 ? len : 16);
	}
	return nullptr;
}

/*
 * Link entries first, then the addresses, as getifaddrs() orders them.  The
 * link-level address is laid out like BSD's sockaddr_dl: length, family,
 * index, type, name length, address length, selector length, name, address.
 */
int pf_getconf(int, char *buf, int size)
{
	int used = 0;
	bool full = false;

	if (nl_request(RTM_GETLINK, NLM_F_DUMP, 0) < 0)
		return -1;
	while (nlmsghdr *h = nl_next()) {
		if (h->nlmsg_type != RTM_NEWLINK || full)
			continue;
		auto *ifi = static_cast<ifinfomsg *>(NLMSG_DATA(h));
		const char *name = "";
		const unsigned char *hw = nullptr;
		int hwlen = 0;
		int alen = IFLA_PAYLOAD(h);
		for (rtattr *a = IFLA_RTA(ifi); RTA_OK(a, alen); a = RTA_NEXT(a, alen)) {
			if (a->rta_type == IFLA_IFNAME)
				name = static_cast<const char *>(RTA_DATA(a));
			else if (a->rta_type == IFLA_ADDRESS) {
				hw = static_cast<const unsigned char *>(RTA_DATA(a));
				hwlen = RTA_PAYLOAD(a);
			}
		}
		unsigned char sa[8 + IFNAME_SIZE + 32] = {};
		int nlen = strnlen(name, IFNAME_SIZE - 1);
		if (hwlen > 32)
			hwlen = 32;
		sa[0] = 8 + nlen + hwlen;
		sa[1] = AF_PACKET;
		sa[2] = ifi->ifi_index & 0xff;
		sa[3] = (ifi->ifi_index >> 8) & 0xff;
		sa[4] = ifi->ifi_type & 0xff;
		sa[5] = nlen;
		sa[6] = hwlen;
		memcpy(sa + 8, name, nlen);
		if (hw)
			memcpy(sa + 8 + nlen, hw, hwlen);
		full = !put_entry(buf, size, &used, name, sa, sa[0]);
	}
	if (nl_error)
		return -1;

	if (nl_request(RTM_GETADDR, NLM_F_DUMP, 0) < 0)
		return -1;
	while (nlmsghdr *h = nl_next()) {
		if (h->nlmsg_type != RTM_NEWADDR || full)
			continue;
		auto *ifa = static_cast<ifaddrmsg *>(NLMSG_DATA(h));
		const char *label = nullptr;
		const void *local = nullptr, *address = nullptr;
		int alen = IFA_PAYLOAD(h);
		for (rtattr *a = IFA_RTA(ifa); RTA_OK(a, alen); a = RTA_NEXT(a, alen)) {
			if (a->rta_type == IFA_LABEL)
				label = static_cast<const char *>(RTA_DATA(a));
			else if (a->rta_type == IFA_LOCAL)
				local = RTA_DATA(a);
			else if (a->rta_type == IFA_ADDRESS)
				address = RTA_DATA(a);
		}
		/* On a point-to-point link IFA_ADDRESS is the peer. */
		const void *own = local ? local : address;
		const char *name = label ? label : link_name(buf, used, ifa->ifa_index);
		if (!own || !name)
			continue;
		unsigned char sa[28] = {};
		if (ifa->ifa_family == AF_INET) {
			sa[0] = 16;
			sa[1] = AF_INET;
			memcpy(sa + 4, own, 4);
		} else if (ifa->ifa_family == AF_INET6) {
			sa[0] = 28;
			sa[1] = AF_INET6;
			memcpy(sa + 8, own, 16);
			uint32_t scope = ifa->ifa_scope == RT_SCOPE_LINK ? ifa->ifa_index : 0;
			memcpy(sa + 24, &scope, 4);
		} else
			continue;
		full = !put_entry(buf, size, &used, name, sa, sa[0]);
	}
	if (nl_error)
		return -1;
	return used;
}

int pf_die_with_parent(pid_t parent)
{
	if (prctl(PR_SET_PDEATHSIG, SIGKILL) < 0)
		return -1;
	/* a parent that died before the call gave us to init, and sends nothing */
	return getppid() == parent ? 0 : -1;
}

static int ifreq_ioctl(int sock, unsigned long req, const char *entry, ifreq *ifr)
{
	memset(ifr, 0, sizeof *ifr);
	memcpy(ifr->ifr_name, entry, IFNAMSIZ - 1);
	return ioctl(sock, req, ifr);
}

int pf_flags(int sock, char *entry, unsigned *flags)
{
	ifreq ifr;

	if (ifreq_ioctl(sock, SIOCGIFFLAGS, entry, &ifr) < 0)
		return -1;
	*flags = static_cast<unsigned short>(ifr.ifr_flags);
	return 0;
}

static int addr_ioctl(int sock, unsigned long req, const char *entry, in_addr *addr)
{
	ifreq ifr;

	if (ifreq_ioctl(sock, req, entry, &ifr) < 0)
		return -1;
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

static int64_t clock_cs(clockid_t id)
{
	timespec ts;
	clock_gettime(id, &ts);
	return int64_t(ts.tv_sec) * 100 + ts.tv_nsec / 10000000;
}

/*
 * Linux keeps no time of the last administrative change.  The IPv6 device
 * stamp moves on every up and down, so it is the nearest real figure.  It
 * counts centiseconds of the jiffies clock, which runs a fraction of a
 * second behind the monotonic one.  times() counts the same jiffies from
 * 2^32 / HZ - 300 seconds earlier (times(2)).  HZ is not published, but the
 * possible starts lie days apart, so the one that puts jiffies near the
 * monotonic clock is the one.
 */
static int64_t jiffies_cs()
{
	int64_t mono = clock_cs(CLOCK_MONOTONIC);
	tms unused;
	int64_t ticks = int64_t(times(&unused)) * 100 / sysconf(_SC_CLK_TCK);

	static constexpr int64_t hz_values[] = {100, 250, 300, 1000};

	for (int64_t hz : hz_values) {
		int64_t up = ticks - ((int64_t(1) << 32) * 100 / hz - 30000);
		if (up > mono - 6000 && up < mono + 6000)
			return up;
	}
	return mono;
}

/*
 * Boot, as the stamp counts from it, in centiseconds of wall-clock time.
 * Taken once: recomputing it each sample would let the result jitter
 * across a second boundary.
 */
static int64_t boot_cs()
{
	static int64_t boot;

	if (!boot)
		boot = clock_cs(CLOCK_REALTIME) - jiffies_cs();
	return boot;
}

/*
 * The stamp is 32 bits of centiseconds and wraps every 497 days of uptime:
 * take the latest time since boot that ends in those 32 bits.
 */
static time_t stamp_time(uint32_t cs)
{
	int64_t up = clock_cs(CLOCK_MONOTONIC);
	int64_t t = cs;

	if (up - t >= (int64_t(1) << 32))
		t += (up - t) >> 32 << 32;
	return (boot_cs() + t) / 100;
}

static time_t inet6_stamp(rtattr *af_spec)
{
	int len = RTA_PAYLOAD(af_spec);

	for (rtattr *af = static_cast<rtattr *>(RTA_DATA(af_spec)); RTA_OK(af, len);
	     af = RTA_NEXT(af, len)) {
		if (af->rta_type != AF_INET6)
			continue;
		int ilen = RTA_PAYLOAD(af);
		for (rtattr *a = static_cast<rtattr *>(RTA_DATA(af)); RTA_OK(a, ilen);
		     a = RTA_NEXT(a, ilen)) {
			if (a->rta_type != IFLA_INET6_CACHEINFO ||
			    RTA_PAYLOAD(a) < sizeof(ifla_cacheinfo))
				continue;
			ifla_cacheinfo ci;
			memcpy(&ci, RTA_DATA(a), sizeof ci);
			return stamp_time(ci.tstamp);
		}
	}
	return 0;
}

int pf_row(int row, if_row *out)
{
	if (nl_request(RTM_GETLINK, 0, row) < 0)
		return -1;
	nlmsghdr *h = nl_next();
	if (!h || h->nlmsg_type != RTM_NEWLINK)
		return -1;

	if_row r{};
	bool have_stats = false;
	auto *ifi = static_cast<ifinfomsg *>(NLMSG_DATA(h));
	int alen = IFLA_PAYLOAD(h);
	for (rtattr *a = IFLA_RTA(ifi); RTA_OK(a, alen); a = RTA_NEXT(a, alen)) {
		switch (a->rta_type) {
		case IFLA_IFNAME:
			strncpy(r.name, static_cast<const char *>(RTA_DATA(a)), IFNAME_SIZE - 1);
			break;
		case IFLA_STATS64:
			if (RTA_PAYLOAD(a) >= sizeof(rtnl_link_stats64)) {
				/* only 4-byte aligned inside the message */
				rtnl_link_stats64 s;
				memcpy(&s, RTA_DATA(a), sizeof s);
				r.ipackets = s.rx_packets;
				r.opackets = s.tx_packets;
				r.ibytes = s.rx_bytes;
				r.obytes = s.tx_bytes;
				have_stats = true;
			}
			break;
		case IFLA_AF_SPEC:
			r.lastchange = inet6_stamp(a);
			break;
		}
	}
	if (!have_stats) {
		errno = ENODATA;
		return -1;
	}
	*out = r;
	return 0;
}
