/*
 * Every interface at a glance: a window over the lower part, one row for
 * each interface the system lists, its state, first address and traffic
 * in the unit chosen, by name or by traffic.  The highlight stays on its
 * interface (by index, which a rename keeps) as the list reorders; Enter
 * takes it.  Only the rows in sight are drawn.
 */
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "main/main.h"
#include "screen/screen.h"

/* The columns of a row: name, state, address, in and out a second. */
constexpr int OV_NAME = 2, OV_STATE = 19, OV_ADDR = 25, OV_FIG = 41, OV_FIG_W = 17;

static if_slot *order[TABLE_MAX];
static int count;
static int top;		/* the first row in sight */
static int pos;		/* the highlighted row */
static int highlight;	/* the index of its interface, which keeps it through a reorder */

static bool by_name(const if_slot *a, const if_slot *b)
{
	return strncmp(a->name, b->name, IFNAME_SIZE) < 0;
}

/* In and out a second, saturating; none yet is no traffic. */
static uint64_t traffic(const if_slot *s)
{
	const sample_rec &r = s->rec;
	uint64_t v = r.per_second[IBYTES] + r.per_second[OBYTES];

	if (r.fresh)
		return 0;
	return v < r.per_second[IBYTES] ? UINT64_MAX : v;
}

/* The busiest first, and by name among equals. */
static bool by_traffic(const if_slot *a, const if_slot *b)
{
	uint64_t ta = traffic(a), tb = traffic(b);
	return ta != tb ? ta > tb : by_name(a, b);
}

int overview_header(char *buf, size_t size, bool bits)
{
	return snprintf(buf, size, "%*s%-*s%-*s%-*s%*s%*s", OV_NAME, "", OV_STATE - OV_NAME,
			"interface", OV_ADDR - OV_STATE, "state", OV_FIG - OV_ADDR, "address",
			OV_FIG_W - 1, bits ? "in bits/s" : "in bytes/s", OV_FIG_W,
			bits ? "out bits/s" : "out bytes/s");
}

/* A traffic figure right-aligned in its column, "-" while there is none. */
static void put_rate(char *buf, size_t size, const sample_rec &r, int i, bool bits, int width)
{
	char fig[COUNT_TEXT_SIZE];

	if (r.fresh)
		snprintf(fig, sizeof fig, "-");
	else if (bits)
		fit_bits(fig, sizeof fig, r.per_second[i], width);
	else
		fit_count(fig, sizeof fig, r.per_second[i], width);
	snprintf(buf, size, "%*s", width, fig);
}

int overview_line(char *buf, size_t size, const if_slot &s, bool current, bool bits)
{
	char name[4 * IFNAME_SIZE], in[COUNT_TEXT_SIZE], out[COUNT_TEXT_SIZE];
	const sample_rec &r = s.rec;
	int name_cols = visible_text(s.name, OV_STATE - OV_NAME - 1, name, sizeof name);

	put_rate(in, sizeof in, r, IBYTES, bits, OV_FIG_W - 1);
	put_rate(out, sizeof out, r, OBYTES, bits, OV_FIG_W - 1);
	/* the name padded by its columns, not its bytes */
	return snprintf(buf, size, "%c %s%*s%-*s%-*s%s %s", current ? '*' : ' ', name,
			OV_STATE - OV_NAME - name_cols, "", OV_ADDR - OV_STATE,
			r.flags & IF_UP ? "up" : "down", OV_FIG - OV_ADDR, r.addr[0] ? r.addr : "-",
			in, out);
}

/* The slots in the order chosen, the highlight found again by its interface's index. */
static void arrange()
{
	int n;
	if_slot **slots = table_slots(&n);

	count = 0;
	for (int i = 0; i < n; i++)
		if (!slots[i]->gone)
			order[count++] = slots[i];
	std::sort(order, order + count, st.ov_by_traffic ? by_traffic : by_name);
	for (int i = 0; i < count; i++)
		if (order[i]->index == highlight)
			pos = i;
	pos = std::clamp(pos, 0, std::max(count - 1, 0));
	if (count)
		highlight = order[pos]->index;
}

void draw_overview()
{
	WINDOW *w = st.overview_win;
	int rows = getmaxy(w) - 1;
	char line[TITLE_SIZE];

	arrange();
	if (pos < top)
		top = pos;
	if (pos >= top + rows)
		top = pos - rows + 1;
	top = std::clamp(top, 0, std::max(count - rows, 0));
	werase(w);
	overview_header(line, sizeof line, st.bits);
	mvwaddnstr(w, 0, 0, line, COLS);
	for (int i = top; i < count && i < top + rows; i++) {
		overview_line(line, sizeof line, *order[i], order[i]->index == st.mib_row, st.bits);
		if (i == pos)
			wattron(w, A_STANDOUT);
		mvwaddnstr(w, 1 + i - top, 0, line, COLS);
		if (i == pos) {
			/* the whole row, to the edge */
			int x = getcurx(w);
			if (x < COLS && getcury(w) == 1 + i - top)
				mvwhline(w, 1 + i - top, x, ' ' | A_STANDOUT, COLS - x);
			wattroff(w, A_STANDOUT);
		}
	}
	if (!count)
		mvwaddstr(w, 1, 2, "(no interface is listed)");
}

void overview_update()
{
	if (st.lower_view != VIEW_OVERVIEW || !screen_shown())
		return;
	draw_overview();
	screen_refresh(st.overview_win);
}

void overview_open()
{
	highlight = st.mib_row;
	top = pos = 0;
}

/* Arrow keys come as ESC [ A and the like, all at once: the rest is read without a wait. */
static int escape_key()
{
	int key = 27;

	nodelay(stdscr, TRUE);
	int c = wgetch(stdscr);
	if (c == '[' || c == 'O') {
		int d = wgetch(stdscr);
		key = d == 'A' ? KEY_UP : d == 'B' ? KEY_DOWN : 0;
		if (d == '5' || d == '6') {
			key = d == '5' ? KEY_PPAGE : KEY_NPAGE;
			wgetch(stdscr);	/* the closing "~" */
		}
	} else if (c != ERR) {
		key = 0;	/* alt and a key: nothing of ours */
	}
	nodelay(stdscr, FALSE);
	return key;
}

bool overview_key(int key)
{
	int page = std::max(getmaxy(st.overview_win) - 2, 1);

	if (key == 27)
		key = escape_key();
	switch (key) {
	case 27:
	case 'i':
	case 'I':
		screen_show(st.overview_from);
		return true;
	case '\n':
	case '\r':
		if (count)
			snprintf(st.switch_to, sizeof st.switch_to, "%s", order[pos]->name);
		screen_show(st.overview_from);
		return true;
	case 's':
	case 'S':
		st.ov_by_traffic = !st.ov_by_traffic;
		screen_show(VIEW_OVERVIEW);
		return true;
	case KEY_UP:
	case 'k':
		pos--;
		break;
	case KEY_DOWN:
	case 'j':
		pos++;
		break;
	case KEY_PPAGE:
		pos -= page;
		break;
	case KEY_NPAGE:
		pos += page;
		break;
	case 0:
		return true;
	default:
		return false;
	}
	pos = std::clamp(pos, 0, std::max(count - 1, 0));
	if (count)
		highlight = order[pos]->index;
	overview_update();
	return true;
}
