/*
 * The figures of the upper window, drawn from the sampler's records and
 * the configuration it read.  Each field is remembered as last written: an
 * idle sample changes few of them, and curses work (and a terminal write)
 * is spent only on those.
 */
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "main/main.h"
#include "screen/screen.h"

/* The address row: address and host name from column 6 up to the label at 59. */
constexpr int ADDR_COL = 6, HOST_COL = 22, LABEL_COL = 59, ADDR_ROW_COLS = LABEL_COL - ADDR_COL;

/*
 * The figures of the upper window, each remembered as last written: an
 * idle sample changes few of them, and curses work (and a terminal write)
 * is spent only on those.  A text shorter than the one before is padded
 * over it, so nothing of the old figure stays.
 */
enum field { F_ADDR, F_OTHER, F_CHANGE, F_BYTES_IN, F_BYTES_OUT, F_PKTS_IN, F_PKTS_OUT,
	     F_WINDOWS, NFIELDS = F_WINDOWS + 3 * NTRAFFIC };

static struct {
	int cols;	/* -1: unknown, write it */
	int row, col;
	uint64_t value;	/* what the text says, for a figure */
} shown[NFIELDS];
/* apart: an idle second compares values and never reads a text */
static char shown_text[NFIELDS][4 * FIELD_SIZE];
static bool upper_changed;

void forget_fields()
{
	for (auto &f : shown)
		f.cols = -1;
}

/* The figures of rows 2 to 8, which start again from the template. */
static void forget_figures()
{
	for (int f = F_CHANGE; f < NFIELDS; f++)
		shown[f].cols = -1;
}

void redraw_fields()
{
	for (auto &f : shown)
		if (f.cols >= 0)
			mvwaddstr(st.upper_win, f.row, f.col, shown_text[&f - shown]);
}

static void put_text(int f, int row, int col, const char *text, int cols)
{
	size_t n = strlen(text);

	if (n < sizeof shown_text[f] && shown[f].cols == cols && strcmp(shown_text[f], text) == 0)
		return;
	mvwaddstr(st.upper_win, row, col, text);
	if (cols < shown[f].cols)
		wprintw(st.upper_win, "%*s", shown[f].cols - cols, "");
	if (n < sizeof shown_text[f]) {
		memcpy(shown_text[f], text, n + 1);
		shown[f].cols = cols;
	} else {
		shown[f].cols = -1;
	}
	shown[f].row = row;
	shown[f].col = col;
	upper_changed = true;
}

/*
 * An idle second changes no figure: comparing the numbers spares it all
 * the formatting, which on caches gone cold in a second of sleep costs
 * more than the kernel's answer.
 */
static bool same_value(int f, uint64_t v)
{
	return shown[f].cols >= 0 && shown[f].value == v;
}

/* ASCII text padded to width with "%-*s" */
static void put_padded(int f, int row, int col, int width, const char *text)
{
	char line[2 * FIELD_SIZE];
	int n = snprintf(line, sizeof line, "%-*s", width, text);

	put_text(f, row, col, line, n < 0 ? 0 : n);
}

void screen_figures_done()
{
	/* while the terminal is too small the windows are not on it */
	if (upper_changed && screen_shown())
		screen_refresh(st.upper_win);
	upper_changed = false;
}

/*
 * Address and host name, or an IPv6 address across both columns, or a
 * dash.  The name is shown with every character as it is (a name service
 * can hand back anything, and a cursor movement would disturb the other
 * fields) and stops before the label.
 */
static void show_addr_row()
{
	char text[4 * FIELD_SIZE];
	int used;

	if (st.last_addr[0]) {
		used = snprintf(text, sizeof text, "%-*s", HOST_COL - ADDR_COL, st.last_addr);
		used += visible_text(st.host_pattern, std::min(LABEL_COL, COLS) - HOST_COL,
				     text + used, sizeof text - ADDR_ROW_COLS - used);
	} else {
		used = snprintf(text, sizeof text, "%s", st.addr6[0] ? st.addr6 : "-");
	}
	if (used < ADDR_ROW_COLS) {
		size_t n = strlen(text);
		memset(text + n, ' ', ADDR_ROW_COLS - used);
		text[n + ADDR_ROW_COLS - used] = '\0';
		used = ADDR_ROW_COLS;
	}
	put_text(F_ADDR, 1, ADDR_COL, text, used);
	st.host_changed = false;
}


/* The label as the flags have it, and the peer or broadcast address behind it. */
static void show_other()
{
	char text[FIELD_SIZE];

	snprintf(text, sizeof text, "%-5s%-15s", st.other_label, st.other_addr);
	put_text(F_OTHER, 1, LABEL_COL, text, 20);
}

void screen_config()
{
	show_addr_row();
	show_other();
}

/* Figures of an interface that went away belong to it: rows 2 to 8 start again from the template. */
void screen_new_row()
{
	draw_figure_labels();
	forget_figures();
	upper_changed = true;
}

/*
 * The change row from column 5 is one field, so that nothing of a longer
 * text before (the "unsupported" one, say) stays behind.  The text shows
 * whole minutes: the same minute, the same text.
 */
