#pragma once
/* The fake platform: what the unit tests make the "kernel" say. */
#include "platform/netif.h"

constexpr int FAKE_ROWS = 8;

struct fake_kernel {
	unsigned char conf[4096];	/* the configuration list, BSD layout */
	int conf_len;
	int ifcount;
	if_row rows[FAKE_ROWS + 1];	/* by index; an empty name is a missing row */
	unsigned flags;
	int request_errno;		/* non-zero: flag and address requests fail */
	int addr_errno;			/* non-zero: the peer and broadcast requests fail */
	in_addr dst, brd;
	const char *hostname;		/* null: the look-up finds nothing */
	int lookup_delay;		/* seconds the look-up child takes to answer */
	int lookups;
	int64_t mono;			/* ns */
	time_t wall;
	int watch_fd;			/* what pf_watch hands out */
	int notice;			/* what pf_notice says */
};
extern fake_kernel fake;

void fake_reset();
/* Appends an entry; addr is dotted IPv4 for family 2, IPv6 text for AF_INET6. */
void fake_entry(const char *name, int family, int salen, const char *addr = nullptr);
