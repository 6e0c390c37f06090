#include "main/main.h"
#include "screen/screen.h"

constexpr int MENU_ROWS = 6, MENU_COLS = 26, MENU_ROW = 15, MENU_COL = 5;
constexpr int64_t MENU_TIMEOUT = 5 * SECOND;	/* after opening or the last Tab */

static const char *const menu_entries[] = {
	"1 - (D)isplay refresh",
	"2 - (Q)uit the program",
};

enum menu_action { MENU_TOGGLE, MENU_REDRAW, MENU_QUIT, MENU_CLOSE };

/* What a key in the open menu does, with entry `highlight` highlighted. */
static menu_action menu_key(int key, int highlight)
{
	switch (key) {
	case '\t':
	case ' ':
		return MENU_TOGGLE;
	case '\n':
	case '\r':
		return highlight == 1 ? MENU_QUIT : MENU_REDRAW;
	case '1':
	case 'D':
	case 'd':
		return MENU_REDRAW;
	case '2':
	case 'Q':
	case 'q':
		return MENU_QUIT;
	default:
		return MENU_CLOSE;
	}
}

static void menu_entry(WINDOW *w, int i, bool highlighted)
{
	if (highlighted)
		wstandout(w);
	if (wmove(w, 2 + i, 2) != ERR)
		waddstr(w, menu_entries[i]);
	wstandend(w);
}

void command_menu()
{
	WINDOW *w = newwin(MENU_ROWS, MENU_COLS, MENU_ROW, MENU_COL);
	int highlight = 0;

	if (!w)
		return;
	wborder(w, '|', '|', '-', '-', 0, 0, 0, 0);
	wstandout(w);
	if (wmove(w, 0, 10) != ERR)
		waddstr(w, "Command");
	wstandend(w);
	menu_entry(w, 0, false);
	menu_entry(w, 1, false);
	menu_entry(w, highlight, true);

	for (bool open = true; open;) {
		pollfd keys[2] = {{0, POLLIN, 0}};

		wstandend(w);
		wrefresh(w);
		if (wait_input(keys, 1, MENU_TIMEOUT) <= 0)
			break;
		int key = wgetch(w);
		if (key == ERR)
			hangup();
		switch (menu_key(key, highlight)) {
		case MENU_TOGGLE:
			menu_entry(w, highlight, false);
			highlight = !highlight;
			menu_entry(w, highlight, true);
			break;
		case MENU_REDRAW:
			wrefresh(curscr);
			open = false;
			break;
		case MENU_QUIT:
			cleanup_exit(0);
		case MENU_CLOSE:
			open = false;
			break;
		}
	}
	delwin(w);
	WINDOW *lower = lower_window();
	wtouchln(lower, 0, getmaxy(lower), 1);
	wrefresh(lower);
}

void handle_key()
{
	int key = wgetch(stdscr);

	/* readable, yet no key: end of file or an error, the terminal is gone */
	if (key == ERR)
		hangup();
	if (key == 3)	/* control-C: raw mode makes it a key, not a signal */
		cleanup_exit(0);
	/* any key closes the keys' window, and does nothing else */
	if (st.help_win) {
		close_help();
		return;
	}
	if (st.lower_view == VIEW_OVERVIEW && overview_key(key))
		return;
	switch (key) {
	case '\n':
	case '\r':
		/* the menu needs the screen's minimum size */
		if (screen_shown())
			command_menu();
		break;
	case 12:	/* control-L */
		wrefresh(curscr);
		break;
	case 'g':
	case 'G':
		screen_show(st.lower_view == VIEW_GRAPH ? VIEW_PANE : VIEW_GRAPH);
		break;
	case 'd':
	case 'D':
		screen_show(st.lower_view == VIEW_DETAILS ? VIEW_PANE : VIEW_DETAILS);
		break;
	case 'u':
	case 'U':
		st.bits = !st.bits;
		screen_units();
		screen_figures_done();
		graph_update();
		details_update();
		overview_update();
		break;
	case 'i':
	case 'I':
		if (screen_shown())
			screen_show(VIEW_OVERVIEW);
		break;
	case '?':
	case 'h':
		open_help();
		break;
	default:
		break;
	}
}
