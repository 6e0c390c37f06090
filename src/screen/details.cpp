/*
 * Every counter the interface has, a row for each and direction, in a
 * window over the lower part: the kernel's total, the last second, the
 * peak second since the figures started with its time of day, and the
 * average second since then.  Drawn from the sampler's record; only the
 * rows whose text changed are written.
 */
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "main/main.h"
#include "screen/screen.h"

constexpr int NAME_COLS = 14, AT_COLS = 8;
constexpr size_t DETAIL_SIZE = 160;	/* a row at the widest figures */

static const char *const names[NCOUNTERS] = {
	"bytes in", "bytes out", "packets in", "packets out", "errors in", "errors out",
	"drops in", "drops out", "multicast in", "multicast out", "collisions in", "collisions out",
};

int detail_width(int cols)
{
	/* 20 digits and a space are a 64-bit counter whole */
	return std::clamp((cols - 1 - NAME_COLS - AT_COLS - 5) / 4, 10, 21);
}

int detail_header(char *buf, size_t size, int width)
{
	return snprintf(buf, size, "%-*s %*s %*s %*s %-*s %*s", NAME_COLS, "", width, "total", width,
			"/s", width, "peak/s", AT_COLS, "at", width, "avg/s");
}

/* v in the field: bytes in bits for the byte rows if asked, k, M, G where it does not fit */
static void figure(char *buf, size_t size, int i, bool bits, uint64_t v, int width)
{
	if (bits && i <= OBYTES)
		fit_bits(buf, size, v, width);
	else
		fit_count(buf, size, v, width);
}

int detail_line(char *buf, size_t size, const sample_rec &r, int i, bool bits, int width)
{
	char total[32] = "-", now[32] = "-", peak[32] = "-", at[16] = "-", avg[32] = "-";
	const char *name = bits && i == IBYTES ? "bits in" : bits && i == OBYTES ? "bits out" : names[i];

	if (r.present && r.kept >> i & 1) {
		figure(total, sizeof total, i, bits, r.count[i], width);
		if (r.whole_second)
			figure(now, sizeof now, i, bits, r.per_second[i], width);
		if (r.have_avg) {
			figure(peak, sizeof peak, i, bits, r.peak[i], width);
			figure(avg, sizeof avg, i, bits, r.avg[i], width);
		}
		tm local;
		if (r.peak_at[i] && localtime_r(&r.peak_at[i], &local))
			strftime(at, sizeof at, "%H:%M:%S", &local);
	}
	return snprintf(buf, size, "%-*s %*s %*s %*s %-*s %*s", NAME_COLS, name, width, total, width,
			now, width, peak, AT_COLS, at, width, avg);
}

/*
 * What each row of the window says, so that a second writes only those
 * that changed; and the figures it says, so that an idle second compares
 * numbers and formats nothing.
 */
static char drawn[1 + NCOUNTERS][DETAIL_SIZE];
struct row_figures {
	uint64_t v[4];
	time_t at;
	unsigned how;
	int width;
};
static row_figures drawn_figures[NCOUNTERS];
static bool figures_known;

void details_forget()
{
	for (auto &d : drawn)
		d[0] = '\0';
	figures_known = false;
}

static bool same_figures(const sample_rec &r, int i, bool bits, int width)
{
	row_figures f = {{r.count[i], r.per_second[i], r.peak[i], r.avg[i]}, r.peak_at[i],
			 r.present | (r.kept >> i & 1) << 1 | r.whole_second << 2 | r.have_avg << 3 |
				 bits << 4,
			 width};
	bool same = figures_known && memcmp(&f, &drawn_figures[i], sizeof f) == 0;
	drawn_figures[i] = f;
	return same;
}

static bool put_row(int y, int k, const char *text)
{
	if (strcmp(drawn[k], text) == 0)
		return false;
	mvwprintw(st.details_win, y, 0, "%-*.*s", COLS, COLS, text);
	snprintf(drawn[k], sizeof drawn[k], "%s", text);
	return true;
}

/* A taller window puts a blank row between the counters' pairs. */
bool draw_details()
{
	char line[DETAIL_SIZE];
	int width = detail_width(COLS);
	int gap = getmaxy(st.details_win) >= 1 + NCOUNTERS + NCOUNTERS / 2 - 1 ? 1 : 0;
	bool changed = false;

	if (!figures_known) {
		detail_header(line, sizeof line, width);
		changed |= put_row(0, 0, line);
	}
	for (int i = 0; i < NCOUNTERS; i++) {
		if (same_figures(st.rec, i, st.bits, width))
			continue;
		detail_line(line, sizeof line, st.rec, i, st.bits, width);
		changed |= put_row(1 + i + gap * (i / 2), 1 + i, line);
	}
	figures_known = true;
	return changed;
}

void details_update()
{
	if (st.lower_view == VIEW_DETAILS && screen_shown() && draw_details())
		screen_refresh(st.details_win);
}
