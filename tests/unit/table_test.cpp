/*
 * Every interface at once, against the fake kernel's rows: an interface is
 * followed by its index through a rename, a new one under a freed index
 * starts afresh, a gone one stays until dropped; and the overview's rows.
 */
#include <clocale>
#include <cstring>
#include <gtest/gtest.h>

#include "fake_netif.h"
#include "ifstat/ifstat.h"
#include "main/main.h"
#include "screen/screen.h"

namespace {

constexpr int64_t S = 1000000000;

void row(int index, const char *name, uint64_t ibytes, unsigned flags = IF_UP)
{
	fake.rows[index] = if_row{};
	snprintf(fake.rows[index].name, IFNAME_SIZE, "%s", name);
	fake.rows[index].ibytes = ibytes;
	fake.rows[index].flags = flags;
}

if_slot *at(int i)
{
	int n;
	if_slot **s = table_slots(&n);
	return i < n ? s[i] : nullptr;
}

int slots()
{
	int n;
	table_slots(&n);
	return n;
}

TEST(Table, FollowsEachInterfaceByItsIndex)
{
	fake_reset();
	fake.mono = 100 * S;
	row(2, "eth0", 1000);
	row(5, "br0", 0);
	table_start();
	ASSERT_EQ(slots(), 2);
	EXPECT_TRUE(at(0)->rec.fresh);

	/* a second on: 1500 bytes over 1.5 s of reads is 1000 a second */
	fake.mono += 3 * S / 2;
	row(2, "wan0", 2500);	/* renamed: the same interface */
	table_sample(fake.mono, true);
	ASSERT_EQ(slots(), 2);
	EXPECT_STREQ(at(0)->name, "wan0");
	EXPECT_FALSE(at(0)->rec.fresh);
	EXPECT_EQ(at(0)->rec.per_second[IBYTES], 1000u);
	EXPECT_EQ(table_find("wan0"), at(0));
	EXPECT_EQ(table_find("eth0"), nullptr);

	/* eth0 deleted, its index taken at once by another with lower counters; br0 gone */
	fake.mono += S;
	row(2, "tap0", 10);
	fake.rows[5] = if_row{};
	table_sample(fake.mono, true);
	EXPECT_TRUE(at(0)->rec.fresh);
	EXPECT_STREQ(at(0)->name, "tap0");
	ASSERT_EQ(slots(), 2);
	EXPECT_TRUE(at(1)->gone);
	EXPECT_FALSE(at(1)->rec.present);
	EXPECT_EQ(table_find("br0"), nullptr);
	table_drop_gone();
	EXPECT_EQ(slots(), 1);

	/* br0 again under its old index: new, with no figures yet */
	fake.mono += S;
	row(5, "br0", 7);
	table_sample(fake.mono, true);
	ASSERT_EQ(slots(), 2);
	EXPECT_TRUE(at(1)->rec.fresh);
	EXPECT_FALSE(at(0)->rec.fresh);
	table_clear();
	EXPECT_EQ(slots(), 0);
}

TEST(Overview, RowsFitTheirColumns)
{
	setlocale(LC_CTYPE, "C.UTF-8");
	if_slot s{};
	char buf[256];
	snprintf(s.name, sizeof s.name, "%s", "eth\x1b[2J");
	snprintf(s.rec.addr, sizeof s.rec.addr, "%s", "192.0.2.10");
	s.rec.flags = IF_UP;
	s.rec.per_second[IBYTES] = 104200;
	s.rec.per_second[OBYTES] = 18446744073709551615u;
	overview_line(buf, sizeof buf, s, true, false);
	/* the escape shown as ^[, the biggest figure fitted to its column */
	EXPECT_STREQ(buf, "* eth^[[2J         up    192.0.2.10                104200  18014398509481M");
	overview_header(buf, sizeof buf, true);
	EXPECT_STREQ(buf, "  interface        state address                in bits/s       out bits/s");
	s.rec.fresh = true;
	s.rec.flags = 0;
	s.rec.addr[0] = '\0';
	overview_line(buf, sizeof buf, s, false, true);
	EXPECT_STREQ(buf, "  eth^[[2J         down  -                              -                -");
	EXPECT_LE(strlen(buf), 80u);
}

}	// namespace
