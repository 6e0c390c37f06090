#pragma once
/*
 * The operating system's side of the interface statistics: one source file
 * per OS (netif_linux.cpp, netif_freebsd.cpp), and a fake one for the unit
 * tests.  Every operation must yield the same on every OS:
 *
 * pf_ifcount   the number of rows in the statistics table, i.e. the highest
 *              interface index in use; rows 1..count then reach every
 *              interface.  0, or -1 with errno set.
 * pf_getconf   the configuration list of the named interface alone, written
 *              into buf (at most size bytes, whole entries only) in the BSD
 *              record layout: a 16-byte name, then a socket address whose
 *              first byte is its length and second its family; an entry
 *              takes 16 + max(length, 16) bytes.  It holds the interface's
 *              first IPv4 entry (family 2, the address in bytes 20..23 of
 *              the entry) if it has an IPv4 address, and may hold its
 *              link-level entry before it.  Nothing of other interfaces:
 *              the same few requests on a host with any number of
 *              interfaces and addresses.  The length written (0: no such
 *              interface, or no IPv4 address), or -1 with errno set.
 * pf_flags     the interface flags of a list entry's interface (IF_* bits
 *              below).  May overwrite bytes 16..19 of the entry, never the
 *              address behind.
 * pf_dstaddr   the peer address of a point-to-point entry.
 * pf_brdaddr   the broadcast address of an entry.
 * pf_row_of    the row of the named interface (its index), found without a
 *              search over the table; -1 if there is none.
 * pf_row       the statistics row with this index: name, flags, the four
 *              64-bit counters as the kernel keeps them, and the wall-clock
 *              time of the last administrative change, 0 where the kernel
 *              keeps none.  -1 when there is no such row; out is then left
 *              alone.
 * The flag, row and row_of requests of one sample, made right after
 * pf_getconf on the same interface, may be answered from what it read.
 * pf_time      the time of day (the unit tests drive their own clock).
 * pf_hostname  the official host name of an IPv4 address into buf (never
 *              past size bytes); 0 if found, -1 if not.  The resolver may
 *              take seconds, so the look-up runs in a child process: when
 *              wake becomes readable first (a signal came), the child is
 *              ended and reaped and the result is -1 with errno EINTR.
 * pf_die_with_parent  in a child: the kernel sends it SIGKILL when its
 *              parent ends.  -1 if the parent (pid parent) has already gone.
 * The flag and address requests go through sock, an IPv4 datagram socket.
 * A kernel query that a signal interrupts fails with errno EINTR.
 */
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <netinet/in.h>
#include <sys/time.h>
#include <sys/types.h>

constexpr size_t IFNAME_SIZE = 16;

/* Interface flag bits that ravlet reads; the same on FreeBSD and Linux. */
constexpr unsigned IF_UP = 0x1, IF_LOOPBACK = 0x8, IF_POINTOPOINT = 0x10;

struct if_row {
	char name[IFNAME_SIZE];
	unsigned flags;
	uint64_t ibytes, obytes, ipackets, opackets;
	time_t lastchange;
};

int pf_ifcount(int *count);
int pf_getconf(int sock, const char *ifname, char *buf, int size);
int pf_flags(int sock, char *entry, unsigned *flags);
int pf_dstaddr(int sock, char *entry, struct in_addr *addr);
int pf_brdaddr(int sock, char *entry, struct in_addr *addr);
int pf_row_of(int sock, const char *ifname);
int pf_row(int row, struct if_row *out);
void pf_time(timeval *now);
int pf_hostname(struct in_addr addr, char *buf, size_t size, int wake);
int pf_die_with_parent(pid_t parent);

/* Host defaults that differ between the systems. */
extern const char pf_default_ifname[];
extern const char pf_optstring[];
extern const char *const pf_capture_programs[];
