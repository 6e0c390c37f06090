#pragma once
/*
 * BSD routing messages walked as bytes: what a routing socket announces
 * and what the interface-list sysctl returns.  Pure code over a buffer, so
 * that tests on any system feed it messages laid out as FreeBSD 14 sends
 * them; netif_freebsd.cpp checks every constant below against FreeBSD's own
 * structures when it is compiled.  Fields are in the host's byte order.
 *
 * Messages are short and of several sizes (an announcement is 24 bytes, an
 * address message 20 plus its addresses): each type is checked against its
 * own header's size, never against the largest one's.
 */
#include <cstddef>
#include <cstdint>

#include "platform/netif.h"

/* Every message: its length (16 bits), the version, the type. */
constexpr size_t RT_MSGLEN_AT = 0, RT_VERSION_AT = 2, RT_TYPE_AT = 3, RT_HEAD_SIZE = 4;
constexpr int RT_VERSION = 5;
constexpr int RT_NEWADDR = 0xc, RT_DELADDR = 0xd, RT_IFINFO = 0xe, RT_IFANNOUNCE = 0x11;

/* if_msghdr, an interface's flags or state: flags (int), index (u_short), its if_data. */
constexpr size_t IFM_FLAGS_AT = 8, IFM_INDEX_AT = 12, IFM_DATA_AT = 16, IFM_SIZE = 168;
/* if_data's ifi_lastchange, a timeval of 64-bit seconds and microseconds */
constexpr size_t IFM_CHANGE_AT = IFM_DATA_AT + 136;
/* if_msghdr's mask of addresses (behind the header: the link's sockaddr_dl) */
constexpr size_t IFM_ADDRS_AT = 4;
/* if_data's 64-bit counters */
constexpr size_t IFD_IPACKETS_AT = 24, IFD_IERRORS_AT = 32, IFD_OPACKETS_AT = 40,
		 IFD_OERRORS_AT = 48, IFD_COLLISIONS_AT = 56, IFD_IBYTES_AT = 64,
		 IFD_OBYTES_AT = 72, IFD_IMCASTS_AT = 80, IFD_OMCASTS_AT = 88,
		 IFD_IQDROPS_AT = 96, IFD_OQDROPS_AT = 104;
/* sockaddr_dl: the length of the name, and the name */
constexpr size_t SDL_NLEN_AT = 5, SDL_DATA_AT = 8;
/* ifa_msghdr, an address added or removed: the mask of addresses, the index. */
constexpr size_t IFAM_ADDRS_AT = 4, IFAM_INDEX_AT = 12, IFAM_SIZE = 20;
/* if_announcemsghdr, an interface arrived or departed (made, deleted, renamed, moved). */
constexpr size_t IFAN_INDEX_AT = 4, IFAN_NAME_AT = 6, IFAN_WHAT_AT = 22, IFAN_SIZE = 24;
constexpr int RT_ARRIVAL = 0, RT_DEPARTURE = 1;

/*
 * The socket addresses behind an address message: one for each bit of
 * the mask, in bit order, each padded to a multiple of a long (a length of
 * 0 still takes a long).
 */
constexpr int RT_AX_NETMASK = 2, RT_AX_IFP = 4, RT_AX_IFA = 5, RT_AX_BRD = 7, RT_AX_MAX = 8;
constexpr size_t RT_SA_ALIGN = 8;

struct rt_msg {
	int type;		/* one of the four above; 0: a message to skip */
	int index;		/* the interface's */
	unsigned flags;		/* RT_IFINFO: the interface flags */
	int64_t change_s, change_us;	/* RT_IFINFO: the last administrative change */
	int what;		/* RT_IFANNOUNCE: RT_ARRIVAL or RT_DEPARTURE */
	char name[IFNAME_SIZE];	/* RT_IFANNOUNCE: the interface's name */
	int addrs;		/* RT_IFINFO and address messages: the mask of addresses */
	const unsigned char *sa;	/* ... and where they begin */
	size_t sa_len;
	const unsigned char *data;	/* RT_IFINFO: its if_data */
};

/*
 * The message at the start of buf: the length to step over it, or 0 when
 * no whole message is there (cut short, or a length below the header's).
 * m->type is 0 for a message to skip: another version, a type of no
 * interest, or shorter than its type's header.
 */
size_t rt_next(const unsigned char *buf, size_t len, rt_msg *m);

/* The socket address of kind ax in an address message, and its length; null if none. */
const unsigned char *rt_addr(const rt_msg &m, int ax, size_t *len);

/*
 * Whether a message is about the interface with this index, or (while it
 * is missing: index 0) announces one arriving under its name.  FreeBSD
 * announces an interface made, renamed or moved in from another vnet as an
 * arrival under its new name, and the reverse as a departure.
 */
bool rt_concerns(const rt_msg &m, int index, const char *ifname);

/*
 * The interface-list sysctl's answer for IPv4 (an interface message for
 * each interface, the address messages of its IPv4 addresses after it) as
 * pf_list yields it: index, name, flags, counters, first address.  The
 * number of entries written, at most max.
 */
int rt_list(const unsigned char *buf, size_t len, if_entry *out, int max);
