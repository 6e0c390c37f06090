#include <arpa/inet.h>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <net/if.h>
#include <sys/socket.h>

#include "ifstat/ifstat.h"
#include "main/main.h"
#include "screen/screen.h"

static const char unknown_host[] = "unknown hostname";

static void request_conf(const char *ifname)
{
	st.conf_len = pf_getconf(st.if_sock, st.conf_buf, sizeof st.conf_buf);
	if (st.conf_len < 0)
		check_signal();
	st.cur_ifr = find_ifreq(st.conf_buf, st.conf_len, ifname);
}

static void read_counters(const if_row &r, uint64_t c[NCOUNTERS])
{
	c[IBYTES] = r.ibytes;
	c[OBYTES] = r.obytes;
	c[IPACKETS] = r.ipackets;
	c[OPACKETS] = r.opackets;
}

/* The row of the located entry's interface; 0 if none.  Rows may have gaps. */
static int search_row()
{
	for (int row = 1; row <= st.if_count; row++) {
		if (pf_row(row, &st.ifmd) == 0 &&
		    strncmp(st.ifmd.name, st.cur_ifr, IFNAME_SIZE) == 0)
			return row;
	}
	return 0;
}

/*
 * Text at (row, col), padded to width columns and never past the row's
 * end, with every character shown as it is: a name service can hand back
 * anything, and a cursor movement would disturb the other fields.
 */
static void put_field(int row, int col, int width, const char *text)
{
	char shown[4 * NI_MAXHOST];
	int used = visible_text(text, COLS - col, shown, sizeof shown);

	mvwaddstr(st.upper_win, row, col, shown);
	if (used < width)
		wprintw(st.upper_win, "%*s", width - used, "");
}

/* The starting point of every later difference. */
static void take_row(int row)
{
	uint64_t c[NCOUNTERS];

	/* figures of an interface that went away belong to it, not to this one */
	if (st.curses_active)
		draw_figure_labels();
	st.chg_prev_text[0] = '\0';

	st.mib_row = row;
	st.chg_prev_time = st.chg_time = st.ifmd.lastchange;
	pf_time(&st.last_update);
	st.hour_mark = st.minute_mark = st.last_update.tv_sec;
	read_counters(st.ifmd, c);
	for (int i = 0; i < NCOUNTERS; i++)
		st.snap_hour[i] = st.snap_minute[i] = st.snap_second[i] = c[i];
}

void if_init(const char *ifname)
{
	unsigned flags;

	if (pf_ifcount(&st.if_count) < 0) {
		check_signal();
		perror("sysctl-ifcount");
		cleanup_exit(1);
	}
	st.if_sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	request_conf(ifname);
	if (!st.cur_ifr)
		return;
	if (pf_flags(st.if_sock, st.cur_ifr, &flags) < 0) {
		check_signal();
		perror("FLAGS");
		cleanup_exit(1);
	}
	st.if_flags = flags & 0xffff;
	int row = search_row();
	if (row)
		take_row(row);
}

/*
 * The row found at start serves until it reads back another name or none:
 * the interface was then deleted (and maybe made again under a new index),
 * so the row is searched afresh, from a fresh count.
 */
static bool read_row()
{
	if (st.mib_row) {
		if_row r;
		if (pf_row(st.mib_row, &r) == 0 &&
		    strncmp(r.name, st.cur_ifr, IFNAME_SIZE) == 0) {
			st.ifmd = r;
			return true;
		}
		st.mib_row = 0;
		return false;
	}
	if (pf_ifcount(&st.if_count) < 0)
		return false;
	int row = search_row();
	if (!row)
		return false;
	take_row(row);
	return true;
}

/*
 * The interface or its address went away between the list and the request
 * (deleted a moment ago): like an absent entry, not a fatal error.
 */
static bool vanished()
{
	return errno == ENODEV || errno == ENXIO || errno == EADDRNOTAVAIL;
}

