#include <algorithm>
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
	st.conf_len = pf_getconf(st.if_sock, ifname, st.conf_buf, sizeof st.conf_buf);
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

/*
 * The named interface's row; 0 if none.  Asked of the kernel by name: a
 * walk over every row would cost a request per index, and indexes only
 * grow (400000 is no rarity on a container host).
 */
static int search_row(const char *ifname)
{
	int row = pf_row_of(st.if_sock, ifname);

	if (row > 0 && pf_row(row, &st.ifmd) == 0 &&
	    strncmp(st.ifmd.name, ifname, IFNAME_SIZE) == 0)
		return row;
	return 0;
}

/*
 * Each sample notes whether the interface is there and up.  Its coming
 * back (up again, or another interface under its name, or a new change
 * time) is what lets an ended capture start again, so an expression that
 * tcpdump rejects, while the interface stays as it was, never restarts it
 * in a loop.
 */
static void note_presence(bool have_row)
{
	bool up = have_row && (st.ifmd.flags & IF_UP);

	if (up && (!st.if_up || st.mib_row != st.seen_row || st.ifmd.lastchange != st.seen_change))
		st.if_gen++;
	st.if_up = up;
	if (have_row) {
		st.seen_row = st.mib_row;
		st.seen_change = st.ifmd.lastchange;
	}
}

/*
 * The figures of the upper window, each remembered as last written: an
 * idle sample changes few of them, and curses work (and a terminal write)
 * is spent only on those.  A text shorter than the one before is padded
 * over it, so nothing of the old figure stays.
 */
enum field { F_ADDR, F_HOST, F_OTHER, F_CHANGE, F_BYTES_IN, F_BYTES_OUT, F_PKTS_IN, F_PKTS_OUT,
	     F_WINDOWS, NFIELDS = F_WINDOWS + 3 * NCOUNTERS };

static struct {
	char text[FIELD_SIZE];
	int cols;	/* -1: unknown, write it */
} shown[NFIELDS];
static bool upper_changed;

void forget_fields()
{
	for (auto &f : shown)
		f.cols = -1;
}

static void put_text(int f, int row, int col, const char *text, int cols)
{
	size_t n = strlen(text);

	if (n < FIELD_SIZE && shown[f].cols == cols && strcmp(shown[f].text, text) == 0)
		return;
	mvwaddstr(st.upper_win, row, col, text);
	if (cols < shown[f].cols)
		wprintw(st.upper_win, "%*s", shown[f].cols - cols, "");
	if (n < FIELD_SIZE)
		memcpy(shown[f].text, text, n + 1);
	shown[f].cols = n < FIELD_SIZE ? cols : -1;
	upper_changed = true;
}

/* ASCII text padded to width with "%-*s" */
static void put_padded(int f, int row, int col, int width, const char *text)
{
	char line[2 * FIELD_SIZE];
	int n = snprintf(line, sizeof line, "%-*s", width, text);

	put_text(f, row, col, line, n < 0 ? 0 : n);
}

/*
 * A name, padded to width columns and cut at column end, with every
 * character shown as it is: a name service can hand back anything, and a
 * cursor movement would disturb the other fields.
 */
static void put_name(int f, int row, int col, int width, int end, const char *text)
{
	char vis[4 * NI_MAXHOST];
	int used = visible_text(text, std::min(end, COLS) - col, vis, sizeof vis - width);

	if (used < width) {
		size_t n = strlen(vis);
		memset(vis + n, ' ', width - used);
		vis[n + width - used] = '\0';
		used = width;
	}
	put_text(f, row, col, vis, used);
}

/* The starting point of every later difference. */
static void take_row(int row)
{
	uint64_t c[NCOUNTERS];

	/* figures of an interface that went away belong to it, not to this one */
	if (st.curses_active) {
		draw_figure_labels();
		forget_fields();
	}
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
	int row = search_row(ifname);
	if (row)
		take_row(row);
	note_presence(row != 0);
}

/*
 * The row found before serves until it reads back another name or none:
 * the interface was then deleted (and maybe made again under a new index),
 * or renamed, so the row is looked up afresh.
 */
