/*
 * Linux: rtnetlink throughout.  The configuration (index, flags,
 * addresses) is read when the kernel announces a change on a socket joined
 * to the link and address groups; an idle second asks only for the one
 * index's 64-bit counters (RTM_GETSTATS), which costs a fraction of a link
 * request and takes no lock that a busy host holds.  No interface ioctl:
 * those take the rtnl lock.  Nothing is asked about other interfaces, so a
 * sample costs the same on a host with a thousand of them.  Fixed buffers,
 * so that a sample allocates nothing; netlink sees the process's own
 * network namespace.
 */
#include "platform/netif.h"
#include "platform/stamp.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <linux/if_addr.h>
#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/times.h>
#include <unistd.h>

const char pf_default_ifname[] = "lo";
const unsigned pf_unkept = ROW_OMCASTS;
/* "+": glibc's getopt would otherwise reorder the arguments. */
const char pf_optstring[] = "+abc:de:gi:o:r:t:u:w:";
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

static bool nl_open()
{
	int on = 1;

	if (nl_sock >= 0)
		return true;
	nl_sock = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
	if (nl_sock < 0)
		return false;
	/* the kernel filters an address dump by the index we give */
	setsockopt(nl_sock, SOL_NETLINK, NETLINK_GET_STRICT_CHK, &on, sizeof on);
	return true;
}

static int nl_send(nlmsghdr *req)
{
	if (!nl_open())
		return -1;
	req->nlmsg_seq = ++nl_seq;
	nl_left = 0;
	nl_done = false;
	nl_error = 0;
	return send(nl_sock, req, req->nlmsg_len, 0) < 0 ? -1 : 0;
}

/* A link request, by index or (index 0) by name. */
static int link_request(int flags, int index, const char *name = nullptr)
{
	struct {
		nlmsghdr nh;
		ifinfomsg ifi;
		rtattr name_attr;
		char name[IFNAME_SIZE];
	} req{};

	req.nh.nlmsg_len = NLMSG_LENGTH(sizeof req.ifi);
	if (name) {
		size_t n = strnlen(name, IFNAME_SIZE - 1);
		req.name_attr.rta_type = IFLA_IFNAME;
		req.name_attr.rta_len = RTA_LENGTH(n + 1);
		memcpy(req.name, name, n);
		req.nh.nlmsg_len = NLMSG_ALIGN(req.nh.nlmsg_len) + RTA_ALIGN(req.name_attr.rta_len);
	}
	req.nh.nlmsg_type = RTM_GETLINK;
	req.nh.nlmsg_flags = NLM_F_REQUEST | flags;
	req.ifi.ifi_family = AF_UNSPEC;
	req.ifi.ifi_index = index;
	return nl_send(&req.nh);
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

	if (link_request(NLM_F_DUMP, 0) < 0)
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

/* ps shows the task's name and, with -f, the command line: both. */
void pf_set_name(char **argv, const char *name)
{
	prctl(PR_SET_NAME, name);
	if (!argv || !argv[0])
		return;
	/* the strings of argv lie end to end: the room they take */
	char *end = argv[0];
	for (int i = 0; argv[i] && argv[i] == end; i++)
		end = argv[i] + strlen(argv[i]) + 1;
	size_t room = end - argv[0];
	memset(argv[0], 0, room);
	snprintf(argv[0], room, "%s", name);
}

/* ---- Announcements ---- */

/*
 * A filter in the kernel drops what is about other interfaces before it
 * wakes us: the index sits at the same place in link and address messages
 * (after the 16-byte header, the family and type fields).  While ours is
 * missing, every new link passes too, for its name to be looked at; and so
 * it does while a read of ours is under way, since that read may find it
 * missing, and a link that took its name meanwhile must not slip through.
 */
static int watch_sock = -1;
static int filtered_index = -1;
static bool filtered_new = false;

static void watch_filter(int index, bool new_links)
{
	constexpr uint32_t INDEX_AT = NLMSG_HDRLEN + 4, TYPE_AT = 4;
	const __u8 new_jump = new_links ? 2 : 0;
	sock_filter code[] = {
		BPF_STMT(BPF_LD | BPF_H | BPF_ABS, TYPE_AT),
		/* a new link: passed, when new links are wanted */
		BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, htons(RTM_NEWLINK), new_jump, 0),
		BPF_STMT(BPF_LD | BPF_W | BPF_ABS, INDEX_AT),
		BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, htonl(index), 0, 1),
		BPF_STMT(BPF_RET | BPF_K, 0xffffffff),
		BPF_STMT(BPF_RET | BPF_K, 0),
	};
	sock_fprog prog = {6, code};

	if (watch_sock < 0 || (index == filtered_index && new_links == filtered_new))
		return;
	if (setsockopt(watch_sock, SOL_SOCKET, SO_ATTACH_FILTER, &prog, sizeof prog) == 0) {
		filtered_index = index;
		filtered_new = new_links;
	}
}