static bool show_address(unsigned flags)
{
	char addr[ADDR_TEXT_SIZE];
	in_addr a;

	memcpy(&a, st.cur_ifr + 20, sizeof a);
	inet_ntop(AF_INET, &a, addr, sizeof addr);
	/* the resolver can block for seconds: ask only when the address changed */
	if (strcmp(addr, st.last_addr) != 0) {
		char name[NI_MAXHOST];
		int r = pf_hostname(a, name, sizeof name, wake_fd());
		if (r < 0 && errno == EINTR) {
			/* not a terminating signal (a resize): ask again next time */
			check_signal();
		} else {
			snprintf(st.last_addr, sizeof st.last_addr, "%s", addr);
			snprintf(st.host_name, sizeof st.host_name, "%s", r == 0 ? name : "");
			st.host_pattern = r == 0 ? st.host_name : unknown_host;
		}
	}
	mvwprintw(st.upper_win, 1, 6, "%-15s", addr);
	put_field(1, 22, 36, st.host_pattern);

	bool ptp = flags & IF_POINTOPOINT;
	draw_addr_label(ptp);
	if (flags & IF_LOOPBACK) {
		wprintw(st.upper_win, "%-15s", "");
		return true;
	}
	in_addr other;
	int r = ptp ? pf_dstaddr(st.if_sock, st.cur_ifr, &other)
		    : pf_brdaddr(st.if_sock, st.cur_ifr, &other);
	if (r < 0) {
		if (vanished())
			return false;
		fatal_perror(ptp ? "DST" : "BRD");
	}
	inet_ntop(AF_INET, &other, addr, sizeof addr);
	mvwprintw(st.upper_win, 1, 64, "%-15s", addr);
	return true;
}

/*
 * The row is written whole each time, so that nothing of a longer text
 * before (the "unsupported" one, say) stays behind; the previous change
 * is remembered to be written again.
 */
static void show_change(time_t now)
{
	char text[SINCE_TEXT_SIZE];
	time_t t = st.ifmd.lastchange;

	wmove(st.upper_win, 2, 5);
	wclrtoeol(st.upper_win);
	if (t == 0) {
		waddstr(st.upper_win, "last administrative change time unsupported by driver");
		return;
	}
	int64_t elapsed = static_cast<int64_t>(difftime(now, t));
	format_since(text, sizeof text, t, elapsed);
	wprintw(st.upper_win, "%-35s", text);
	if (t != st.chg_time) {
		st.chg_prev_time = st.chg_time;
		st.chg_time = t;
		format_since(st.chg_prev_text, sizeof st.chg_prev_text, st.chg_prev_time,
			     st.prev_elapsed);
	}
	if (st.chg_prev_text[0])
		mvwprintw(st.upper_win, 2, 44, "%-35s", st.chg_prev_text);
	st.prev_elapsed = elapsed;
}

/* Rows 5..8 in counter order; each window shows the change since its mark. */
static void show_window(const uint64_t c[NCOUNTERS], uint64_t snap[NCOUNTERS], int col,
			const char *fmt)
{
	for (int i = 0; i < NCOUNTERS; i++) {
		mvwprintw(st.upper_win, 5 + i, col, fmt, c[i] - snap[i]);
		snap[i] = c[i];
	}
}

static void show_counters(time_t now)
{
	char text[COUNT_TEXT_SIZE];
	uint64_t c[NCOUNTERS];

	read_counters(st.ifmd, c);
	format_count(text, sizeof text, c[IBYTES]);
	mvwprintw(st.upper_win, 3, 12, "%-24s", text);
	format_count(text, sizeof text, c[OBYTES]);
	mvwprintw(st.upper_win, 3, 53, "%-24s", text);
	/* padded like the bytes, or digits of a longer figure before would stay */
	mvwprintw(st.upper_win, 4, 12, "%-24" PRIu64, c[IPACKETS]);
	mvwprintw(st.upper_win, 4, 53, "%-24" PRIu64, c[OPACKETS]);
	show_change(now);

	show_window(c, st.snap_second, 70, "%-9" PRIu64);
	if (now > st.minute_mark + 60) {
		st.minute_mark = now;
		show_window(c, st.snap_minute, 42, "%-16" PRIu64);
	}
	if (now > st.hour_mark + 3600) {
		st.hour_mark = now;
		show_window(c, st.snap_hour, 12, "%-16" PRIu64);
	}
}

void if_update(const char *ifname)
{
	timeval tv;
	unsigned flags;

	pf_time(&tv);
	if (!second_passed(st.last_update, tv) || !screen_shown())
		return;
	st.last_update = tv;

	request_conf(ifname);
	if (!st.cur_ifr)
		return;
	if (pf_flags(st.if_sock, st.cur_ifr, &flags) < 0) {
		if (vanished())
			return;
		fatal_perror("FLAGS");
	}
	if (!show_address(flags))
		return;
	if (read_row())
		show_counters(tv.tv_sec);
	wrefresh(st.upper_win);
}
