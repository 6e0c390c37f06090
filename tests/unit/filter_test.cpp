#include <clocale>
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "main/main.h"
#include "screen/screen.h"

namespace {

/* The shown text, or "<dropped>". */
std::string shown(std::string line, std::string host = "", int cols = 80)
{
	char out[SHOWN_SIZE];
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
	/* only where it stands whole: web10 and my-web1 are other hosts */
	EXPECT_EQ(shown("12:00:00.000001 IP web10 > web1.22\n", "web1"), "12:00:00 IP web10 > .22");
	EXPECT_EQ(shown("12:00:00.000001 IP my-web1 > x\n", "web1"), "12:00:00 IP my-web1 > x");
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

/* Which pieces of a stream are shown, as the read path walks them. */
std::vector<std::string> shown_pieces(const std::string &data)
{
	std::vector<std::string> out;
	bool tail = false;
	size_t k;

	for (size_t off = 0; (k = next_piece(data.data() + off, data.size() - off, true)) != 0;
	     off += k) {
		std::string piece = data.substr(off, k);
		if (piece_shown(piece, &tail))
			out.push_back(piece.substr(0, 20));
	}
	return out;
}

TEST(Pieces, ALongLineShowsOnlyItsFirstPiece)
{
	/* a packet whose text lines pieces up as forged capture lines */
	std::string forged = "23:59:59.000000 IP 6.6.6.6 > alpha.probe: ICMP echo request";
	std::string line = "12:00:00.000000 IP beta.80 > alpha.5000: HTTP GET /";
	while (line.size() < 3000)
		line += forged;
	std::string data = line + "\n12:00:01.000000 IP next\n";
	std::vector<std::string> want = {line.substr(0, 20), "12:00:01.000000 IP n"};
	EXPECT_EQ(shown_pieces(data), want);
	/* a piece that ends exactly at the line end: the next line is whole again */
	std::string exact = "12:00:00.000000 " + std::string(LINE_SIZE - 1 - 16, 'x');
	EXPECT_EQ(shown_pieces(exact + "\n12:00:01.1 b\n").size(), 2u);
}

class Visible : public ::testing::Test {
protected:
	void SetUp() override
	{
		if (!setlocale(LC_CTYPE, "C.UTF-8"))
			GTEST_SKIP() << "no C.UTF-8 locale here: multibyte text not tested";
	}
	void TearDown() override { setlocale(LC_CTYPE, "C"); }
	std::string vis(std::string in, int cols = 80)
	{
		char out[SHOWN_SIZE];
		visible_text(in, cols, out, sizeof out);
		return out;
	}
};

TEST_F(Visible, ControlCharactersNeverMoveTheCursor)
{
	EXPECT_EQ(vis("a\bb\rc\td\x1b[2Je\x7f"), "a^Hb^Mc^Id^[[2Je^?");
	EXPECT_EQ(vis(std::string("x\0y", 3)), "x^@y");
	/* a capture line with them: shown, and cut by columns, not bytes */
	EXPECT_EQ(shown("12:00:00.000000 \t\t\t" + std::string(100, 'x') + "\n").size(), 79u);
	EXPECT_EQ(shown("12:00:00.000000 a\rb\n").substr(0, 13), "12:00:00 a^Mb");
	/* two columns for ^X: one that does not fit whole is left out */
	EXPECT_EQ(vis("abc\b", 4), "abc");
}

TEST_F(Visible, MultibyteTextByItsWidthAndInvalidBytesAsQuestionMarks)
{
	EXPECT_EQ(vis("h\xc3\xa9te.example"), "h\xc3\xa9te.example");
	EXPECT_EQ(vis("\xe6\x97\xa5\xe6\x9c\xac", 3), "\xe6\x97\xa5");	/* wide: two columns each */
	EXPECT_EQ(vis("a\xff\xc3" "b"), "a??b");
	EXPECT_EQ(vis("a\xc2\x9b" "b"), "a?b");	/* a C1 control */
	/* format characters as escapes, counted by their columns; a combining mark stays */
	EXPECT_EQ(vis("a\u202e" "b\u200b" "c\U000e0041"), "a<U+202E>b<U+200B>c<U+E0041>");
	EXPECT_EQ(vis("a\u202e" "b", 9), "a<U+202E>");
	EXPECT_EQ(vis("a\u202e" "b", 8), "a");
	EXPECT_EQ(vis("e\u0301"), "e\u0301");
	char title[TITLE_SIZE];
	EXPECT_EQ(title_line(title, "v\xc3\xa9t\x01", 80), 80);
	EXPECT_EQ(std::string(title).substr(0, 45), "----- ravlet (1.4) ---------------- v\xc3\xa9t^A --");
	EXPECT_EQ(strlen(title), 81u);	/* one column of two bytes */
	setlocale(LC_CTYPE, "C");
	EXPECT_EQ(vis("h\xc3\xa9"), "h??");
}

/* tcpdump's last message as a note: cut by columns, its bracket kept. */
TEST_F(Visible, EndNoteFitsByColumns)
{
	char note[SHOWN_SIZE];
	std::string e_acute;
	for (int i = 0; i < 100; i++)
		e_acute += "\xc3\xa9";
	end_note(e_acute, 79, note);
	std::string want = "[tcpdump has ended: ";
	for (int i = 0; i < 79 - 21; i++)
		want += "\xc3\xa9";
	EXPECT_EQ(note, want + "]");
	EXPECT_EQ(vis(note, 79), note);	/* the pane's own cut leaves it whole */
	end_note("tcpdump: bad\x1b[2J", 79, note);
	EXPECT_STREQ(note, "[tcpdump has ended: tcpdump: bad^[[2J]");
}

/* tcpdump's messages come in pieces of any size: the last line that says something. */
TEST(Messages, TheLastLineWhateverThePieces)
{
	last_line l{};
	auto text = [&] { return std::string(l.text, l.len); };

	keep_last_line(&l, "tcpdump: listening on vt0\ntcpdump: can't par");
	EXPECT_EQ(text(), "tcpdump: can't par");
	keep_last_line(&l, "se filter expression\n\n");
	EXPECT_EQ(text(), "tcpdump: can't parse filter expression");	/* not the empty one after it */
	keep_last_line(&l, "(No such device exists)");
	EXPECT_EQ(text(), "(No such device exists)");	/* without its line end, too */
	keep_last_line(&l, "\n" + std::string(3000, 'z'));
	EXPECT_EQ(l.len, LINE_SIZE);	/* a long one cut, never past the buffer */
}

TEST(Layout, WidthsAndTheMinimum)
{
	char title[TITLE_SIZE];
	for (int cols : {80, 81, 132, 1100}) {
		title_line(title, "vt0", cols);
		EXPECT_EQ(strlen(title), std::min<size_t>(cols, TITLE_SIZE - 1)) << cols;
		lower_title(title, VIEW_PANE, cols);
		EXPECT_EQ(strlen(title), std::min<size_t>(cols, TITLE_SIZE - 1)) << cols;
		std::string cut = shown("12:00:00.000000 " + std::string(2000, 'y'), "", cols);
		EXPECT_EQ(cut.size(), std::min<size_t>(cols - 1, LINE_SIZE - 1 - 7)) << cols;
	}
	/* a name of other bytes: its visible form, and the bar filled by columns */
	EXPECT_EQ(title_line(title, "v\xc3\xa9t\x01", 80), 80);
	EXPECT_EQ(std::string(title).substr(0, 45), "----- ravlet (1.4) ---------------- v??t^A --");
	EXPECT_TRUE(layout_fits(80, 24));
	EXPECT_FALSE(layout_fits(79, 24));
	EXPECT_FALSE(layout_fits(80, 23));
	char notice[TITLE_SIZE];
	size_notice(notice, sizeof notice, 60, 15);
	EXPECT_STREQ(notice, "ravlet needs at least 80x24, the terminal is 60x15");
}

}