/*
 * Room for a burst that comes while we are stopped or busy: thousands of
 * address changes.  An overflow loses messages (ENOBUFS, then a re-read of
 * the configuration), and with them a down and an up made meanwhile, which
 * the re-read cannot see.  The memory is taken only while messages wait.
 * Root may pass the system's limit (net.core.rmem_max); the kernel doubles
 * the figure for its own bookkeeping.
 */
constexpr int WATCH_RCVBUF = 4 * 1024 * 1024;

/* A non-blocking socket joined to these groups of announcements; -1 if none. */
static int group_socket(unsigned groups)
{
	sockaddr_nl sa{};
	int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);

	if (fd < 0)
		return -1;
	sa.nl_family = AF_NETLINK;
	sa.nl_groups = groups;
	if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) < 0) {
		close(fd);
		return -1;
	}
	return fd;
}

int pf_watch()
{
	int fd = group_socket(RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR);
	int size = WATCH_RCVBUF;

	if (fd < 0)
		return -1;
	if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) < 0)
		setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
	watch_sock = fd;
	watch_filter(0, true);
	return fd;
}

/* Whether a link message carries this name (a link made, renamed or moved in). */
static bool names_link(nlmsghdr *h, const char *ifname)
{
	auto *ifi = static_cast<ifinfomsg *>(NLMSG_DATA(h));
	int alen = IFLA_PAYLOAD(h);

	for (rtattr *a = IFLA_RTA(ifi); RTA_OK(a, alen); a = RTA_NEXT(a, alen))
		if (a->rta_type == IFLA_IFNAME)
			return strncmp(static_cast<const char *>(RTA_DATA(a)), ifname,
				       std::min<size_t>(RTA_PAYLOAD(a), IFNAME_SIZE)) == 0;
	return false;
}

static void note_link(int index, unsigned flags);

static bool concerns(nlmsghdr *h, long len, int index, const char *ifname)
{
	switch (h->nlmsg_type) {
	case RTM_NEWLINK:
	case RTM_DELLINK:
		if (len < long(NLMSG_LENGTH(sizeof(ifinfomsg))))
			return false;
		if (auto *ifi = static_cast<ifinfomsg *>(NLMSG_DATA(h)); ifi->ifi_index == index) {
			/* each in turn: a down and an up in one burst are two changes */
			if (h->nlmsg_type == RTM_NEWLINK)
				note_link(index, ifi->ifi_flags & 0xffff);
			return true;
		}
		/* only while ours is missing can another link take its name */
		return index == 0 && h->nlmsg_type == RTM_NEWLINK && NLMSG_OK(h, len) &&
		       names_link(h, ifname);
	case RTM_NEWADDR:
	case RTM_DELADDR:
		if (len < long(NLMSG_LENGTH(sizeof(ifaddrmsg))))
			return false;
		return static_cast<int>(static_cast<ifaddrmsg *>(NLMSG_DATA(h))->ifa_index) == index;
	default:
		return false;
	}
}

int pf_notice(int fd, int index, const char *ifname)
{
	/* a link announcement carries the whole link; a cut one keeps its header */
	alignas(nlmsghdr) static char buf[16384];
	int result = 0;

	for (;;) {
		ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
		if (n < 0) {
			if (errno == EAGAIN || errno == EWOULDBLOCK)
				return result;
			if (errno == ENOBUFS) {
				result = 1;	/* some were lost: read ours again */
				continue;
			}
			return -1;
		}
		for (long left = n; left >= long(sizeof(nlmsghdr));) {
			nlmsghdr *h = reinterpret_cast<nlmsghdr *>(buf + (n - left));
			if (concerns(h, left, index, ifname))
				result = 1;
			if (!NLMSG_OK(h, left))
				break;
			left -= NLMSG_ALIGN(h->nlmsg_len);
		}
	}
}

/* ---- The change time ---- */

