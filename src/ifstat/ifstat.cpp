/*
 * Interface lookup and the statistics sampler.
 *
 * The configuration (the interface's index, flags and addresses) is read
 * at start and again only when the kernel announces a change that concerns
 * the interface, so an address change reaches the screen as it happens.
 * The counters are read once a second on a steady grid.  Every interval
 * (the grid, the minute and hour windows, the age of the change) is on the
 * monotonic clock: a step of the wall clock changes none of them.
 */
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>

#include "ifstat/ifstat.h"
#include "main/main.h"
#include "screen/screen.h"

/* A sample later than this after a stop starts the per-second figures afresh. */
constexpr int64_t HELD_PAST = SECOND / 2;
/* The address row: address and host name from column 6 up to the label at 59. */
constexpr int ADDR_COL = 6, HOST_COL = 22, LABEL_COL = 59, ADDR_ROW_COLS = LABEL_COL - ADDR_COL;

static void read_counters(const if_row &r, uint64_t c[NCOUNTERS])
{
	c[IBYTES] = r.ibytes;
	c[OBYTES] = r.obytes;
	c[IPACKETS] = r.ipackets;
	c[OPACKETS] = r.opackets;
}

/*
 * Whether the interface is there and up.  Its coming back (up again, or
 * another interface under its name, or a new change time) is what lets an
 * ended capture start again, so an expression that tcpdump rejects, while
 * the interface stays as it was, never restarts it in a loop.
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
enum field { F_ADDR, F_OTHER, F_CHANGE, F_BYTES_IN, F_BYTES_OUT, F_PKTS_IN, F_PKTS_OUT,
	     F_WINDOWS, NFIELDS = F_WINDOWS + 3 * NCOUNTERS };

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

static void refresh_upper()
{
	/* while the terminal is too small the windows are not on it */
	if (upper_changed && screen_shown())
		wrefresh(st.upper_win);
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

/* When a wall-clock time was, on the monotonic clock: read once, a step later moves it not. */
static int64_t mono_of(time_t t, int64_t now)
{
	return now - (pf_wall() - t) * SECOND;
}

/* The starting point of every later difference. */
static void take_row(int row, int64_t now)
{
	uint64_t c[NCOUNTERS];

	/* figures of an interface that went away belong to it, not to this one */
	if (st.curses_active) {
		draw_figure_labels();
		forget_figures();
		upper_changed = true;
	}
	st.chg_prev_text[0] = '\0';

	st.mib_row = row;
	st.chg_prev_time = st.chg_time = st.ifmd.lastchange;
	st.chg_count = st.ifmd.changes;
	st.chg_mono = mono_of(st.chg_time, now);
	st.hour_mark = st.minute_mark = now;
	read_counters(st.ifmd, c);
	for (int i = 0; i < NCOUNTERS; i++)
		st.snap_hour[i] = st.snap_minute[i] = st.snap_second[i] = c[i];
	st.new_row = true;
}

/*
 * The interface or its address went away between the list and the request
 * (deleted a moment ago), or it has no such address: not a fatal error.
 */
static bool absent(int err)
{
	return err == ENODEV || err == ENXIO || err == EADDRNOTAVAIL;
}

static void fatal_request(const char *what)
{
	check_signal();
	fatal_perror(what);
}

/* The IPv4 address as text, and a look-up of its name when it is new. */
static void note_address(const char *ifname, int64_t now)
{
	char addr[ADDR_TEXT_SIZE] = "";
	char addr6[ADDR6_TEXT_SIZE] = "";

	if (st.cur_ifr) {
		inet_ntop(AF_INET, st.cur_ifr + 20, addr, sizeof addr);
	} else if (char *e6 = find_entry(st.conf_buf, st.conf_len, ifname, AF_INET6)) {
		inet_ntop(AF_INET6, e6 + 24, addr6, sizeof addr6);
	}
	snprintf(st.addr6, sizeof st.addr6, "%s", addr6);
	if (strcmp(addr, st.last_addr) == 0)
		return;
	/* the name of the address before is no longer ours */
	lookup_cancel();
	snprintf(st.last_addr, sizeof st.last_addr, "%s", addr);
	st.host_name[0] = '\0';
	st.host_pattern = st.host_name;
	/* lines of figures show no name */
	if (addr[0] && st.out == OUT_SCREEN)
		lookup_start(now);
}

