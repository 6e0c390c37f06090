#include <algorithm>
#include <clocale>
#include <langinfo.h>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "main/main.h"
#include "screen/screen.h"

/* Rows 3 to 8 of the upper window; the "-" mark where the figures go. */
static const char *const label_rows[] = {
	"  bytes in:                               bytes out:                           ",
	"packets in:                             packets out:                           ",
	" inbytes/h: -                  inbytes/m: -                inbytes/s: -        ",
	"outbytes/h: -                 outbytes/m: -               outbytes/s: -        ",
	"  inpkts/h: -                   inpkts/m: -                 inpkts/s: -        ",
	" outpkts/h: -                  outpkts/m: -                outpkts/s: -        ",
};

/* Rows 5 and 6 in bits: each label right-aligned where the byte label stood. */
static const char *const bits_rows[] = {
	"  inbits/h: -                   inbits/m: -                 inbits/s: -        ",
	" outbits/h: -                  outbits/m: -                outbits/s: -        ",
};

static bool too_small;

/* "-" after len bytes that take used columns, up to cols columns; the columns in all. */
static int fill_dashes(char *buf, size_t len, int used, int cols)
{
	size_t more = cols > used ? cols - used : 0;

	more = std::min(more, TITLE_SIZE - 1 - len);
	memset(buf + len, '-', more);
	buf[len + more] = '\0';
	return used + static_cast<int>(more);
}

/*
 * The interface's name in its visible form (any bytes may name an
 * interface), filled with "-" by screen columns.  The columns it takes.
 */
int title_line(char *buf, const char *ifname, int cols)
{
	char name[4 * IFNAME_SIZE];
	int name_cols = visible_text(ifname, 2 * IFNAME_SIZE, name, sizeof name);
	int n = snprintf(buf, TITLE_SIZE, "----- ravlet (%d.%d) ---------------- %s -",
			 VERSION_MAJOR, VERSION_MINOR, name);

	return fill_dashes(buf, n, n - strlen(name) + name_cols, cols);
}

int lower_title(char *buf, int view, int cols)
{
	const char *title;

	switch (view) {
	case VIEW_GRAPH:
		title = "----- traffic graph (g: tcpdump output) -------------------------------";
		break;
	case VIEW_DETAILS:
		title = "----- every counter (d: tcpdump output) -------------------------------";
		break;
	case VIEW_OVERVIEW:
		title = st.ov_by_traffic
			? "----- every interface (Enter: take it, s: by name, i: close) ----------"
			: "----- every interface (Enter: take it, s: by traffic, i: close) -------";
		break;
	default:
		title = "----- tcpdump output --------------------------------------------------";
		break;
	}
	int n = snprintf(buf, TITLE_SIZE, "%s", title);
	return fill_dashes(buf, n, n, cols);
}

bool layout_fits(int cols, int lines)
{
	return cols >= MIN_COLS && lines >= MIN_LINES;
}

void size_notice(char *buf, size_t size, int cols, int lines)
{
	snprintf(buf, size, "ravlet needs at least %dx%d, the terminal is %dx%d",
		 MIN_COLS, MIN_LINES, cols, lines);
}

/* ^@ to ^_, and ^? for DEL */
static char caret(unsigned char c)
{
	return c == 0x7f ? '?' : static_cast<char>(c ^ 0x40);
}

/*
 * Unicode's format characters (general category Cf): no glyph of their
 * own, yet a terminal that applies bidi lets an override reorder the rest
 * of the row, and zero-width ones hide in a name.  A PTR record or a
 * packet can carry them.
 */
static bool format_char(wchar_t wc)
{
	static const struct {
		uint32_t lo, hi;
	} cf[] = {
		{0xad, 0xad}, {0x600, 0x605}, {0x61c, 0x61c}, {0x6dd, 0x6dd}, {0x70f, 0x70f},
		{0x890, 0x891}, {0x8e2, 0x8e2}, {0x180e, 0x180e}, {0x200b, 0x200f},
		{0x202a, 0x202e}, {0x2060, 0x2064}, {0x2066, 0x206f}, {0xfeff, 0xfeff},
		{0xfff9, 0xfffb}, {0x110bd, 0x110bd}, {0x110cd, 0x110cd}, {0x13430, 0x1343f},
		{0x1bca0, 0x1bca3}, {0x1d173, 0x1d17a}, {0xe0001, 0xe0001}, {0xe0020, 0xe007f},
	};
	uint32_t c = static_cast<uint32_t>(wc);

	for (const auto &r : cf)
		if (c >= r.lo && c <= r.hi)
			return true;
	return false;
}

