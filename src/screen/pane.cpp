/*
 * The capture pane.  The lower window keeps the last screenful of lines
 * whichever view is shown, so that the pane comes back as if it had been
 * there all along; it is refreshed only while it is shown.
 */
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "main/main.h"
#include "screen/screen.h"

int pane_cols()
{
	return COLS;
}

int pane_rows()
{
	return screen_shown() && st.lower_win ? getmaxy(st.lower_win) : 0;
}

void pane_line(const char *text)
{
	wprintw(st.lower_win, "\n%s", text);
}

void pane_done()
{
	if (screen_shown() && st.lower_view == VIEW_PANE)
		screen_refresh(st.lower_win);
}

/* A line of ours in the pane, not one of the capture program's: cut by columns, as seen. */
void pane_note(const char *fmt, ...)
{
	char text[SHOWN_SIZE], shown[SHOWN_SIZE];
	va_list ap;

	if (!st.curses_active)
		return;
	va_start(ap, fmt);
	vsnprintf(text, sizeof text, fmt, ap);
	va_end(ap);
	visible_text(text, COLS - 1, shown, sizeof shown);
	pane_line(shown);
	pane_done();
}

/*
 * Something could not run: the system's reason, and when it is tried
 * again, in a line that fits 80 columns.
 */
void pane_note_error(const char *what, int err, int retry)
{
	pane_note("[%s could not start: %s; again in %d s]", what, strerror(err), retry);
}
