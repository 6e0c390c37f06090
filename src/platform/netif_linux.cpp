/*
 * Linux: one rtnetlink request for the named link carries its index, flags,
 * counters and change stamp; the first IPv4 address and the broadcast or
 * peer address come from the classic interface requests, which Linux
 * answers by name.  Nothing is asked about other interfaces, so a sample
 * costs the same on a host with a thousand of them.  Fixed buffers, so that
 * a sample allocates nothing; netlink sees the process's own network
 * namespace (sysfs shows the namespace it was mounted in).
 */
#include "platform/netif.h"
#include "platform/stamp.h"

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

/* A link request, by index or (index 0) by name. */
static int nl_request(int type, int flags, int index, const char *name = nullptr)
{
	struct {
		nlmsghdr nh;
		ifinfomsg ifi;
		rtattr name_attr;
		char name[IFNAME_SIZE];
	} req{};

	if (nl_sock < 0) {
		nl_sock = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
		if (nl_sock < 0)
			return -1;
	}
	req.nh.nlmsg_len = NLMSG_LENGTH(sizeof req.ifi);
	if (name) {
		size_t n = strnlen(name, IFNAME_SIZE - 1);
		req.name_attr.rta_type = IFLA_IFNAME;
		req.name_attr.rta_len = RTA_LENGTH(n + 1);
		memcpy(req.name, name, n);
		req.nh.nlmsg_len = NLMSG_ALIGN(req.nh.nlmsg_len) + RTA_ALIGN(req.name_attr.rta_len);
	}
	req.nh.nlmsg_type = type;
	req.nh.nlmsg_flags = NLM_F_REQUEST | flags;
	req.nh.nlmsg_seq = ++nl_seq;
	req.ifi.ifi_family = AF_UNSPEC;
	req.ifi.ifi_index = index;
	nl_left = 0;
	nl_done = false;
	nl_error = 0;
	if (send(nl_sock, &req, req.nh.nlmsg_len, 0) < 0)
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

int pf_die_with_parent(pid_t parent)
{
	if (prctl(PR_SET_PDEATHSIG, SIGKILL) < 0)
		return -1;
	/* a parent that died before the call gave us to init, and sends nothing */
	return getppid() == parent ? 0 : -1;
}

static stamp_clock stamp_clk;

/*
 * How far the jiffies clock, which the stamp counts, runs behind the
 * monotonic one; taken once.  times() counts the same jiffies from
 * 2^32 / HZ - 300 seconds earlier (times(2)).  HZ is not published, but the
 * possible starts lie days apart, so the one that puts jiffies near the
 * monotonic clock is the one.
 */
static int64_t jiffies_lag_ns(int64_t mono_ns)
{
	tms unused;
	int64_t ticks = int64_t(times(&unused)) * 100 / sysconf(_SC_CLK_TCK);
	static constexpr int64_t hz_values[] = {100, 250, 300, 1000};

	for (int64_t hz : hz_values) {
		int64_t up_ns = (ticks - ((int64_t(1) << 32) * 100 / hz - 30000)) * 10000000;
		if (up_ns > mono_ns - 60 * int64_t(1000000000) && up_ns < mono_ns + 60 * int64_t(1000000000))
			return mono_ns - up_ns;
	}
	return 0;
}

static int64_t clock_ns(clockid_t id)
{
	timespec ts;

	clock_gettime(id, &ts);
	return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

/* The wall-clock time of the last up or down, 0 where the link keeps no IPv6 state. */
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
			int64_t real = clock_ns(CLOCK_REALTIME), mono = clock_ns(CLOCK_MONOTONIC);
			if (stamp_clk.boot_ns == 0)
				stamp_clk.lag_ns = jiffies_lag_ns(mono);
			return stamp_time(ci.tstamp, real, mono, &stamp_clk);
		}
	}
	return 0;
}