int visible_text(std::string_view in, int cols, char *out, size_t size)
{
	mbstate_t ps{};
	size_t o = 0;
	int used = 0;

	if (size == 0)
		return 0;
	for (size_t i = 0; i < in.size();) {
		unsigned char c = in[i];
		const char *put = in.data() + i;
		char two[16];	/* ^X, or <U+XXXXX> */
		size_t len = 1;
		int width = 1;

		if (c >= 0x20 && c < 0x7f) {
			/* a run of printable ASCII, the common case, in one copy */
			size_t run = 1;
			while (i + run < in.size() && static_cast<unsigned char>(in[i + run]) >= 0x20 &&
			       static_cast<unsigned char>(in[i + run]) < 0x7f)
				run++;
			run = std::min({run, static_cast<size_t>(cols - used), size - 1 - o});
			if (run == 0)
				break;
			memcpy(out + o, put, run);
			o += run;
			used += run;
			i += run;
			continue;
		}
		if (c < 0x80) {
			two[0] = '^';
			two[1] = caret(c);
			put = two;
			len = 2;
			width = 2;
			i++;
		} else {
			wchar_t wc;
			size_t n = mbrtowc(&wc, in.data() + i, in.size() - i, &ps);
			if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
				ps = mbstate_t{};
				put = "?";
				i++;
			} else if (format_char(wc)) {
				width = snprintf(two, sizeof two, "<U+%04X>", static_cast<unsigned>(wc));
				put = two;
				len = width;
				i += n;
			} else if ((width = wcwidth(wc)) < 0) {
				/* no printable character: a C1 control, say */
				put = "?";
				width = 1;
				i += n;
			} else {
				len = n;
				i += n;
			}
		}
		if (used + width > cols || o + len >= size)
			break;
		memcpy(out + o, put, len);
		o += len;
		used += width;
	}
	out[o] = '\0';
	return used;
}

/* A title bar in standout: the text of n columns, then "-" to the edge at any width. */
static void draw_bar(int row, const char *text, int n)
{
	wstandout(st.upper_win);
	mvwaddstr(st.upper_win, row, 0, text);
	if (n < COLS)
		mvwhline(st.upper_win, row, n, '-' | A_STANDOUT, COLS - n);
	wstandend(st.upper_win);
}

/* Rows 3 to 8 as the template has them: labels and placeholders, no figures. */
void draw_figure_labels()
{
	for (int i = 0; i < 6; i++)
		mvwaddstr(st.upper_win, 3 + i, 0, label_rows[i]);
	draw_traffic_labels();
}

void draw_traffic_labels()
{
	for (int i = 0; i < 2; i++)
		mvwaddstr(st.upper_win, 5 + i, 0, st.bits ? bits_rows[i] : label_rows[2 + i]);
}

void screen_refresh(WINDOW *w)
{
	wnoutrefresh(w);
	if (st.help_win) {
		touchwin(st.help_win);
		wnoutrefresh(st.help_win);
	}
	doupdate();
}

/* Row 9: what the lower part shows. */
static void draw_lower_title()
{
	char line[TITLE_SIZE];

	draw_bar(9, line, lower_title(line, st.lower_view, COLS));
}

WINDOW *lower_window()
{
	switch (st.lower_view) {
	case VIEW_GRAPH:
		return st.graph_win;
	case VIEW_DETAILS:
		return st.details_win;
	case VIEW_OVERVIEW:
		return st.overview_win;
	default:
		return st.lower_win;
	}
}

/* The lower part as chosen, drawn and refreshed: the graph, the counters, or the pane as it kept its lines. */
static void show_lower()
{
	if (st.lower_view == VIEW_GRAPH)
		draw_graph();
	else if (st.lower_view == VIEW_DETAILS)
		draw_details();
	else if (st.lower_view == VIEW_OVERVIEW)
		draw_overview();
	touchwin(lower_window());
	screen_refresh(lower_window());
}

/*
 * The overview reads every interface only while it is open: opened, its
 * table is empty and read at the next pass; closed, nothing of it is kept.
 */
void screen_show(int view)
{
	if (view == VIEW_OVERVIEW && st.lower_view != VIEW_OVERVIEW) {
		st.overview_from = st.lower_view;
		overview_open();
		table_clear();
	} else if (view != VIEW_OVERVIEW && st.lower_view == VIEW_OVERVIEW) {
		table_clear();
	}
	st.lower_view = view;
	if (!screen_shown())
		return;
	draw_lower_title();
	wnoutrefresh(st.upper_win);
	show_lower();
}

static void draw_template(const char *ifname)
{
	char line[TITLE_SIZE];

	draw_bar(0, line, title_line(line, ifname, COLS));
	snprintf(line, sizeof line, "%-59s%-20s", "addr:",
		 st.if_flags & IF_POINTOPOINT ? "dst:" : "brc:");
	mvwaddstr(st.upper_win, 1, 0, line);
	snprintf(line, sizeof line, "%-79s", "chg:");
	mvwaddstr(st.upper_win, 2, 0, line);
	draw_figure_labels();
	draw_lower_title();
}

