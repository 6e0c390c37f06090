#include <gtest/gtest.h>
#include <string>

#include "main/main.h"
#include "screen/screen.h"

namespace {

TEST(Graph, ScaleIsOneTwoOrFiveTimesAPowerOfTen)
{
	EXPECT_EQ(graph_scale(0), 1u);
	EXPECT_EQ(graph_scale(1), 1u);
	EXPECT_EQ(graph_scale(3), 5u);
	EXPECT_EQ(graph_scale(104200), 200000u);
	EXPECT_EQ(graph_scale(200000), 200000u);
	EXPECT_EQ(graph_scale(200001), 500000u);
	EXPECT_EQ(graph_scale(5000000001), 10000000000u);
	EXPECT_EQ(graph_scale(UINT64_MAX), UINT64_MAX);
	char buf[32];
	format_rate(buf, sizeof buf, 200000, false);
	EXPECT_STREQ(buf, "200 kB/s");
	format_rate(buf, sizeof buf, 1400000, false);
	EXPECT_STREQ(buf, "1.4 MB/s");
	format_rate(buf, sizeof buf, 5000000, true);
	EXPECT_STREQ(buf, "5 Mbit/s");
	format_rate(buf, sizeof buf, 999, true);
	EXPECT_STREQ(buf, "999 bit/s");
}

TEST(Graph, HeightsToTheStepAndNeverEmptyForTraffic)
{
	EXPECT_EQ(graph_height(0, 200000, 48), 0);
	EXPECT_EQ(graph_height(1, 200000, 48), 1);	/* the smallest bar is one step */
	EXPECT_EQ(graph_height(104200, 200000, 48), 25);
	EXPECT_EQ(graph_height(200000, 200000, 48), 48);
	EXPECT_EQ(graph_height(UINT64_MAX, UINT64_MAX, 48), 48);
}

TEST(Graph, CellsForEachCharacterSet)
{
	EXPECT_EQ(graph_glyphs("UTF-8", "xterm"), G_EIGHTHS);
	EXPECT_EQ(graph_glyphs("UTF-8", "linux"), G_HALVES);
	EXPECT_EQ(graph_glyphs("ANSI_X3.4-1968", "xterm"), G_ASCII);
	EXPECT_EQ(graph_glyphs("ISO-8859-1", "linux"), G_ASCII);

	/* a bar of 11 steps of 8: one full cell, then three eighths, then nothing */
	EXPECT_STREQ(graph_cell(G_EIGHTHS, 11, 0), "\u2588");
	EXPECT_STREQ(graph_cell(G_EIGHTHS, 11, 1), "\u2583");
	EXPECT_STREQ(graph_cell(G_EIGHTHS, 11, 2), " ");
	EXPECT_STREQ(graph_cell(G_HALVES, 3, 0), "\u2588");
	EXPECT_STREQ(graph_cell(G_HALVES, 3, 1), "\u2584");
	EXPECT_STREQ(graph_cell(G_HALVES, 3, 2), " ");
	EXPECT_STREQ(graph_cell(G_ASCII, 2, 1), "#");
	EXPECT_STREQ(graph_cell(G_ASCII, 2, 2), " ");
}

}
