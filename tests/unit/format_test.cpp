#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

#include "ifstat/ifstat.h"

namespace {

std::string count(uint64_t v)
{
	char buf[COUNT_TEXT_SIZE];
	format_count(buf, sizeof buf, v);
	return buf;
}

TEST(FormatCount, UnitBoundariesMixThousandsAndKibi)
{
	EXPECT_EQ(count(0), "0");
	EXPECT_EQ(count(1024), "1024");
	EXPECT_EQ(count(1025), "1025 (1k)");
	EXPECT_EQ(count(1024000), "1024000 (1000k)");
	EXPECT_EQ(count(1024001), "1024001 (1M)");
	EXPECT_EQ(count(1024000000), "1024000000 (1000M)");
	EXPECT_EQ(count(1024000001), "1024000001 (1G)");
	EXPECT_EQ(count(3000000000), "3000000000 (2G)");
	EXPECT_EQ(count(5000000000), "5000000000 (4G)");
}

TEST(FormatCount, GigabytesBeyondThirtyTwoBits)
{
	/* 2^31 G and up would wrap a 32-bit figure */
	EXPECT_EQ(count(2199023255552000000ULL), "2199023255552000000 (2147483648G)");
	EXPECT_EQ(count(UINT64_MAX), "18446744073709551615 (18014398509G)");
}

std::string since(time_t t, int64_t s)
{
	char buf[SINCE_TEXT_SIZE];
	format_since(buf, sizeof buf, t, s);
	return buf;
}

TEST(FormatSince, LocalTimeAndDaysHoursMinutes)
{
	setenv("TZ", "UTC", 1);
	tzset();
	EXPECT_EQ(since(0, 1 * 86400 + 2 * 3600 + 3 * 60 + 59), "Thu Jan  1 00:00:00 1970 (1:2:3)");
	EXPECT_EQ(since(1700000000, 0), "Tue Nov 14 22:13:20 2023 (0:0:0)");
	/* a change time ahead of the clock: the remainders keep the sign */
	EXPECT_EQ(since(1700000000, -300), "Tue Nov 14 22:13:20 2023 (0:0:-5)");
	EXPECT_EQ(since(1700000000, -90061), "Tue Nov 14 22:13:20 2023 (-1:-1:-1)");
}

timeval at(time_t s, suseconds_t us)
{
	return timeval{s, us};
}

TEST(OnceASecond, AFullSecondOrAClockThatWentBack)
{
	timeval last = at(10, 900000);
	EXPECT_FALSE(second_passed(last, at(10, 950000)));
	EXPECT_FALSE(second_passed(last, at(11, 200000)));
	EXPECT_TRUE(second_passed(last, at(11, 950000)));
	EXPECT_TRUE(second_passed(last, at(11, 900000)));
	EXPECT_TRUE(second_passed(last, at(12, 0)));
	EXPECT_TRUE(second_passed(last, at(9, 0)));
	/* never sampled: the first call works at once */
	EXPECT_TRUE(second_passed(at(0, 0), at(1700000000, 0)));
}

}