static stamp_clock stamp_clk;

/*
 * How far the jiffies clock, which the IPv6 stamp counts, runs behind the
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

static int64_t real_ns()
{
	timespec ts;

	clock_gettime(CLOCK_REALTIME, &ts);
	return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

/* The wall-clock time of the IPv6 device stamp, 0 where the link keeps no IPv6 state. */
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
			int64_t mono = pf_mono_ns();
			if (stamp_clk.boot_ns == 0)
				stamp_clk.lag_ns = jiffies_lag_ns(mono);
			return stamp_time(ci.tstamp, real_ns(), mono, &stamp_clk);
		}
	}
	return 0;
}

/*
 * The link as the last configuration read saw it.  Linux keeps no time of
 * the last administrative change: the IPv6 device stamp also moves on any
 * router advertisement with a Retrans Timer, and not at all with IPv6
 * turned off.  So it is only the best value known when the link is first
 * seen; after that the change time is the moment we see the link go up or
 * down, the event BSD's ifi_lastchange follows (a carrier coming or going
 * is no administrative change, and moves it not).
 */
static struct {
	bool valid;
	int index;
	if_row row;
	in_addr brd, peer;
	bool have_brd, have_peer;
} cur;

/* The link's flags as a message or an answer carried them: an up or a down is a change. */
static void note_flags(unsigned flags)
{
	if ((flags ^ cur.row.flags) & IF_UP) {
		cur.row.prevchange = cur.row.lastchange;
		cur.row.lastchange = time(nullptr);
		cur.row.changes++;
	}
	cur.row.flags = flags;
}

static void note_link(int index, unsigned flags)
{
	if (cur.valid && cur.index == index)
		note_flags(flags);
}

static bool parse_link(nlmsghdr *h)
{
	auto *ifi = static_cast<ifinfomsg *>(NLMSG_DATA(h));
	int alen = IFLA_PAYLOAD(h);
	char name[IFNAME_SIZE] = {};
	time_t stamp = 0;
	bool fresh = !cur.valid || cur.index != ifi->ifi_index;

	if (h->nlmsg_type != RTM_NEWLINK)
		return false;
	for (rtattr *a = IFLA_RTA(ifi); RTA_OK(a, alen); a = RTA_NEXT(a, alen)) {
		if (a->rta_type == IFLA_IFNAME)
			strncpy(name, static_cast<const char *>(RTA_DATA(a)), IFNAME_SIZE - 1);
		else if (a->rta_type == IFLA_AF_SPEC && fresh)
			stamp = inet6_stamp(a);
	}
	unsigned flags = ifi->ifi_flags & 0xffff;
	if (fresh) {
		cur.row = if_row{};
		cur.row.lastchange = stamp;
		cur.row.flags = flags;
	}
	note_flags(flags);
	memcpy(cur.row.name, name, IFNAME_SIZE);
	cur.index = ifi->ifi_index;
	cur.valid = true;
	return true;
}

static int query_link(const char *name)
{
	/* new links pass while we look: this read may find ours missing */
	watch_filter(filtered_index < 0 ? 0 : filtered_index, true);
	if (link_request(0, 0, name) < 0)
		return -1;
	nlmsghdr *h = nl_next();
	if (!h || !parse_link(h)) {
		cur.valid = false;
		return -1;	/* ENODEV: no such link */
	}
	watch_filter(cur.index, false);
	return 0;
}