static void show_change(const sample_rec &r)
{
	static time_t drawn_time, drawn_prev;
	static int64_t drawn_held;
	static bool drawn_with_prev;
	static char prev_text[SINCE_TEXT_SIZE];
	char text[SINCE_TEXT_SIZE];
	char row[2 * SINCE_TEXT_SIZE];

	if (r.chg_time == 0) {
		put_padded(F_CHANGE, 2, 5, 0, "last administrative change time unsupported by driver");
		shown[F_CHANGE].value = UINT64_C(1) << 63;	/* no minute's */
		return;
	}
	if (r.chg_time != drawn_time || r.chg_prev != drawn_with_prev ||
	    r.chg_prev_time != drawn_prev || r.chg_prev_held != drawn_held) {
		shown[F_CHANGE].cols = -1;
		drawn_time = r.chg_time;
		drawn_with_prev = r.chg_prev;
		drawn_prev = r.chg_prev_time;
		drawn_held = r.chg_prev_held;
		prev_text[0] = '\0';
		if (r.chg_prev)
			format_since(prev_text, sizeof prev_text, r.chg_prev_time, r.chg_prev_held);
	}
	uint64_t minute = r.chg_elapsed / 60 * 2 + (r.chg_elapsed < 0);
	if (same_value(F_CHANGE, minute))
		return;
	format_since(text, sizeof text, r.chg_time, r.chg_elapsed);
	/* "%-35s" at column 5, and the previous one with "%-35s" at column 44 */
	snprintf(row, sizeof row, "%-39.39s%s", text, prev_text);
	put_padded(F_CHANGE, 2, 5, prev_text[0] ? 74 : 35, row);
	shown[F_CHANGE].value = minute;
}

/* A counter in a field of width columns, never beyond it. */
static void put_count(int f, int row, int col, int width, uint64_t v)
{
	char text[COUNT_TEXT_SIZE];

	if (same_value(f, v))
		return;
	fit_count(text, sizeof text, v, width);
	put_padded(f, row, col, width, text);
	shown[f].value = v;
}

static void put_bytes(int f, int row, int col, uint64_t v)
{
	constexpr int width = 24;
	char text[COUNT_TEXT_SIZE];

	if (same_value(f, v))
		return;
	format_count(text, sizeof text, v);
	if (strlen(text) > width)
		fit_count(text, sizeof text, v, width);
	put_padded(f, row, col, width, text);
	shown[f].value = v;
}

/* A traffic figure of bytes, in the unit chosen: bits as the bytes times 8, in units of 1000. */
static void put_traffic(int f, int row, int col, int width, uint64_t v)
{
	char text[COUNT_TEXT_SIZE];

	if (!st.bits) {
		put_count(f, row, col, width, v);
		return;
	}
	if (same_value(f, v))
		return;
	fit_bits(text, sizeof text, v, width);
	put_padded(f, row, col, width, text);
	shown[f].value = v;
}

/* The column and width of each block: h, m, s. */
static const struct {
	int col, width;
} blocks[3] = {{12, 16}, {42, 16}, {70, 9}};

/* Rows 5..8 in counter order, at the block's column. */
static void show_window(const uint64_t v[NCOUNTERS], int which)
{
	for (int i = 0; i < NTRAFFIC; i++) {
		int f = F_WINDOWS + 3 * i + which;
		if (i <= OBYTES)
			put_traffic(f, 5 + i, blocks[which].col, blocks[which].width, v[i]);
		else
			put_count(f, 5 + i, blocks[which].col, blocks[which].width, v[i]);
	}
}

/* The figures of a sample in the upper window; of the blocks, those that ended. */
void screen_sample(const sample_rec &r)
{
	put_bytes(F_BYTES_IN, 3, 12, r.count[IBYTES]);
	put_bytes(F_BYTES_OUT, 3, 53, r.count[OBYTES]);
	/* padded like the bytes, or digits of a longer figure before would stay */
	put_count(F_PKTS_IN, 4, 12, 24, r.count[IPACKETS]);
	put_count(F_PKTS_OUT, 4, 53, 24, r.count[OPACKETS]);
	show_change(r);
	if (r.whole_second)
		show_window(r.per_second, 2);
	if (r.minute_done)
		show_window(r.minute, 1);
	if (r.hour_done)
		show_window(r.hour, 0);
	graph_sample(r);
	details_update();
}


/*
 * Bytes or bits: the labels of the traffic rows and every traffic figure
 * shown, written again in the new unit at once.
 */
void screen_units()
{
	draw_traffic_labels();
	for (int which = 0; which < 3; which++) {
		uint64_t v[2];
		for (int i = 0; i <= OBYTES; i++) {
			int f = F_WINDOWS + 3 * i + which;
			v[i] = shown[f].value;
			if (shown[f].cols < 0)
				continue;
			shown[f].cols = -1;
			put_traffic(f, 5 + i, blocks[which].col, blocks[which].width, v[i]);
		}
	}
	upper_changed = true;
}