static bool read_row(const char *ifname)
{
	if (st.mib_row) {
		if_row r;
		if (pf_row(st.mib_row, &r) == 0 && strncmp(r.name, ifname, IFNAME_SIZE) == 0) {
			st.ifmd = r;
			return true;
		}
		check_signal();
		st.mib_row = 0;
	}
	int row = search_row(ifname);
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
	put_padded(F_ADDR, 1, 6, 15, addr);
	/* a long name runs on to the right, up to the label at column 59 */
	put_name(F_HOST, 1, 22, 36, 59, st.host_pattern);

	/* the label as this sample's flags have it, then the address behind it */
	char other_text[FIELD_SIZE];
	bool ptp = flags & IF_POINTOPOINT;
	if (flags & IF_LOOPBACK) {
		snprintf(other_text, sizeof other_text, "%-5s%-15s", ptp ? "dst:" : "brc:", "");
		put_text(F_OTHER, 1, 59, other_text, 20);
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
	snprintf(other_text, sizeof other_text, "%-5s%-15s", ptp ? "dst:" : "brc:", addr);
	put_text(F_OTHER, 1, 59, other_text, 20);
	return true;
}

/*
 * The row from column 5 is one field, so that nothing of a longer text
 * before (the "unsupported" one, say) stays behind; the previous change
 * is remembered to be written again.
 */
static void show_change(time_t now)
{
	char text[SINCE_TEXT_SIZE];
	char row[2 * SINCE_TEXT_SIZE];
	time_t t = st.ifmd.lastchange;

	if (t == 0) {
		put_padded(F_CHANGE, 2, 5, 0, "last administrative change time unsupported by driver");
		return;
	}
	int64_t elapsed = static_cast<int64_t>(difftime(now, t));
	format_since(text, sizeof text, t, elapsed);
	if (t != st.chg_time) {
		st.chg_prev_time = st.chg_time;
		st.chg_time = t;
		format_since(st.chg_prev_text, sizeof st.chg_prev_text, st.chg_prev_time,
			     st.prev_elapsed);
	}
	/* "%-35s" at column 5, and the previous one with "%-35s" at column 44 */
	snprintf(row, sizeof row, "%-39.39s%s", text, st.chg_prev_text);
	put_padded(F_CHANGE, 2, 5, st.chg_prev_text[0] ? 74 : 35, row);
	st.prev_elapsed = elapsed;
}

static void put_count(int f, int row, int col, int width, uint64_t v)
{
	char text[COUNT_TEXT_SIZE];

	snprintf(text, sizeof text, "%" PRIu64, v);
	put_padded(f, row, col, width, text);
}

/* Rows 5..8 in counter order; each window shows the change since its mark. */
static void show_window(const uint64_t c[NCOUNTERS], uint64_t snap[NCOUNTERS], int which,
			int col, int width)
{
	for (int i = 0; i < NCOUNTERS; i++) {
		put_count(F_WINDOWS + 3 * i + which, 5 + i, col, width, c[i] - snap[i]);
		snap[i] = c[i];
	}
}

static void show_counters(time_t now)
{
	char text[COUNT_TEXT_SIZE];
	uint64_t c[NCOUNTERS];

	read_counters(st.ifmd, c);
	format_count(text, sizeof text, c[IBYTES]);
	put_padded(F_BYTES_IN, 3, 12, 24, text);
	format_count(text, sizeof text, c[OBYTES]);
	put_padded(F_BYTES_OUT, 3, 53, 24, text);
	/* padded like the bytes, or digits of a longer figure before would stay */
	put_count(F_PKTS_IN, 4, 12, 24, c[IPACKETS]);
	put_count(F_PKTS_OUT, 4, 53, 24, c[OPACKETS]);
	show_change(now);

	show_window(c, st.snap_second, 2, 70, 9);
	if (now > st.minute_mark + 60) {
		st.minute_mark = now;
		show_window(c, st.snap_minute, 1, 42, 16);
	}
	if (now > st.hour_mark + 3600) {
		st.hour_mark = now;
		show_window(c, st.snap_hour, 0, 12, 16);
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
	bool have_row = read_row(ifname);
	note_presence(have_row);
	if (!st.cur_ifr)
		return;
	if (pf_flags(st.if_sock, st.cur_ifr, &flags) < 0) {
		if (vanished())
			return;
		fatal_perror("FLAGS");
	}
	if (!show_address(flags))
		return;
	if (have_row)
		show_counters(tv.tv_sec);
	if (upper_changed)
		wrefresh(st.upper_win);
	upper_changed = false;
}
