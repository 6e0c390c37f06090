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

/* A row of the counters' table: kept or not, bits for the bytes, the peak's time of day. */
TEST(Details, RowsOfTheTable)
{
	setenv("TZ", "UTC0", 1);
	tzset();
	sample_rec r{};
	r.present = r.whole_second = r.have_avg = true;
	r.kept = 1u << IBYTES | 1u << IERRORS;
	r.count[IBYTES] = 18446744073709551615u;
	r.per_second[IBYTES] = 104200;
	r.peak[IBYTES] = 151000;
	r.peak_at[IBYTES] = 1796000000 + 3600 + 61;
	r.avg[IBYTES] = 98000;
	char buf[160];
	int w = detail_width(80);
	EXPECT_EQ(w, 13);
	detail_header(buf, sizeof buf, w);
	EXPECT_STREQ(buf, "                       total            /s        peak/s at               avg/s");
	EXPECT_LE(detail_line(buf, sizeof buf, r, IBYTES, false, w), 79);
	EXPECT_STREQ(buf, "bytes in        18014398509G        104200        151000 01:54:21         98000");
	detail_line(buf, sizeof buf, r, IBYTES, true, w);
	EXPECT_STREQ(buf, "bits in         18446744073G        833600       1208000 01:54:21        784000");
	detail_line(buf, sizeof buf, r, IERRORS, false, w);
	EXPECT_STREQ(buf, "errors in                  0             0             0 -                    0");
	detail_line(buf, sizeof buf, r, OMCASTS, false, w);
	EXPECT_STREQ(buf, "multicast out              -             -             - -                    -");
	/* a 64-bit counter whole on a wide terminal */
	detail_line(buf, sizeof buf, r, IBYTES, false, detail_width(200));
	EXPECT_NE(std::string(buf).find(" 18446744073709551615 "), std::string::npos);
}