static const char *cap_of(const char *name)
{
	const char *s = tigetstr(const_cast<char *>(name));

	return s && s != reinterpret_cast<char *>(-1) && *s ? s : nullptr;
}

static void add_end(const char *s)
{
	size_t n = strlen(s);

	if (st.end_len + n <= sizeof st.end_seq) {
		memcpy(st.end_seq + st.end_len, s, n);
		st.end_len += n;
	}
}

/*
 * What screen_end would send, taken from terminfo now (and again at each
 * resize): a fault handler can only write(), and the shell must not be
 * left on the alternate screen with the cursor hidden, nor on the last
 * capture line.
 */
static void end_sequence()
{
	st.end_len = 0;
	for (const char *cap : {"sgr0", "cnorm"})
		if (const char *s = cap_of(cap))
			add_end(s);
	if (const char *bottom = tiparm(cap_of("cup"), LINES - 1, 0))
		add_end(bottom);
	add_end("\r\n");
	if (const char *s = cap_of("rmcup"))
		add_end(s);
}

/*
 * The terminal as it was, the cursor at the start of a clean line.  A
 * terminal may have no alternate screen (the Linux console) or ignore the
 * one terminfo names (GNU screen as it comes, altscreen off), and nothing
 * tells which: the monitor's last picture then stays, with the cursor on
 * its bottom row, over the last capture line.  So a line end at the bottom
 * row goes out before the alternate screen is left: where there is one,
 * it scrolls only that screen, which goes; where there is none, the
 * picture moves up a row and the shell gets a clean line below it.
 * mvcur with an unknown origin moves absolutely and keeps curses' idea
 * of the cursor true, so endwin's own move to that row adds nothing.
 */
void screen_end()
{
	mvcur(-1, -1, LINES - 1, 0);
	putp("\r\n");
	endwin();
}

/*
 * newterm, not initscr: initscr ends the process by itself on a terminal
 * type it does not know, past our orderly exit and its lock file.
 */
static void start_curses()
{
	const char *term = getenv("TERM");

	if (!term || !*term)
		term = "(none)";
	/* wide characters as the user's locale has them; messages stay as they are */
	setlocale(LC_CTYPE, "");
	graph_init(nl_langinfo(CODESET), term);
	if (tcgetattr(0, &st.tty_modes) == 0)
		st.tty_saved = 1;
	if (!newterm(nullptr, stdout, stdin)) {
		/* curses says nothing of why: a description it could not open is no unknown type */
		int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
		if (probe < 0) {
			perror("ERROR, cannot read the terminal description");
			cleanup_exit(1);
		}
		close(probe);
		fprintf(stderr, "ERROR, unknown terminal type %s, terminating!", term);
		cleanup_exit(1);
	}
	if (!cap_of("cup")) {
		endwin();
		fprintf(stderr, "ERROR, terminal type %s cannot address the cursor, terminating!",
			term);
		cleanup_exit(1);
	}
	/* curses would poll the keyboard before every refresh: the main loop already does */
	typeahead(-1);
	/*
	 * Until the screen has been ended and resumed once, ncurses flushes
	 * its output at every cursor motion: a refresh of a few figures took
	 * nine writes.  Once through, a refresh is one write.
	 */
	endwin();
	refresh();
}

/* Both windows at the current size, anew: at start and after a resize. */
static bool make_windows()
{
	for (WINDOW **w : {&st.upper_win, &st.lower_win, &st.graph_win, &st.details_win,
			   &st.overview_win})
		if (*w)
			delwin(*w);
	st.upper_win = newwin(UPPER_ROWS, COLS, 0, 0);
	st.lower_win = newwin(LINES - UPPER_ROWS, COLS, UPPER_ROWS, 0);
	st.graph_win = newwin(LINES - UPPER_ROWS, COLS, UPPER_ROWS, 0);
	st.details_win = newwin(LINES - UPPER_ROWS, COLS, UPPER_ROWS, 0);
	st.overview_win = newwin(LINES - UPPER_ROWS, COLS, UPPER_ROWS, 0);
	if (!st.upper_win || !st.lower_win || !st.graph_win || !st.details_win ||
	    !st.overview_win)
		return false;
	scrollok(st.lower_win, TRUE);
	for (WINDOW *w : {st.upper_win, st.lower_win, st.graph_win, st.details_win,
			  st.overview_win})
		leaveok(w, TRUE);
	graph_forget();
	details_forget();
	return true;
}

