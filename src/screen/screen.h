#pragma once
/* The curses screen: the two windows with their template, the keys and the menu. */
#include <cstddef>
#include <string_view>

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
