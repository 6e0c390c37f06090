#pragma once
/*
 * The operating system's side of the interface statistics: one source file
 * per OS (netif_linux.cpp, netif_freebsd.cpp), and a fake one for the unit
 * tests.  Every operation must yield the same on every OS:
 *
 * pf_ifcount   the number of rows in the statistics table, i.e. the highest
 *              interface index in use.  0, or -1 with errno set.
 * pf_watch     a descriptor, non-blocking, that becomes readable when the
 *              kernel announces a change of any interface's links or
 *              addresses; -1 if there is none (the caller then reads the
 *              configuration at every sample).
 * pf_notice    drains what the watch descriptor holds without waiting.  1
 *              if a message concerned the interface with this index (0:
 *              none known), or a link of this name (one made, renamed to
 *              it or moved in), or if messages were lost (an overrun); 0
 *              if all were about other interfaces; -1 with errno (EINTR).
 *              A message about another interface costs at most a look at
 *              its type and index (Linux drops it in the kernel, before it
 *              wakes us; FreeBSD has no such filter).  The messages are
 *              taken in order: each up or down they carry is a change of
 *              the row's change time, however many come in one burst.
 * pf_getconf   the configuration list of the named interface alone, written
 *              into buf (at most size bytes, whole entries only) in the BSD
 *              record layout: a 16-byte name, then a socket address whose
 *              first byte is its length and second its family; an entry
 *              takes 16 + max(length, 16) bytes.  First its link entry,
 *              then its first IPv4 address whatever its label (family 2,
 *              the address in bytes 20..23 of the entry), then its first
 *              IPv6 address, global before link-local (family AF_INET6 of
 *              the host, length 28, the address in bytes 24..39), each if
 *              it has one.  Nothing of other interfaces: the same few
 *              requests on a host with any number of them.  The length
 *              written (0: no such interface), or -1 with errno set.
 * pf_flags     the interface flags of a list entry's interface (IF_* bits
 *              below).  May overwrite bytes 16..19 of the entry, never the
 *              address behind.
 * pf_dstaddr   the peer address of a point-to-point entry; pf_brdaddr the
 *              broadcast address of an entry.  Asked only with the flag.
 *              -1 with errno EADDRNOTAVAIL where the interface has none.
 * pf_row_of    the row of the named interface (its index), found without a
 *              search over the table; -1 if there is none.
 * pf_row       the statistics row with this index: name, flags, the 64-bit
 *              counters as the kernel keeps them (bytes, packets, errors,
 *              drops and multicast packets in and out, collisions), all
 *              from the one request; a counter the system does not keep
 *              (pf_unkept) is 0.  The wall-clock
 *              time of the last administrative change, 0 where none is
 *              known: the link going up or down, and nothing else (not
 *              the other requests that move FreeBSD's ifi_lastchange, nor
 *              a carrier coming or going, which is no administrative
 *              change).  changes counts the changes seen since the row
 *              was first read under its name, and prevchange is the time
 *              of the one before the last (0: none known), so that two
 *              changes between two reads (a down and an up in one burst)
 *              show as such; a row under another name than the last read
 *              of that index (an index reused at once) starts them again.
 *              These times never move by themselves: a step of the wall
 *              clock leaves them as they were.  -1 when there is no such
 *              row; out is then left alone.  Only the counters need be
 *              read afresh: name, flags and change time may be those the
 *              last pf_getconf of that interface saw, since a change of
 *              them is announced on the watch descriptor.  reread: the row
 *              shows a change of the flags or the change time that no
 *              announcement told of (the kernel dropped one), and the
 *              caller reads the configuration again.
 * The flag, address, row and row_of requests made right after pf_getconf
 * on the same interface may be answered from what it read.
 * pf_list      every interface the system has, at most max of them, into
 *              out in no order: its index, its row as pf_row yields it but
 *              with no change times (0), and its first IPv4 address.  One
 *              listing of the whole system, however many interfaces it has
 *              (never a request per interface); what does not change from
 *              one call to the next (names, flags, addresses) may be kept
 *              in between, so long as a change made before a call shows
 *              at the next one at the latest: interfaces made, deleted,
 *              renamed, set up or down, addressed.  The counters are read
 *              afresh at every call.  The number written, or -1 with
 *              errno set.
 * pf_list_done nobody lists for now: let go of what pf_list keeps.
 * pf_mono_ns   the monotonic clock, for every interval; pf_wall the wall
 *              clock, only for times shown as text (the unit tests drive
 *              both).
 * pf_lookup    starts a look-up of the official host name of an IPv4
 *              address in a child process and returns its pid, or -1 with
 *              errno set; the name, at most NI_MAXHOST - 1 bytes, comes on
 *              *fd (non-blocking, close-on-exec) and then its end; nothing
 *              but the end if there is no name.  The resolver may take
 *              tens of seconds: the caller waits for *fd with everything
 *              else, and kills and reaps the child when it gives up on it.
 *              The child goes by pf_set_name(argv, ...).
 * pf_die_with_parent  in a child: the kernel sends it SIGKILL when its
 *              parent ends.  -1 if the parent (pid parent) has already gone.
 * pf_child_fds in a child of ours: 0, 1 and 2 on /dev/null, fd (if not
 *              -1) moved to 3 and returned, every other descriptor closed,
 *              so that it holds nothing of ours or of whoever started us.
 * pf_set_name  in a child of ours: the name that ps shows for it, in place
 *              of the command line it shares with us (argv, ours, may be
 *              written over).
 * The flag and address requests go through sock, an IPv4 datagram socket.
 * A kernel query that a signal interrupts fails with errno EINTR.
 */
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <netinet/in.h>
#include <sys/types.h>

constexpr size_t IFNAME_SIZE = 16;

/* Interface flag bits that ravlet reads; the same on FreeBSD and Linux. */
constexpr unsigned IF_UP = 0x1, IF_BROADCAST = 0x2, IF_LOOPBACK = 0x8, IF_POINTOPOINT = 0x10;

struct if_row {
	char name[IFNAME_SIZE];
	unsigned flags;
	uint64_t ibytes, obytes, ipackets, opackets;
	uint64_t ierrors, oerrors, idrops, odrops, imcasts, omcasts, collisions;
	time_t lastchange, prevchange;
	unsigned changes;
	bool reread;
};

int pf_ifcount(int *count);
int pf_watch();
int pf_notice(int fd, int index, const char *ifname);
int pf_getconf(int sock, const char *ifname, char *buf, int size);
int pf_flags(int sock, char *entry, unsigned *flags);
int pf_dstaddr(int sock, char *entry, struct in_addr *addr);
int pf_brdaddr(int sock, char *entry, struct in_addr *addr);
int pf_row_of(int sock, const char *ifname);
int pf_row(int row, struct if_row *out);

/* One interface of the system's listing. */
struct if_entry {
	int index;
	if_row row;
	bool have_addr;
	struct in_addr addr;	/* its first IPv4 address, if it has one */
};
int pf_list(if_entry *out, int max);
void pf_list_done();
int64_t pf_mono_ns();
time_t pf_wall();
pid_t pf_lookup(struct in_addr addr, int *fd, char **argv);
int pf_die_with_parent(pid_t parent);
int pf_child_fds(int fd);
void pf_set_name(char **argv, const char *name);

/* Counters of if_row that this system does not keep (Linux counts no multicast sent). */
constexpr unsigned ROW_OMCASTS = 1;
extern const unsigned pf_unkept;

/* Host defaults that differ between the systems. */
extern const char pf_default_ifname[];
extern const char pf_optstring[];
extern const char *const pf_capture_programs[];
