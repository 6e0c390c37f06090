#pragma once
/*
 * The last administrative change of a BSD interface, from what its kernel
 * tells: the up flag and the ifi_lastchange stamp of each RTM_IFINFO
 * message and of each statistics row read.  Pure code, so that tests on
 * any system drive it with the sequences FreeBSD produces.
 *
 * The stamp moves on far more than an up or a down: on every flags request
 * (even one that changes nothing), MTU, media, multicast and description
 * requests, and twice for one "ifconfig down", before and after the
 * driver's own request.  So only the up flag moving is a change, stamped
 * with the stamp that came with it; a stamp that comes without such a move
 * changes nothing.  A row that shows a move no message told of, or a stamp
 * more than a second past every one seen, means a message was lost: the
 * caller reads the configuration again.
 *
 * A record belongs to one index and one name: FreeBSD gives a freed index
 * to the next interface at once, so a row under another name, or a
 * departure of the index, starts it again instead of counting.
 */
#include <cstdint>
#include <ctime>

#include "platform/netif.h"

struct if_change {
	int index;		/* 0: no record */
	char name[IFNAME_SIZE];
	bool up;
	int64_t s, us;		/* the latest stamp seen */
	time_t last, prev;	/* the change counted last, and the one before (0: none) */
	unsigned changes;	/* counted since the record began */
};

/* A statistics row: true when it shows what no message told (read the configuration again). */
bool chg_row(if_change *c, int index, const char *name, unsigned flags, int64_t s, int64_t us);
/* An RTM_IFINFO message of the record's index. */
void chg_message(if_change *c, unsigned flags, int64_t s, int64_t us);
