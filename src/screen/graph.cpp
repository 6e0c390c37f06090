/*
 * The traffic graph: bytes (or bits) in per second over bytes out per
 * second, a column a sample, the newest at the right edge.  Every sample
 * since start goes into a fixed ring in the program state, also while the
 * pane is shown, so the graph shows its history at once and a wider
 * terminal shows more of it.  A sample with no second's difference (the
 * interface gone or new, counters that fell, a stop, the open menu) is a
 * gap, drawn so that it cannot pass for a quiet second.
 */
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "main/main.h"
#include "screen/screen.h"

static int glyphs = G_ASCII;

int graph_glyphs(const char *codeset, const char *term)
{
	if (!codeset || strcmp(codeset, "UTF-8") != 0)
		return G_ASCII;
	/* the Linux console's fonts carry the PC's half and full blocks, not the eighths */
	if (term && strncmp(term, "linux", 5) == 0)
		return G_HALVES;
	return G_EIGHTHS;
}

void graph_init(const char *codeset, const char *term)
{
	glyphs = graph_glyphs(codeset, term);
}

uint64_t graph_scale(uint64_t max)
{
	for (uint64_t p = 1;; p *= 10) {
		for (uint64_t m : {1, 2, 5})
			if (max <= m * p)
				return m * p;
		if (p > UINT64_MAX / 100)
			return UINT64_MAX;
	}
}

int graph_height(uint64_t v, uint64_t scale, int levels)
{
	if (v == 0 || scale == 0 || levels <= 0)
		return 0;
	unsigned __int128 h = (static_cast<unsigned __int128>(v) * levels + scale / 2) / scale;
	/* a second with traffic is never empty */
	return std::clamp(static_cast<int>(std::min<unsigned __int128>(h, levels)), 1, levels);
}

int graph_steps(int set)
{
	return set == G_EIGHTHS ? 8 : set == G_HALVES ? 2 : 1;
}

const char *graph_cell(int set, int height, int row)
{
	static const char *const eighths[] = {" ", "\u2581", "\u2582", "\u2583", "\u2584",
					      "\u2585", "\u2586", "\u2587", "\u2588"};
	int steps = graph_steps(set);
	int part = std::clamp(height - row * steps, 0, steps);

	switch (set) {
	case G_EIGHTHS:
		return eighths[part];
	case G_HALVES:
		return part == 2 ? "\u2588" : part == 1 ? "\u2584" : " ";
	default:
		return part ? "#" : " ";
	}
}

void format_rate(char *buf, size_t size, uint64_t v, bool bits)
{
	static const char *const prefix[] = {"", "k", "M", "G", "T", "P", "E"};
	uint64_t unit = 1;
	int k = 0;

	while (k < 6 && v / unit >= 1000) {
		unit *= 1000;
		k++;
	}
	const char *name = bits ? "bit/s" : "B/s";
	if (k > 0 && v / unit < 10 && v % unit != 0)
		snprintf(buf, size, "%" PRIu64 ".%" PRIu64 " %s%s", v / unit, v % unit * 10 / unit,
			 prefix[k], name);
	else
		snprintf(buf, size, "%" PRIu64 " %s%s", v / unit, prefix[k], name);
}

/*
 * What each graph last put into its window, so that a second draws only the
 * cells that changed: an idle graph writes nothing, a moving one a cell or
 * two a column.  Heights by distance from the right edge, where the newest
 * column is at any width.
 */
constexpr int BLANK = -2, GAP = -1;
constexpr size_t LABEL_SIZE = 160;
static struct {
	int n;			/* columns drawn, from the right edge */
	short h[GRAPH_KEEP];	/* their heights, or GAP */
	char label[LABEL_SIZE];
} drawn[2];

/* The window was made anew, blank: nothing of it is drawn. */
void graph_forget()
{
	for (auto &d : drawn) {
		d.n = 0;
		d.label[0] = '\0';
	}
}

static const char *cell_of(int h, int row)
{
	return h == GAP ? ":" : h == BLANK ? " " : graph_cell(glyphs, h, row);
}

/*
 * A cell as curses keeps it, made once for each of the few glyphs there
 * are: writing it then takes no decoding of its bytes.
 */
constexpr int GLYPHS_MAX = 16;
static struct {
	const char *text;
	cchar_t wch;
} made[GLYPHS_MAX];
static int n_made;

static void put_cell(int y, int x, const char *cell)
{
	for (int i = 0; i < n_made; i++)
		if (made[i].text == cell) {
			mvwadd_wch(st.graph_win, y, x, &made[i].wch);
			return;
		}
	wchar_t w[2] = {};
	if (n_made == GLYPHS_MAX || mbstowcs(w, cell, 1) != 1 ||
	    setcchar(&made[n_made].wch, w, A_NORMAL, 0, nullptr) != OK) {
		mvwaddstr(st.graph_win, y, x, cell);
		return;
	}
	made[n_made].text = cell;
	mvwadd_wch(st.graph_win, y, x, &made[n_made++].wch);
}

