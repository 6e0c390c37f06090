#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <net/if.h>

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

static void fill_dashes(char *buf, size_t len, int cols)
{
	size_t want = cols < static_cast<int>(TITLE_SIZE) ? cols : TITLE_SIZE - 1;

	if (len < want) {
		memset(buf + len, '-', want - len);
		buf[want] = '\0';
	}
}

/* False when the name would not fit the title whole. */
bool title_line(char *buf, const char *ifname, int cols)
{
	int n = snprintf(buf, TITLE_SIZE, "----- ravlet (%d.%d) ---------------- %s -",
			 VERSION_MAJOR, VERSION_MINOR, ifname);

	if (n < 0 || static_cast<size_t>(n) >= TITLE_SIZE)
		return false;
	fill_dashes(buf, n, cols);
	return true;
}

void capture_title(char *buf, int cols)
{
	int n = snprintf(buf, TITLE_SIZE, "%s",
			 "----- tcpdump output --------------------------------------------------");

	fill_dashes(buf, n, cols);
}

static void draw_template(const char *ifname)
{
	char line[TITLE_SIZE];

	title_line(line, ifname, COLS);
	wstandout(st.upper_win);
	mvwaddstr(st.upper_win, 0, 0, line);
	wstandend(st.upper_win);

	snprintf(line, sizeof line, "%-59s%-20s", "addr:",
		 st.if_flags & IFF_POINTOPOINT ? "dst:" : "brc:");
	mvwaddstr(st.upper_win, 1, 0, line);
	snprintf(line, sizeof line, "%-79s", "chg:");
	mvwaddstr(st.upper_win, 2, 0, line);
	for (int i = 0; i < 6; i++)
		mvwaddstr(st.upper_win, 3 + i, 0, label_rows[i]);

	capture_title(line, COLS);
	wstandout(st.upper_win);
	mvwaddstr(st.upper_win, 9, 0, line);
	wstandend(st.upper_win);
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
	if (tcgetattr(0, &st.tty_modes) == 0)
		st.tty_saved = 1;
	if (!newterm(nullptr, stdout, stdin)) {
		fprintf(stderr, "ERROR, unknown terminal type %s, terminating!", term);
		cleanup_exit(1);
	}
	const char *cup = tigetstr(const_cast<char *>("cup"));
	if (!cup || cup == reinterpret_cast<char *>(-1)) {
		endwin();
		fprintf(stderr, "ERROR, terminal type %s cannot address the cursor, terminating!",
			term);
		cleanup_exit(1);
	}
	/* curses would poll the keyboard before every refresh: the main loop already does */
	typeahead(-1);
}

void screen_init(const char *ifname)
{
	start_curses();
	if (COLS < MIN_COLS || LINES < MIN_LINES) {
		endwin();
		fprintf(stderr, "ERROR, minimal screensize must be %dx%d, is %dx%d, terminating!",
			MIN_COLS, MIN_LINES, COLS, LINES);
		cleanup_exit(1);
	}
	noecho();
	raw();
	st.upper_win = newwin(UPPER_ROWS, COLS, 0, 0);
	if (!st.upper_win) {
		endwin();
		fputs("ERROR, curses init upper window, terminating!", stderr);
		cleanup_exit(1);
	}
	st.lower_win = newwin(LINES - UPPER_ROWS, COLS, UPPER_ROWS, 0);
	if (!st.lower_win) {
		endwin();
		fprintf(stderr, "ERROR, curses init lower window, LINES = %d, lheight = %d, "
			"uheight = %d, terminating!", LINES, LINES - UPPER_ROWS, UPPER_ROWS);
		cleanup_exit(1);
	}
	scrollok(st.lower_win, TRUE);
	draw_template(ifname);
	leaveok(st.upper_win, TRUE);
	leaveok(st.lower_win, TRUE);
	refresh();
	wrefresh(st.upper_win);
	wmove(st.lower_win, 0, 0);
	wrefresh(st.lower_win);
	st.curses_active = 1;
}
