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

constexpr int64_t S = 1000000000;

/* Whatever wakes the loop, samples stay one second apart on the grid. */
TEST(Grid, SamplesOnWholeSecondsWhateverWakesTheLoop)
{
	int64_t next = 10 * S + S / 2, when = 0;

	EXPECT_FALSE(sample_due(10 * S + S / 2 - 1, &next, &when));
	/* woken late by a capture line: the sample still counts from the grid */
	ASSERT_TRUE(sample_due(10 * S + S / 2 + 300000000, &next, &when));
	EXPECT_EQ(when, 10 * S + S / 2);
	EXPECT_EQ(next, 11 * S + S / 2);
	/* wake-ups every 0.98 s never push it: one sample per grid second */
	int samples = 0;
	for (int64_t t = 11 * S; t < 21 * S; t += 980000000)
		samples += sample_due(t, &next, &when);
	EXPECT_EQ(samples, 10);
	EXPECT_EQ(next, 21 * S + S / 2);
	/* held up for seconds (the menu): the grid starts again from now */
	ASSERT_TRUE(sample_due(40 * S + 7, &next, &when));
	EXPECT_EQ(when, 40 * S + 7);
	EXPECT_EQ(next, 41 * S + 7);
}

TEST(Fit, FiguresKeepToTheirFieldInTheByteUnits)
{
	char buf[COUNT_TEXT_SIZE];

	fit_count(buf, sizeof buf, 999999999, 9);
	EXPECT_STREQ(buf, "999999999");
	fit_count(buf, sizeof buf, 12500000000ull, 9);	/* 100 GbE at line rate */
	EXPECT_STREQ(buf, "12207031k");
	fit_count(buf, sizeof buf, 18446744073709551615ull, 9);
	EXPECT_STREQ(buf, "99999999G");
	fit_count(buf, sizeof buf, 18446744073709551615ull, 16);
	EXPECT_STREQ(buf, "18014398509481M");
	fit_count(buf, sizeof buf, 18446744073709551615ull, 24);
	EXPECT_STREQ(buf, "18446744073709551615");
}

}

/* Bits: the bytes times 8, exact, or in units of 1000 where they do not fit. */
TEST(Format, BitsInTheirField)
{
	char buf[COUNT_TEXT_SIZE];
	fit_bits(buf, sizeof buf, 1000, 9);
	EXPECT_STREQ(buf, "8000");
	fit_bits(buf, sizeof buf, 125000000, 9);	/* 1 Gbit/s */
	EXPECT_STREQ(buf, "1000000k");
	fit_bits(buf, sizeof buf, 12500000000, 9);	/* 100 Gbit/s */
	EXPECT_STREQ(buf, "100000M");
	fit_bits(buf, sizeof buf, UINT64_MAX, 9);
	EXPECT_STREQ(buf, "99999999G");
	fit_bits(buf, sizeof buf, 12500000000, 16);
	EXPECT_STREQ(buf, "100000000000");
}