/* Column x of a graph whose bars end at row bottom, from height was to height now; true: a cell changed. */
static bool draw_column(int x, int bottom, int bar_rows, int was, int now)
{
	int lo = 0, hi = bar_rows - 1;
	int steps = graph_steps(glyphs);

	/* two bars differ only in the rows between their tops */
	if (was >= 0 && now >= 0) {
		lo = std::min(was, now) / steps;
		hi = std::min(hi, (std::max(was, now) - 1) / steps);
	}
	bool changed = false;
	for (int r = lo; r <= hi; r++) {
		const char *cell = cell_of(now, r);
		if (strcmp(cell, cell_of(was, r)) != 0) {
			put_cell(bottom - r, x, cell);
			changed = true;
		}
	}
	return changed;
}

/* One graph: its label row at row top, then its bars down to top + rows - 1; true: a cell changed. */
static bool draw_one(int top, int rows, int which)
{
	static const char *const names[] = {"in ", "out"};
	auto &d = drawn[which];
	int n = std::min({st.graph_count, COLS, GRAPH_KEEP});
	int bar_rows = rows - 1;
	uint64_t most = 0;
	unsigned __int128 sum = 0;
	int seconds = 0;
	char label[LABEL_SIZE], scale_text[32], now_text[32], avg_text[32], peak_text[32];
	bool changed = false;

	/* point k columns from the right edge */
	auto point = [&](int k) -> const graph_point & {
		return st.graph[(st.graph_head - 1 - k + GRAPH_KEEP) % GRAPH_KEEP];
	};
	auto in_unit = [](uint64_t bytes) { return st.bits ? bits_of(bytes) : bytes; };
	for (int k = 0; k < n; k++)
		if (!point(k).gap) {
			most = std::max(most, point(k).v[which]);
			sum += point(k).v[which];
			seconds++;
		}
	uint64_t scale = graph_scale(in_unit(most));
	format_rate(scale_text, sizeof scale_text, scale, st.bits);
	if (n > 0 && !point(0).gap)
		format_rate(now_text, sizeof now_text, in_unit(point(0).v[which]), st.bits);
	else
		snprintf(now_text, sizeof now_text, "-");
	/* over the seconds in view, gaps left out */
	snprintf(avg_text, sizeof avg_text, "-");
	snprintf(peak_text, sizeof peak_text, "-");
	if (seconds) {
		uint64_t avg = static_cast<uint64_t>((sum + seconds / 2) / seconds);
		format_rate(avg_text, sizeof avg_text, in_unit(avg), st.bits);
		format_rate(peak_text, sizeof peak_text, in_unit(most), st.bits);
	}
	snprintf(label, sizeof label, "%s  scale %-13s now %-13s avg %-13s peak %s", names[which],
		 scale_text, now_text, avg_text, peak_text);
	if (strcmp(label, d.label) != 0) {
		mvwprintw(st.graph_win, top, 0, "%-*.*s", COLS, COLS, label);
		memcpy(d.label, label, sizeof label);
		changed = true;
	}

	int levels = bar_rows * graph_steps(glyphs);
	for (int k = 0; k < std::max(n, d.n); k++) {
		int h = BLANK;
		if (k < n && point(k).gap)
			h = GAP;
		else if (k < n)
			h = graph_height(in_unit(point(k).v[which]), scale, levels);
		int was = k < d.n ? d.h[k] : BLANK;
		if (h != was && draw_column(COLS - 1 - k, top + bar_rows, bar_rows, was, h))
			changed = true;
		d.h[k] = static_cast<short>(h);
	}
	d.n = n;
	return changed;
}

/* Into the window, not cleared first: only the cells that changed are written. */
bool draw_graph()
{
	int rows = getmaxy(st.graph_win);
	bool in = draw_one(0, rows / 2, 0);

	return draw_one(rows / 2, rows - rows / 2, 1) || in;
}

/* An idle second changes no cell of the graph, and sends nothing. */
void graph_update()
{
	if (st.lower_view == VIEW_GRAPH && screen_shown() && draw_graph())
		screen_refresh(st.graph_win);
}

void graph_sample(const sample_rec &r)
{
	graph_point &p = st.graph[st.graph_head];

	/* a second's worth, or nothing: a longer span is the menu's or a stop's */
	p.gap = !r.present || r.fresh || !r.whole_second || r.span > SECOND * 3 / 2;
	p.v[0] = p.gap ? 0 : r.per_second[IBYTES];
	p.v[1] = p.gap ? 0 : r.per_second[OBYTES];
	st.graph_head = (st.graph_head + 1) % GRAPH_KEEP;
	st.graph_count = std::min(st.graph_count + 1, GRAPH_KEEP);
	graph_update();
}
