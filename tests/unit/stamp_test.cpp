#include <gtest/gtest.h>

#include "platform/stamp.h"

namespace {

constexpr int64_t S = 1000000000;

/* A host booted at 1e9 s of wall-clock time, jiffies 0.2 s behind the monotonic clock. */
TEST(Stamp, ChangeTimeFollowsWallClockStepsWithoutJitter)
{
	stamp_clock c{200 * 1000 * 1000, 0};
	int64_t boot = 1000000000 * S;
	int64_t mono = 5000 * S;	/* up 5000 s: jiffies say 4999.8 s */

	/* a change at 4000.00 s of jiffies uptime */
	EXPECT_EQ(stamp_time(400000, boot + mono - c.lag_ns, mono, &c), 1000000000 + 4000);
	/* the two clocks read a few microseconds apart, either way: the same second */
	for (int64_t d : {-3000, 2500, 9000})
		EXPECT_EQ(stamp_time(400000, boot + mono - c.lag_ns + d, mono, &c), 1000004000) << d;
	/* the wall clock set one hour ahead, as NTP does after boot */
	EXPECT_EQ(stamp_time(400000, boot + 3600 * S + mono + S - c.lag_ns, mono + S, &c),
		  1000000000 + 4000 + 3600);
	/* and a step back */
	EXPECT_EQ(stamp_time(400000, boot - 60 * S + mono + 2 * S - c.lag_ns, mono + 2 * S, &c),
		  1000000000 + 4000 - 60);
}

TEST(Stamp, WrapsAfter497Days)
{
	stamp_clock c{0, 0};
	int64_t boot = 1000000000 * S;
	int64_t up = (int64_t(1) << 32) / 100 * S + 1000 * S;	/* 497 days and 1000 s */
	/* a change 500 s ago: the stamp has wrapped once */
	uint32_t stamp = static_cast<uint32_t>((up / S - 500) * 100);
	EXPECT_EQ(stamp_time(stamp, boot + up, up, &c), 1000000000 + up / S - 500);
}

}