/*
 * The label as the flags have it, and the peer or broadcast address behind
 * it: "dst:" only for a peer that is not the interface's own address,
 * "brc:" only with the broadcast flag.  A loopback interface keeps the
 * template's "brc:" with nothing behind it.
 */
static void show_other(unsigned flags)
{
	char text[FIELD_SIZE], addr[ADDR_TEXT_SIZE] = "";
	const char *label = "";
	in_addr a, own{};

	/* the requests may answer in place, over the entry's own address */
	if (st.cur_ifr)
		memcpy(&own, st.cur_ifr + 20, sizeof own);
	if (flags & IF_LOOPBACK) {
		label = "brc:";
	} else if (flags & IF_POINTOPOINT) {
		if (st.cur_ifr && pf_dstaddr(st.if_sock, st.cur_ifr, &a) == 0) {
			if (memcmp(&a, &own, sizeof a) != 0) {
				label = "dst:";
				inet_ntop(AF_INET, &a, addr, sizeof addr);
			}
		} else if (st.cur_ifr && !absent(errno)) {
			fatal_request("DST");
		}
	} else if (flags & IF_BROADCAST) {
		label = "brc:";
		if (st.cur_ifr && pf_brdaddr(st.if_sock, st.cur_ifr, &a) == 0)
			inet_ntop(AF_INET, &a, addr, sizeof addr);
		else if (st.cur_ifr && !absent(errno))
			fatal_request("BRD");
	}
	snprintf(text, sizeof text, "%-5s%-15s", label, addr);
	put_text(F_OTHER, 1, LABEL_COL, text, 20);
}

/*
 * Reads the configuration: the list, the row, the flags, the addresses.
 * An interface that is not there shows a dash and keeps its last figures.
 */
static void read_config(const char *ifname, int64_t now)
{
	unsigned flags;

	st.conf_len = pf_getconf(st.if_sock, ifname, st.conf_buf, sizeof st.conf_buf);
	if (st.conf_len < 0)
		check_signal();
	st.cur_ifr = find_ifreq(st.conf_buf, st.conf_len, ifname);
	int row = st.conf_len > 0 ? pf_row_of(st.if_sock, ifname) : -1;
	if (row <= 0 || pf_row(row, &st.ifmd) < 0) {
		check_signal();
		st.conf_len = 0;
		st.cur_ifr = nullptr;
		st.mib_row = 0;
		note_address(ifname, now);
		note_presence(false);
		if (st.curses_active) {
			char text[FIELD_SIZE];
			show_addr_row();
			snprintf(text, sizeof text, "%-20s", st.if_flags & IF_POINTOPOINT ? "dst:" : "brc:");
			put_text(F_OTHER, 1, LABEL_COL, text, 20);
		}
		return;
	}
	if (row != st.mib_row)
		take_row(row, now);
	note_address(ifname, now);
	/* any entry of the interface will do for its flags: the link entry is first */
	if (pf_flags(st.if_sock, st.cur_ifr ? st.cur_ifr : st.conf_buf, &flags) < 0) {
		if (!absent(errno))
			fatal_request("FLAGS");
		flags = st.ifmd.flags;
	}
	st.if_flags = flags & 0xffff;
	st.ifmd.flags = flags;
	note_presence(true);
	if (st.curses_active) {
		show_addr_row();
		show_other(flags);
	}
}

void if_init(const char *ifname)
{
	if (pf_ifcount(&st.if_count) < 0) {
		check_signal();
		perror("sysctl-ifcount");
		cleanup_exit(1);
	}
	st.if_sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	st.notice_fd = pf_watch();
	int64_t now = pf_mono_ns();
	read_config(ifname, now);
	/* the first figures one second after this, the difference since this read */
	st.last_sample = now;
	st.new_row = false;
	/* the address as soon as the screen is up */
	st.next_sample = now + SECOND;
	st.conf_due = true;
}

void if_notice(const char *ifname)
{
	int r = pf_notice(st.notice_fd, st.mib_row, ifname);

	if (r < 0)
		check_signal();
	if (r != 0)
		st.conf_due = true;
}

