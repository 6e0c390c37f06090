#include <gtest/gtest.h>
#include <string>

#include "capture/capture.h"

namespace {

/* The shown text, or "<dropped>". */
std::string shown(std::string line, std::string host = "", int cols = 80)
{
	char out[LINE_SIZE];
	if (!filter_line(line, host, cols, out))
		return "<dropped>";
	return out;
}

const std::string tcp = "12:34:56.789012 IP alpha.22 > beta.51000: Flags [P.], length 52\n";

TEST(Filter, ShortensTimeStampHostAndChecksumRemarks)
{
	EXPECT_EQ(shown(tcp), "12:34:56 IP alpha.22 > beta.51000: Flags [P.], length 52");
	EXPECT_EQ(shown(tcp, "alpha"), "12:34:56 IP .22 > beta.51000: Flags [P.], length 52");
	/* only the first occurrence of the name */
	EXPECT_EQ(shown("12:00:00.000001 alpha > alpha\n", "alpha"), "12:00:00  > alpha");
	/* a name at the very end of the line */
	EXPECT_EQ(shown("12:00:00.000001 > alpha\n", "alpha"), "12:00:00 > ");
	EXPECT_EQ(shown("12:00:00.000001 x [tcp sum ok] y [tcp sum ok] z [udp sum ok]\n"),
		  "12:00:00 x y [tcp sum ok] z");
	EXPECT_EQ(shown("12:00:00.000001 [udp sum ok] [tcp sum ok]\n"), "12:00:00");
}

TEST(Filter, DropsLinesWithoutTimeStamp)
{
	EXPECT_EQ(shown("\tcontinuation line of verbose output\n"), "<dropped>");
	EXPECT_EQ(shown("\n"), "<dropped>");
	EXPECT_EQ(shown("12:34\n"), "<dropped>");	/* too short, even if the buffer held more */
	EXPECT_EQ(shown("12:34:"), "12:34:");
	EXPECT_EQ(shown("tcpdump: listening on vt0\n"), "<dropped>");
}

TEST(Filter, ShortLinesLoseTheirFraction)
{
	EXPECT_EQ(shown("12:34:56.78\n"), "12:34:56");
	EXPECT_EQ(shown("12:34:56.789012"), "12:34:56");	/* exactly 15 characters */
	EXPECT_EQ(shown("12:34:56.789012X"), "12:34:56X");
}

TEST(Filter, CutToTheScreenWidthInsideTheBuffer)
{
	std::string line = "12:34:56.789012 " + std::string(184, 'x') + "\n";
	std::string out = shown(line);
	EXPECT_EQ(out.size(), 79u);
	EXPECT_EQ(out.substr(0, 10), "12:34:56 x");
	EXPECT_EQ(shown(line, "", 132).size(), 131u);
	/* wider than the line buffer: the cut stays inside it */
	std::string piece = "12:34:56.789012 " + std::string(LINE_SIZE - 1 - 16, 'y');
	EXPECT_EQ(shown(piece, "", 5000).size(), LINE_SIZE - 1 - 7);
}

TEST(Pieces, LinesLongLinesAndTheIncompleteRest)
{
	std::string two = "12:00:00.1 a\n12:00:01.1 b\n";
	EXPECT_EQ(next_piece(two.data(), two.size(), false), 13u);
	EXPECT_EQ(next_piece("half a li", 9, false), 0u);	/* waits for its end */
	EXPECT_EQ(next_piece("half a li", 9, true), 9u);	/* unless the program ended */
	EXPECT_EQ(next_piece("", 0, true), 0u);

	std::string longer(2100, 'z');
	longer += "\n";
	EXPECT_EQ(next_piece(longer.data(), longer.size(), false), LINE_SIZE - 1);
	EXPECT_EQ(next_piece(longer.data(), 1500, false), LINE_SIZE - 1);
	std::string exact(LINE_SIZE - 1, 'z');
	exact += "\n";
	/* 1023 characters and a line end: the end comes as a piece of its own */
	EXPECT_EQ(next_piece(exact.data(), exact.size(), false), LINE_SIZE - 1);
	EXPECT_EQ(next_piece(exact.data() + LINE_SIZE - 1, 1, false), 1u);
}

}