static bool have_link(const char *name)
{
	return cur.valid && strncmp(cur.row.name, name, IFNAME_SIZE) == 0;
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

/* An address attribute of the size the family has, or null. */
static const void *addr_attr(rtattr *a, size_t size)
{
	return RTA_PAYLOAD(a) >= size ? RTA_DATA(a) : nullptr;
}

/* An address message's own address, its IFA_ADDRESS (the peer on a point-to-point link) and broadcast. */
struct addr_fields {
	const void *local, *address, *brd;
};
static addr_fields addr_of(nlmsghdr *h, size_t asize)
{
	auto *ifa = static_cast<ifaddrmsg *>(NLMSG_DATA(h));
	int alen = IFA_PAYLOAD(h);
	addr_fields f{};

	for (rtattr *a = IFA_RTA(ifa); RTA_OK(a, alen); a = RTA_NEXT(a, alen)) {
		if (a->rta_type == IFA_LOCAL)
			f.local = addr_attr(a, asize);
		else if (a->rta_type == IFA_ADDRESS)
			f.address = addr_attr(a, asize);
		else if (a->rta_type == IFA_BROADCAST)
			f.brd = addr_attr(a, asize);
	}
	return f;
}

/* An address dump of the family (AF_UNSPEC: all), of one index or (0) every interface. */
static int addr_dump(int family, int index)
{
	struct {
		nlmsghdr nh;
		ifaddrmsg ifa;
	} req{};

	req.nh.nlmsg_len = NLMSG_LENGTH(sizeof req.ifa);
	req.nh.nlmsg_type = RTM_GETADDR;
	req.nh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
	req.ifa.ifa_family = family;
	req.ifa.ifa_index = index;
	return nl_send(&req.nh);
}

/*
 * The link's first IPv4 address, with its broadcast address and peer, and
 * its first IPv6 address, a global one before a link-local one: one dump
 * that the kernel filters by index (an alias label such as eth0:1 is no
 * obstacle, as it is for the request by name).
 */
static int query_addrs(const char *ifname, char *buf, int size, int *used)
{
	bool have4 = false;
	int scope6 = -1;
	unsigned char v4[16] = {16, AF_INET}, v6[28] = {28, AF_INET6};

	cur.have_brd = cur.have_peer = false;
	if (addr_dump(AF_UNSPEC, cur.index) < 0)
		return -1;
	while (nlmsghdr *h = nl_next()) {
		auto *ifa = static_cast<ifaddrmsg *>(NLMSG_DATA(h));

		if (h->nlmsg_type != RTM_NEWADDR || static_cast<int>(ifa->ifa_index) != cur.index)
			continue;
		auto [local, address, brd] = addr_of(h, ifa->ifa_family == AF_INET ? 4 : 16);
		if (ifa->ifa_family == AF_INET && !have4 && (local || address)) {
			/* on a point-to-point link IFA_ADDRESS is the peer, else the same as local */
			memcpy(v4 + 4, local ? local : address, 4);
			if (address && local && memcmp(address, local, 4) != 0) {
				memcpy(&cur.peer, address, 4);
				cur.have_peer = true;
			}
			if (brd) {
				memcpy(&cur.brd, brd, 4);
				cur.have_brd = true;
			}
			have4 = true;
		} else if (ifa->ifa_family == AF_INET6 && (local || address)) {
			int rank = ifa->ifa_scope == RT_SCOPE_LINK ? 1 : 2;
			if (rank > scope6) {
				memcpy(v6 + 8, local ? local : address, 16);
				scope6 = rank;
			}
		}
	}
	if (nl_error)
		return -1;
	if (have4)
		put_entry(buf, size, used, ifname, v4, sizeof v4);
	if (scope6 > 0)
		put_entry(buf, size, used, ifname, v6, sizeof v6);
	return 0;
}

/*
 * The link entry, laid out like BSD's sockaddr_dl (length, family, index
 * (low 16 bits), type, name length, address length 0, selector length 0,
 * name), then the addresses.
 */
int pf_getconf(int, const char *ifname, char *buf, int size)
{
	int used = 0;

	if (query_link(ifname) < 0)
		return errno == EINTR ? -1 : 0;
	unsigned char sa[8 + IFNAME_SIZE] = {};
	int nlen = strnlen(ifname, IFNAME_SIZE - 1);
	sa[0] = 8 + nlen;
	sa[1] = AF_PACKET;
	sa[2] = cur.index & 0xff;
	sa[3] = (cur.index >> 8) & 0xff;
	sa[5] = nlen;
	memcpy(sa + 8, ifname, nlen);
	put_entry(buf, size, &used, ifname, sa, sa[0]);
	if (query_addrs(ifname, buf, size, &used) < 0 && errno == EINTR)
		return -1;
	return used;
}

int pf_row_of(int, const char *name)
{
	if (!have_link(name) && query_link(name) < 0)
		return -1;
	return cur.index;
}

/* The counters of a 64-bit statistics attribute (only 4-byte aligned inside its message). */
static void put_stats(rtattr *a, if_row *out)
{
	rtnl_link_stats64 s;

	memcpy(&s, RTA_DATA(a), sizeof s);
	out->ipackets = s.rx_packets;
	out->opackets = s.tx_packets;
	out->ibytes = s.rx_bytes;
	out->obytes = s.tx_bytes;
	out->ierrors = s.rx_errors;
	out->oerrors = s.tx_errors;
	/* the drops as /proc/net/dev counts them: a full receive ring too */
	out->idrops = s.rx_dropped + s.rx_missed_errors;
	out->odrops = s.tx_dropped;
	out->imcasts = s.multicast;
	out->omcasts = 0;
	out->collisions = s.collisions;
}

/* A request for the 64-bit link counters alone: of one index, or (NLM_F_DUMP) of every link. */
static int stats_request(int flags, int index)
{
	struct {
		nlmsghdr nh;
		if_stats_msg ifs;
	} req{};

	req.nh.nlmsg_len = NLMSG_LENGTH(sizeof req.ifs);
	req.nh.nlmsg_type = RTM_GETSTATS;
	req.nh.nlmsg_flags = NLM_F_REQUEST | flags;
	req.ifs.family = AF_UNSPEC;
	req.ifs.ifindex = index;
	req.ifs.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
	return nl_send(&req.nh);
}

/* The counters of a statistics answer into out; false if it carries none. */
static bool stats_of(nlmsghdr *h, if_row *out)
{
	if (h->nlmsg_type != RTM_NEWSTATS)
		return false;
	int alen = NLMSG_PAYLOAD(h, sizeof(if_stats_msg));
	auto *a = reinterpret_cast<rtattr *>(static_cast<char *>(NLMSG_DATA(h)) +
					      NLMSG_ALIGN(sizeof(if_stats_msg)));
	for (; RTA_OK(a, alen); a = RTA_NEXT(a, alen)) {
		if (a->rta_type != IFLA_STATS_LINK_64 || RTA_PAYLOAD(a) < sizeof(rtnl_link_stats64))
			continue;
		put_stats(a, out);
		return true;
	}
	return false;
}

/* The one index's 64-bit link counters, nothing else. */
static int query_stats(int index, if_row *out)
{
	if (stats_request(0, index) < 0)
		return -1;
	nlmsghdr *h = nl_next();
	if (!h)
		return -1;
	if (!stats_of(h, out)) {
		errno = EIO;
		return -1;
	}
	return 0;
}

int pf_row(int row, if_row *out)
{
	if_row r;

	/* name, flags and change time as the last read of the link saw them */
	if (!cur.valid || cur.index != row) {
		if (link_request(0, row) < 0)
			return -1;
		nlmsghdr *h = nl_next();
		if (!h || !parse_link(h))
			return -1;
	}
	r = cur.row;
	if (query_stats(row, &r) < 0)
		return -1;
	*out = r;
	return 0;
}

int pf_flags(int, char *entry, unsigned *flags)
{
	if (!have_link(entry) && query_link(entry) < 0)
		return -1;
	*flags = cur.row.flags;
	return 0;
}

static int answer(const char *entry, bool have, in_addr value, in_addr *addr)
{
	if (!have_link(entry)) {
		errno = ENODEV;
		return -1;
	}
	if (!have) {
		errno = EADDRNOTAVAIL;
		return -1;
	}
	*addr = value;
	return 0;
}

int pf_dstaddr(int, char *entry, in_addr *addr)
{
	return answer(entry, cur.have_peer, cur.peer, addr);
}

int pf_brdaddr(int, char *entry, in_addr *addr)
{
	return answer(entry, cur.have_brd, cur.brd, addr);
}

/* ---- Every interface at once ---- */

/*
 * A link dump carries every link's whole state (its kind's settings, the
 * IPv6 configuration): some 2.5 kB for a bridge, and 1000 of them cost
 * 10 ms a second.  So the names, flags and addresses are kept from the
 * last link and address dumps, and read again only when a socket joined
 * to the link and address groups has heard of a change (or lost count);
 * otherwise one statistics dump, a tenth of the size, brings the counters
 * with the indexes.  The socket is only drained, never waited on: a change
 * shows at the next listing, and while nobody lists it is closed.
 */
constexpr int LIST_KEEP = 4096;	/* interfaces whose names are kept; more: dumped whole */
static if_entry kept[LIST_KEEP];	/* as the last whole dump listed them, by index */
static int nkept = -1;	/* -1: nothing kept, dump whole */
static int list_sock = -1;

/* Whether the group socket heard of anything since the last look; opened if need be. */
static bool list_changed()
{
	alignas(nlmsghdr) static char buf[16384];
	bool heard = false;

	if (list_sock < 0) {
		list_sock = group_socket(RTMGRP_LINK | RTMGRP_IPV4_IFADDR);
		return true;
	}
	for (;;) {
		ssize_t n = recv(list_sock, buf, sizeof buf, MSG_DONTWAIT);
		if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
			return heard;
		if (n == 0 || (n < 0 && errno != ENOBUFS && errno != EINTR))
			return true;
		heard = true;
	}
}

void pf_list_done()
{
	if (list_sock >= 0)
		close(list_sock);
	list_sock = -1;
	nkept = -1;
}

static bool by_index(const if_entry &a, const if_entry &b)
{
	return a.index < b.index;
}

/* An IPv4 address dump: the first address of each listed interface. */
static int list_addrs(if_entry *out, int n)
{
	if (addr_dump(AF_INET, 0) < 0)
		return -1;
	while (nlmsghdr *h = nl_next()) {
		auto *ifa = static_cast<ifaddrmsg *>(NLMSG_DATA(h));
		if (h->nlmsg_type != RTM_NEWADDR || ifa->ifa_family != AF_INET)
			continue;
		if_entry key{};
		key.index = static_cast<int>(ifa->ifa_index);
		if_entry *e = std::lower_bound(out, out + n, key, by_index);
		if (e == out + n || e->index != key.index || e->have_addr)
			continue;
		addr_fields f = addr_of(h, 4);
		if (f.local || f.address) {
			memcpy(&e->addr, f.local ? f.local : f.address, 4);
			e->have_addr = true;
		}
	}
	return nl_error ? -1 : 0;
}

/* Every link whole, then the addresses; what is kept of them, kept. */
static int list_whole(if_entry *out, int max)
{
	int n = 0;

	if (link_request(NLM_F_DUMP, 0) < 0)
		return -1;
	while (nlmsghdr *h = nl_next()) {
		auto *ifi = static_cast<ifinfomsg *>(NLMSG_DATA(h));
		int alen = IFLA_PAYLOAD(h);
		if (h->nlmsg_type != RTM_NEWLINK || n >= max)
			continue;
		if_entry &e = out[n];
		e = if_entry{};
		e.index = ifi->ifi_index;
		e.row.flags = ifi->ifi_flags & 0xffff;
		for (rtattr *a = IFLA_RTA(ifi); RTA_OK(a, alen); a = RTA_NEXT(a, alen)) {
			if (a->rta_type == IFLA_IFNAME)
				strncpy(e.row.name, static_cast<const char *>(RTA_DATA(a)),
					std::min<size_t>(RTA_PAYLOAD(a), IFNAME_SIZE - 1));
			else if (a->rta_type == IFLA_STATS64 &&
				 RTA_PAYLOAD(a) >= sizeof(rtnl_link_stats64))
				put_stats(a, &e.row);
		}
		n++;
	}
	if (nl_error)
		return -1;
	std::sort(out, out + n, by_index);
	if (list_addrs(out, n) < 0)
		return -1;
	nkept = n <= LIST_KEEP ? n : -1;
	if (nkept >= 0)
		std::copy(out, out + n, kept);
	return n;
}

/*
 * The counters of every link from a statistics dump, with what is kept of
 * each; -2 where a link is not kept (made since, its announcement not yet
 * read): the caller dumps whole.
 */
static int list_counters(if_entry *out, int max)
{
	int n = 0, k = 0;
	bool unknown = false;

	if (stats_request(NLM_F_DUMP, 0) < 0)
		return -1;
	while (nlmsghdr *h = nl_next()) {
		if (h->nlmsg_type != RTM_NEWSTATS || unknown || n >= max)
			continue;
		auto *ifs = static_cast<if_stats_msg *>(NLMSG_DATA(h));
		int index = static_cast<int>(ifs->ifindex);
		/* both in index order: a step along the kept ones, a search only where they part */
		if (k >= nkept || kept[k].index != index) {
			if_entry key{};
			key.index = index;
			k = std::lower_bound(kept, kept + nkept, key, by_index) - kept;
		}
		if (k >= nkept || kept[k].index != index) {
			unknown = true;
			continue;
		}
		out[n] = kept[k++];
		stats_of(h, &out[n++].row);
	}
	if (nl_error)
		return -1;
	return unknown ? -2 : n;
}

int pf_list(if_entry *out, int max)
{
	if (!list_changed() && nkept >= 0) {
		int n = list_counters(out, max);
		if (n != -2)
			return n;
	}
	return list_whole(out, max);
}