/*
 * The row from column 5 is one field, so that nothing of a longer text
 * before (the "unsupported" one, say) stays behind; the previous change
 * is remembered to be written again.
 */
static void show_change(int64_t now)
{
	char text[SINCE_TEXT_SIZE];
	char row[2 * SINCE_TEXT_SIZE];
	time_t t = st.ifmd.lastchange;

	if (t == 0) {
		put_padded(F_CHANGE, 2, 5, 0, "last administrative change time unsupported by driver");
		shown[F_CHANGE].value = UINT64_C(1) << 63;	/* no minute's */
		return;
	}
	/* a record started again (its index another interface's meanwhile): counted from here */
	if (st.ifmd.changes < st.chg_count)
		st.chg_count = st.ifmd.changes;
	unsigned moved = st.ifmd.changes - st.chg_count;
	if (t != st.chg_time || moved) {
		shown[F_CHANGE].cols = -1;
		if (moved >= 2 && st.ifmd.prevchange) {
			/* more than one since the last sample: the one before the last, and how long it held */
			st.chg_prev_time = st.ifmd.prevchange;
			st.prev_elapsed = t - st.ifmd.prevchange;
		} else {
			st.chg_prev_time = st.chg_time;
		}
		st.chg_time = t;
		st.chg_count = st.ifmd.changes;
		st.chg_mono = mono_of(t, now);
		format_since(st.chg_prev_text, sizeof st.chg_prev_text, st.chg_prev_time,
			     st.prev_elapsed);
	}
	int64_t elapsed = (now - st.chg_mono) / SECOND;
	st.prev_elapsed = elapsed;
	/* the text shows whole minutes: the same minute, the same text */
	if (same_value(F_CHANGE, elapsed / 60 * 2 + (elapsed < 0)))
		return;
	shown[F_CHANGE].value = elapsed / 60 * 2 + (elapsed < 0);
	format_since(text, sizeof text, t, elapsed);
	/* "%-35s" at column 5, and the previous one with "%-35s" at column 44 */
	snprintf(row, sizeof row, "%-39.39s%s", text, st.chg_prev_text);
	put_padded(F_CHANGE, 2, 5, st.chg_prev_text[0] ? 74 : 35, row);
	shown[F_CHANGE].value = elapsed / 60 * 2 + (elapsed < 0);
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

/* Rows 5..8 in counter order, at the block's column: h, m, s. */
static void show_window(const uint64_t v[NCOUNTERS], int which, int col, int width)
{
	for (int i = 0; i < NCOUNTERS; i++)
		put_count(F_WINDOWS + 3 * i + which, 5 + i, col, width, v[i]);
}

/* The figures of a sample in the upper window; of the blocks, those that ended. */
static void show_counters(const sample_rec &r, int64_t now)
{
	put_bytes(F_BYTES_IN, 3, 12, r.count[IBYTES]);
	put_bytes(F_BYTES_OUT, 3, 53, r.count[OBYTES]);
	/* padded like the bytes, or digits of a longer figure before would stay */
	put_count(F_PKTS_IN, 4, 12, 24, r.count[IPACKETS]);
	put_count(F_PKTS_OUT, 4, 53, 24, r.count[OPACKETS]);
	show_change(now);
	if (r.whole_second)
		show_window(r.delta, 2, 70, 9);
	if (r.minute_done)
		show_window(r.minute, 1, 42, 16);
	if (r.hour_done)
		show_window(r.hour, 0, 12, 16);
}

/* The change of every counter since its mark, and the mark moved to now. */
static void take_window(const uint64_t c[NCOUNTERS], uint64_t snap[NCOUNTERS],
			uint64_t out[NCOUNTERS])
{
	for (int i = 0; i < NCOUNTERS; i++) {
		out[i] = c[i] - snap[i];
		snap[i] = c[i];
	}
}

/*
 * The record of a sample of a row still under its name: the counters, the
 * difference since the sample before (whole_second: a second's worth) and
 * the blocks of at least 61 and 3601 seconds that ended.
 */
static void count_sample(sample_rec *r, int64_t now, bool whole_second)
{
	read_counters(st.ifmd, r->count);
	r->fresh = st.new_row;
	r->whole_second = whole_second && !st.new_row;
	take_window(r->count, st.snap_second, r->delta);
	if (now - st.minute_mark >= 61 * SECOND) {
		st.minute_mark = now;
		r->minute_done = true;
		take_window(r->count, st.snap_minute, r->minute);
	}
	if (now - st.hour_mark >= 3601 * SECOND) {
		st.hour_mark = now;
		r->hour_done = true;
		take_window(r->count, st.snap_hour, r->hour);
	}
}

/*
 * A counter below its value a second ago: the interface was made again
 * under the same index (BSD reuses a freed one at once) or its driver
 * started again.  The figures start again from the template, as for any
 * new interface; a wrapped difference would be nonsense.
 */
static bool counters_fell(const if_row &r)
{
	uint64_t c[NCOUNTERS];

	read_counters(r, c);
	for (int i = 0; i < NCOUNTERS; i++)
		if (c[i] < st.snap_second[i])
			return true;
	return false;
}

/*
 * The interface's row, still under its name.  A change in it that no
 * announcement told of means one was lost: the rest is read afresh.
 */
static bool our_row(const char *ifname, if_row *r)
{
	if (pf_row(st.mib_row, r) < 0 || strncmp(r->name, ifname, IFNAME_SIZE) != 0) {
		check_signal();
		return false;
	}
	if (r->reread)
		st.conf_due = true;
	return true;
}

/* A sample into st.rec, and onto the screen; always a record, present or not. */
static void sample(const char *ifname, int64_t now, bool whole_second)
{
	sample_rec &rec = st.rec;
	if_row r;

	rec = sample_rec{};
	rec.when = now;
	rec.wall = pf_wall();
	rec.span = now - st.last_sample;
	st.last_sample = now;
	if (st.notice_fd < 0)
		read_config(ifname, now);
	if (st.mib_row && !our_row(ifname, &r)) {
		/* gone, or renamed: the announcement is on its way, or read again now */
		st.conf_due = true;
	} else if (st.mib_row) {
		st.ifmd = r;
		if (counters_fell(r)) {
			take_row(st.mib_row, now);
			st.if_gen++;
		}
		rec.present = true;
		rec.flags = st.ifmd.flags;
		snprintf(rec.addr, sizeof rec.addr, "%s", st.last_addr);
		count_sample(&rec, now, whole_second);
		st.new_row = false;
		if (st.curses_active)
			show_counters(rec, now);
		return;
	}
	rec.fresh = true;
}

static void config_if_due(const char *ifname, int64_t now)
{
	if (st.conf_due) {
		st.conf_due = false;
		read_config(ifname, now);
	}
}

bool if_update(const char *ifname)
{
	int64_t now = pf_mono_ns();
	int64_t when;
	bool sampled = sample_due(now, &st.next_sample, &when);

	lookup_tick(now);
	config_if_due(ifname, now);
	if (sampled) {
		sample(ifname, when, true);
		/* what the sample found changed, at once rather than at the next wake-up */
		config_if_due(ifname, now);
	}
	if (st.host_changed && st.curses_active)
		show_addr_row();
	refresh_upper();
	return sampled;
}

/* The configuration now, not at the next pass: the capture asks why its program ended. */
void if_refresh(const char *ifname)
{
	st.conf_due = false;
	read_config(ifname, pf_mono_ns());
}

/*
 * Continued after a stop (SIGSTOP, ^Z) that held the loop well past a
 * sample: that sample is taken now (counters, windows, change time), but
 * the per-second figures start afresh from it, or the next would hold the
 * whole stop under its "/s" label; the grid goes on from now.  A stop
 * cycle that runs less than a second between stops (a debugger, a job
 * control script) still samples at every continue.  A SIGCONT alone, or a
 * short stop (a CPU limiter's, several a second), leaves the grid be.
 */
bool if_resume(const char *ifname)
{
	int64_t now = pf_mono_ns();

	if (now - st.next_sample < HELD_PAST)
		return false;
	st.next_sample = now + SECOND;
	sample(ifname, now, false);
	config_if_due(ifname, now);
	return true;
}

int64_t if_next_due()
{
	return std::min(st.next_sample, lookup_due());
}
