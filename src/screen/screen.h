#pragma once
/* The curses screen: the two windows with their template, the keys and the menu. */
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ifstat/ifstat.h"

constexpr int UPPER_ROWS = 10;
constexpr int MIN_COLS = 80;
constexpr int MIN_LINES = 24;
constexpr size_t TITLE_SIZE = 512;

void screen_init(const char *ifname);
void screen_resize(const char *ifname);
void screen_end();	/* curses ended, the cursor on a clean line */
void screen_continue();	/* after a stop: our modes again, the whole screen anew */
bool screen_shown();	/* false while the terminal is too small */
void handle_key();
void command_menu();
void draw_figure_labels();

/* Pure helpers: the title bars, filled with "-" to the width in columns
 * (at most TITLE_SIZE - 1 bytes); the columns they take. */
int title_line(char *buf, const char *ifname, int cols);
int capture_title(char *buf, int cols);
bool layout_fits(int cols, int lines);
void size_notice(char *buf, size_t size, int cols, int lines);

/*
 * Text as it may reach the screen: every control character shown as ^X,
 * a format character (bidi controls, zero-width ones) as <U+XXXX>, a byte
 * that is no character of the locale as "?", and cut to at most
 * cols screen columns.  out is always terminated; returns the columns used.
 */
int visible_text(std::string_view in, int cols, char *out, size_t size);

/*
 * The text mode: lines of figures on standard output, one per interval of
 * st.interval samples.
 */
constexpr size_t TEXT_LINE_SIZE = 1024;
void text_start(const char *ifname);	/* the header, for -o text */
void text_sample(const sample_rec &r, const char *ifname);

/* Pure helpers: an interval's samples added up, and its line in either form. */
struct text_sum {
	int samples;
	int64_t span;		/* nanoseconds the differences cover */
	bool broken;		/* a sample with no difference to the one before: no figures */
	uint64_t sum[NCOUNTERS];
};
void sum_sample(text_sum *t, const sample_rec &r);
int text_header(char *buf, size_t size, bool bits);
int text_line(char *buf, size_t size, const text_sum &t, const sample_rec &end, bool bits);
int json_line(char *buf, size_t size, const text_sum &t, const sample_rec &end,
	      std::string_view ifname, int interval, bool bits);
/* in as a JSON string with its quotes: bytes outside printable ASCII as \u00XX */
size_t json_string(char *out, size_t size, std::string_view in);
