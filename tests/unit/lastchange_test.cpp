/* FreeBSD's ifi_lastchange stamps and up flags, in the orders its kernel sends them. */
#include <gtest/gtest.h>

#include "platform/lastchange.h"

namespace {

constexpr unsigned UP = IF_UP | IF_BROADCAST, DOWN = IF_BROADCAST;

/* em0 at row 3, up since 1000 s */
if_change first_row()
{
	if_change c{};
	EXPECT_FALSE(chg_row(&c, 3, "em0", UP, 1000, 0));
	EXPECT_EQ(c.last, 1000);
	return c;
}

TEST(LastChange, OneDownAndOneUpAreTwoChangesWhateverTheStamps)
{
	if_change c = first_row();

	/* ifconfig down: the message's stamp, then the driver's a tick later */
	chg_message(&c, DOWN, 1018, 999000);
	EXPECT_FALSE(chg_row(&c, 3, "em0", DOWN, 1019, 9000));
	chg_message(&c, UP, 1019, 500000);
	EXPECT_FALSE(chg_row(&c, 3, "em0", UP, 1019, 510000));
	EXPECT_EQ(c.changes, 2u);
	EXPECT_EQ(c.last, 1019);
	EXPECT_EQ(c.prev, 1018);

	/* stamps with no up or down: an MTU message, a flags request that changes nothing */
	chg_message(&c, UP, 1030, 0);
	EXPECT_FALSE(chg_row(&c, 3, "em0", UP, 1030, 0));
	EXPECT_EQ(c.changes, 2u);
	EXPECT_EQ(c.last, 1019);
	/* ... the second one unannounced: the row asks for a fresh read, counts nothing */
	EXPECT_TRUE(chg_row(&c, 3, "em0", UP, 1040, 0));
	EXPECT_EQ(c.changes, 2u);
	EXPECT_EQ(c.last, 1019);
}

TEST(LastChange, LostMessagesAndARowReadBeforeTheBurst)
{
	if_change c = first_row();

	/* the down's message dropped by the kernel: the row shows it, and asks for a fresh read */
	EXPECT_TRUE(chg_row(&c, 3, "em0", DOWN, 1050, 0));
	EXPECT_EQ(c.changes, 1u);
	EXPECT_EQ(c.last, 1050);
	chg_message(&c, DOWN, 1050, 0);	/* late: already counted */
	EXPECT_EQ(c.changes, 1u);

	/* a down and an up in one burst, the row read before their messages */
	c = first_row();
	EXPECT_TRUE(chg_row(&c, 3, "em0", UP, 1061, 0));
	EXPECT_EQ(c.changes, 0u);
	chg_message(&c, DOWN, 1060, 0);
	chg_message(&c, UP, 1061, 0);
	EXPECT_EQ(c.changes, 2u);
	EXPECT_EQ(c.last, 1061);
	EXPECT_EQ(c.prev, 1060);
}

TEST(LastChange, AReusedIndexStartsTheRecordAgain)
{
	if_change c = first_row();

	chg_message(&c, DOWN, 1100, 0);
	/* em0 destroyed, tap0 made at once on its index: tap0's own stamp, nothing counted */
	EXPECT_FALSE(chg_row(&c, 3, "tap0", UP, 1101, 0));
	EXPECT_EQ(c.changes, 0u);
	EXPECT_EQ(c.last, 1101);
	EXPECT_EQ(c.prev, 0);
	/* no record: a message changes nothing */
	c = if_change{};
	chg_message(&c, DOWN, 1200, 0);
	EXPECT_EQ(c.changes, 0u);
	EXPECT_EQ(c.last, 0);
}

}