/* The statistics row and the index of a link answer; false without counters. */
static bool parse_link(nlmsghdr *h, if_row *out, int *index)
{
	if_row r{};
	bool have_stats = false;
	auto *ifi = static_cast<ifinfomsg *>(NLMSG_DATA(h));
	int alen = IFLA_PAYLOAD(h);

	if (h->nlmsg_type != RTM_NEWLINK)
		return false;
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
	if (!have_stats)
		return false;
	r.flags = ifi->ifi_flags;
	*out = r;
	*index = ifi->ifi_index;
	return true;
}

/*
 * The named link's answer, as the last list request read it: the flag,
 * row and index requests of the same sample are served from it.
 */
static struct {
	bool valid;
	int index;
	if_row row;
} cur_link;

static int query_link(const char *name)
{
	cur_link.valid = false;
	if (nl_request(RTM_GETLINK, 0, 0, name) < 0)
		return -1;
	nlmsghdr *h = nl_next();
	if (!h)
		return -1;	/* ENODEV: no such link */
	cur_link.valid = parse_link(h, &cur_link.row, &cur_link.index);
	return cur_link.valid ? 0 : -1;
}

static bool cached(const char *name)
{
	return cur_link.valid && strncmp(cur_link.row.name, name, IFNAME_SIZE) == 0;
}

/* Appends one entry if it fits whole; the socket address is len bytes. */
static void put_entry(char *buf, int size, int *used, const char *name,
		      const unsigned char *sa, int len)
{
	int esize = 16 + (len > 16 ? len : 16);

	if (*used + esize > size)
		return;
	char *e = buf + *used;
	memset(e, 0, esize);
	strncpy(e, name, IFNAME_SIZE - 1);
	memcpy(e + 16, sa, len);
	*used += esize;
}

/*
 * The named interface's own entries: its link entry, laid out like BSD's
 * sockaddr_dl (length, family, index (low 16 bits), type, name length,
 * address length 0, selector length 0, name), and its first IPv4 address
 * (SIOCGIFADDR: the first address whose label is the name, as the kernel
 * orders them, so an alias label such as eth0:1 finds its own).
 */
int pf_getconf(int sock, const char *ifname, char *buf, int size)
{
	int used = 0;

	if (query_link(ifname) < 0 && errno == EINTR)
		return -1;
	if (cur_link.valid) {
		unsigned char sa[8 + IFNAME_SIZE] = {};
		int nlen = strnlen(ifname, IFNAME_SIZE - 1);
		sa[0] = 8 + nlen;
		sa[1] = AF_PACKET;
		sa[2] = cur_link.index & 0xff;
		sa[3] = (cur_link.index >> 8) & 0xff;
		sa[5] = nlen;
		memcpy(sa + 8, ifname, nlen);
		put_entry(buf, size, &used, ifname, sa, sa[0]);
	}
	ifreq ifr{};
	strncpy(ifr.ifr_name, ifname, IFNAMSIZ - 1);
	ifr.ifr_addr.sa_family = AF_INET;
	if (ioctl(sock, SIOCGIFADDR, &ifr) < 0)
		return errno == EINTR ? -1 : used;
	unsigned char sa[16] = {16, AF_INET};
	memcpy(sa + 4, &reinterpret_cast<sockaddr_in *>(&ifr.ifr_addr)->sin_addr, 4);
	put_entry(buf, size, &used, ifname, sa, sizeof sa);
	return used;
}

int pf_row_of(int, const char *name)
{
	if (!cached(name) && query_link(name) < 0)
		return -1;
	return cur_link.index;
}

int pf_row(int row, if_row *out)
{
	if (cur_link.valid && cur_link.index == row) {
		*out = cur_link.row;
		return 0;
	}
	if (nl_request(RTM_GETLINK, 0, row) < 0)
		return -1;
	nlmsghdr *h = nl_next();
	int index;
	if (!h || !parse_link(h, out, &index))
		return -1;
	return 0;
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

	if (cached(entry)) {
		*flags = cur_link.row.flags & 0xffff;
		return 0;
	}
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
