#pragma once
/* The curses screen: the two windows with their template, the keys and the menu. */
#include <cstddef>
#include <cstdint>
#include <curses.h>
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
void screen_show(int view);	/* the lower part: one of VIEW_* */
WINDOW *lower_window();		/* the window of the view shown */
void open_help();		/* the keys, until a key or 5 s */
void close_help();
void draw_figure_labels();
void draw_traffic_labels();	/* rows 5 and 6, in the unit chosen */
int64_t screen_next_due();	/* the monotonic time the keys' window closes */
void screen_tick();		/* closes it when due */
/* one write for w, with the keys' window kept on top */
void screen_refresh(WINDOW *w);

/* The figures (figures.cpp): drawn from the sampler's record and the configuration it read. */
void screen_sample(const sample_rec &r);
void screen_config();		/* the address row, as st has it */
void screen_new_row();		/* another interface: rows 2 to 8 from the template */
void screen_figures_done();	/* after a pass: one refresh, if anything changed */
void screen_units();		/* bytes or bits changed: labels and figures again */
void forget_fields();		/* the window was drawn anew: write every figure again */
void redraw_fields();		/* the window was drawn anew: the figures last shown, at once */

/*
 * The capture pane, which the screen keeps whether it is shown or not:
 * capture hands it each line it keeps, already in its visible form and
 * cut, and notes of ours, which the screen cuts to the width.
 */
int pane_cols();	/* the columns a line may take, plus one */
int pane_rows();	/* the lines it shows at once (0 while the terminal is too small) */
void pane_line(const char *text);
void pane_done();	/* the end of a batch of lines: one refresh */
[[gnu::format(printf, 1, 2)]] void pane_note(const char *fmt, ...);
void pane_note_error(const char *what, int err, int retry);

/* Pure helpers: the title bars, filled with "-" to the width in columns
 * (at most TITLE_SIZE - 1 bytes); the columns they take. */
int title_line(char *buf, const char *ifname, int cols);
int lower_title(char *buf, int view, int cols);	/* row 9, for VIEW_* */
bool layout_fits(int cols, int lines);
void size_notice(char *buf, size_t size, int cols, int lines);

/*
 * Text as it may reach the screen: every control character shown as ^X,
 * a format character (bidi controls, zero-width ones) as <U+XXXX>, a byte
 * that is no character of the locale as "?", and cut to at most
 * cols screen columns.  out is always terminated; returns the columns used.
 */
int visible_text(std::string_view in, int cols, char *out, size_t size);

/* Every counter (details.cpp): a row for each, drawn from st.rec. */
bool draw_details();	/* the rows that changed since the last; true: any */
void details_forget();	/* its window is new and blank */
void details_update();	/* drawn and refreshed, if shown */
/* Pure helpers: the width of a figure at cols columns; the header; counter i's row. */
int detail_width(int cols);
int detail_header(char *buf, size_t size, int width);
int detail_line(char *buf, size_t size, const sample_rec &r, int i, bool bits, int width);

/* Every interface (overview.cpp), from the table of every interface. */
void overview_open();	/* the highlight on the interface followed */
void draw_overview();
void overview_update();	/* drawn and refreshed, if shown */
bool overview_key(int key);	/* true: a key of the overview's, done */
/* Pure helpers: its header and an interface's row (current: the one followed). */
int overview_header(char *buf, size_t size, bool bits);
int overview_line(char *buf, size_t size, const if_slot &s, bool current, bool bits);
void screen_switch(const char *ifname);	/* another interface: its title, the template, no graph */

/* The graph (graph.cpp). */
enum glyph_set { G_ASCII, G_HALVES, G_EIGHTHS };
void graph_init(const char *codeset, const char *term);
void graph_sample(const sample_rec &r);	/* into the ring, and drawn if shown */
bool draw_graph();	/* the cells that changed since the last; true: any */
void graph_forget();	/* its window is new and blank */
void graph_update();	/* drawn and refreshed, if shown */
/* Pure helpers: the characters a terminal can draw a bar with; the scale,
 * 1, 2 or 5 times a power of ten at or above max; a bar's height in steps
 * of levels, never 0 for traffic; the cell of a bar of that height at row
 * from the bottom; a rate with k, M, G as powers of 1000. */
int graph_glyphs(const char *codeset, const char *term);
uint64_t graph_scale(uint64_t max);
int graph_height(uint64_t v, uint64_t scale, int levels);
int graph_steps(int set);
const char *graph_cell(int set, int height, int row);
void format_rate(char *buf, size_t size, uint64_t v, bool bits);