void screen_init(const char *ifname)
{
	start_curses();
	if (!layout_fits(COLS, LINES)) {
		endwin();
		fprintf(stderr, "ERROR, minimal screensize must be %dx%d, is %dx%d, terminating!",
			MIN_COLS, MIN_LINES, COLS, LINES);
		cleanup_exit(1);
	}
	end_sequence();
	noecho();
	raw();
	/* the modes a SIGCONT puts back: a shell's fg gives the terminal its own */
	def_prog_mode();
	make_windows();
	if (!st.upper_win) {
		endwin();
		fputs("ERROR, curses init upper window, terminating!", stderr);
		cleanup_exit(1);
	}
	if (!st.lower_win) {
		endwin();
		fprintf(stderr, "ERROR, curses init lower window, LINES = %d, lheight = %d, "
			"uheight = %d, terminating!", LINES, LINES - UPPER_ROWS, UPPER_ROWS);
		cleanup_exit(1);
	}
	draw_template(ifname);
	forget_fields();
	refresh();
	wrefresh(st.upper_win);
	wmove(st.lower_win, 0, 0);
	st.curses_active = 1;
	show_lower();
}

/*
 * Another interface, as if started on it: its name in the title, the
 * template's rows, a graph and a table of counters with nothing of the one
 * before.  The capture pane keeps its lines, with a note between them.
 */
void screen_switch(const char *ifname)
{
	st.graph_head = st.graph_count = 0;
	werase(st.graph_win);
	werase(st.details_win);
	graph_forget();
	details_forget();
	forget_fields();
	if (!screen_shown())
		return;
	draw_template(ifname);
	wnoutrefresh(st.upper_win);
	show_lower();
}

bool screen_shown()
{
	return !too_small;
}

/*
 * The terminal changed its size: lay everything out again, with the
 * figures last shown; the next sample stays on its grid.  The capture pane
 * starts empty.  Below the minimum, one line says so instead.
 */
void screen_resize(const char *ifname)
{
	winsize ws;

	resize_pending = 0;
	if (ioctl(0, TIOCGWINSZ, &ws) < 0 || ws.ws_col == 0 || ws.ws_row == 0)
		return;
	close_help();
	resizeterm(ws.ws_row, ws.ws_col);
	end_sequence();
	werase(stdscr);
	too_small = !layout_fits(COLS, LINES);
	if (too_small) {
		char text[TITLE_SIZE];
		size_notice(text, sizeof text, COLS, LINES);
		mvwaddnstr(stdscr, 0, 0, text, COLS);
		wrefresh(stdscr);
		return;
	}
	wnoutrefresh(stdscr);
	if (!make_windows()) {
		endwin();
		st.curses_active = 0;
		fputs("ERROR, curses init upper window, terminating!", stderr);
		cleanup_exit(1);
	}
	draw_template(ifname);
	redraw_fields();
	wnoutrefresh(st.upper_win);
	wmove(st.lower_win, 0, 0);
	show_lower();
}

/*
 * The keys, in a small window over the screen that stops nothing: the
 * figures and the pane go on under it, and it stays on top of each
 * refresh until a key or 5 seconds close it.
 */
constexpr int64_t HELP_TIMEOUT = 5 * SECOND;
static const char *const help_lines[] = {
	"Enter      the command menu",
	"control-L  repaint the screen",
	"control-C  quit",
	"g          graph or tcpdump output",
	"d          every counter or tcpdump",
	"u          bits or bytes",
	"i          every interface",
	"?          these keys",
};
constexpr int HELP_LINES = sizeof help_lines / sizeof help_lines[0];
constexpr int HELP_ROWS = 2 + HELP_LINES, HELP_COLS = 38, HELP_ROW = 12, HELP_COL = 21;

void open_help()
{
	if (st.help_win || !screen_shown())
		return;
	st.help_win = newwin(HELP_ROWS, HELP_COLS, HELP_ROW, HELP_COL);
	if (!st.help_win)
		return;
	wborder(st.help_win, '|', '|', '-', '-', '+', '+', '+', '+');
	mvwaddstr(st.help_win, 0, 15, " Keys ");
	for (int i = 0; i < HELP_LINES; i++)
		mvwaddstr(st.help_win, 1 + i, 2, help_lines[i]);
	st.help_until = pf_mono_ns() + HELP_TIMEOUT;
	screen_refresh(st.help_win);
}

/* What it covered, drawn again. */
void close_help()
{
	if (!st.help_win)
		return;
	delwin(st.help_win);
	st.help_win = nullptr;
	if (!screen_shown())
		return;
	touchwin(st.upper_win);
	wnoutrefresh(st.upper_win);
	show_lower();
}

int64_t screen_next_due()
{
	return st.help_win ? st.help_until : INT64_MAX;
}

void screen_tick()
{
	if (st.help_win && pf_mono_ns() >= st.help_until)
		close_help();
}

void screen_continue()
{
	continued = 0;
	if (!st.curses_active)
		return;
	reset_prog_mode();
	wrefresh(curscr);
}
