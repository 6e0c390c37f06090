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

void read_counters(const if_row &r, uint64_t c[NCOUNTERS])
{
	c[IBYTES] = r.ibytes;
	c[OBYTES] = r.obytes;
	c[IPACKETS] = r.ipackets;
	c[OPACKETS] = r.opackets;
	c[IERRORS] = r.ierrors;
	c[OERRORS] = r.oerrors;
	c[IDROPS] = r.idrops;
	c[ODROPS] = r.odrops;
	c[IMCASTS] = r.imcasts;
	c[OMCASTS] = r.omcasts;
	c[ICOLLS] = 0;
	c[OCOLLS] = r.collisions;
}

/* Collisions happen in sending; Linux counts no multicast sent. */
static unsigned kept_counters()
{
	unsigned k = ((1u << NCOUNTERS) - 1) & ~(1u << ICOLLS);
	return pf_unkept & ROW_OMCASTS ? k & ~(1u << OMCASTS) : k;
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

/* When a wall-clock time was, on the monotonic clock: read once, a step later moves it not. */
static int64_t mono_of(time_t t, int64_t now)
{
	return now - (pf_wall() - t) * SECOND;
}

/*
 * The row, and the time it was read: a difference of counters is over the
 * time between its two reads, not between the wake-ups that asked for
 * them, which a loaded machine or a short stop can make late.
 */
static int read_row(int row, if_row *r)
{
	int rc = pf_row(row, r);

	st.read_at = pf_mono_ns();
	return rc;
}

/* Where the differences, averages and peaks of an interface start: counters c, read at read_at. */
void track_start(if_track *t, const uint64_t c[NCOUNTERS], int64_t read_at)
{
	for (int i = 0; i < NCOUNTERS; i++) {
		t->snap[i] = t->avg_base[i] = c[i];
		t->peak[i] = 0;
		t->peak_at[i] = 0;
	}
	t->last_read = t->avg_since = read_at;
	t->new_row = true;
}

int64_t track_span(if_track *t, int64_t read_at)
{
	int64_t span = read_at - t->last_read;

	t->last_read = read_at;
	return span;
}

/* The starting point of every later difference, from the row just read. */
static void take_row(int row, int64_t now)
{
	uint64_t c[NCOUNTERS];

	/* figures of an interface that went away belong to it, not to this one */
	if (st.curses_active)
		screen_new_row();
	st.chg_prev_shown = false;

	st.mib_row = row;
	st.chg_prev_time = st.chg_time = st.ifmd.lastchange;
	st.chg_count = st.ifmd.changes;
	st.chg_mono = mono_of(st.chg_time, now);
	st.hour_mark = st.minute_mark = now;
	read_counters(st.ifmd, c);
	for (int i = 0; i < NCOUNTERS; i++)
		st.snap_hour[i] = st.snap_minute[i] = c[i];
	track_start(&st.trk, c, st.read_at);
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
static void note_other(unsigned flags)
{
	in_addr a, own{};

	st.other_label = "";
	st.other_addr[0] = '\0';
	/* the requests may answer in place, over the entry's own address */
	if (st.cur_ifr)
		memcpy(&own, st.cur_ifr + 20, sizeof own);
	if (flags & IF_LOOPBACK) {
		st.other_label = "brc:";
	} else if (flags & IF_POINTOPOINT) {
		if (st.cur_ifr && pf_dstaddr(st.if_sock, st.cur_ifr, &a) == 0) {
			if (memcmp(&a, &own, sizeof a) != 0) {
				st.other_label = "dst:";
				inet_ntop(AF_INET, &a, st.other_addr, sizeof st.other_addr);
			}
		} else if (st.cur_ifr && !absent(errno)) {
			fatal_request("DST");
		}
	} else if (flags & IF_BROADCAST) {
		st.other_label = "brc:";
		if (st.cur_ifr && pf_brdaddr(st.if_sock, st.cur_ifr, &a) == 0)
			inet_ntop(AF_INET, &a, st.other_addr, sizeof st.other_addr);
		else if (st.cur_ifr && !absent(errno))
			fatal_request("BRD");
	}
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
	if (row <= 0 || read_row(row, &st.ifmd) < 0) {
		check_signal();
		st.conf_len = 0;
		st.cur_ifr = nullptr;
		st.mib_row = 0;
		note_address(ifname, now);
		note_presence(false);
		st.other_label = st.if_flags & IF_POINTOPOINT ? "dst:" : "brc:";
		st.other_addr[0] = '\0';
		if (st.curses_active)
			screen_config();
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
	note_other(flags);
	if (st.curses_active)
		screen_config();
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
	/* the first figures one second after this, the difference since this read */
	st.trk.last_read = st.read_at = now;
	read_config(ifname, now);
	st.trk.new_row = false;
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
 * The change time of the row into the record, and the one before it with
 * how long it held; two changes between two samples (a down and an up in
 * one burst) show as such.
 */
static void track_change(sample_rec *r, int64_t now)
{
	time_t t = st.ifmd.lastchange;

	r->chg_time = t;
	if (t == 0)
		return;
	/* a record started again (its index another interface's meanwhile): counted from here */
	if (st.ifmd.changes < st.chg_count)
		st.chg_count = st.ifmd.changes;
	unsigned moved = st.ifmd.changes - st.chg_count;
	if (t != st.chg_time || moved) {
		if (moved >= 2 && st.ifmd.prevchange) {
			/* more than one since the last sample: the one before the last, and how long it held */
			st.chg_prev_time = st.ifmd.prevchange;
			st.prev_elapsed = t - st.ifmd.prevchange;
		} else {
			st.chg_prev_time = st.chg_time;
		}
		st.chg_prev_held = st.prev_elapsed;
		st.chg_prev_shown = true;
		st.chg_time = t;
		st.chg_count = st.ifmd.changes;
		st.chg_mono = mono_of(t, now);
	}
	st.prev_elapsed = (now - st.chg_mono) / SECOND;
	r->chg_elapsed = st.prev_elapsed;
	r->chg_prev = st.chg_prev_shown;
	r->chg_prev_time = st.chg_prev_time;
	r->chg_prev_held = st.chg_prev_held;
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
 * The peak second and the average since the figures started (at start, or
 * when the interface or its counters started again): a span much shorter
 * than a second (the one after a late wake-up can be) would make a few
 * packets a spike, so only a second's worth, or near it, can be a peak.
 */
static void note_peaks(if_track *t, int64_t read_at, sample_rec *r)
{
	r->kept = kept_counters();
	r->have_avg = !r->fresh && read_at > t->avg_since;
	for (int i = 0; i < NCOUNTERS; i++) {
		if (r->have_avg)
			r->avg[i] = per_second(r->count[i] - t->avg_base[i], read_at - t->avg_since);
		if (r->whole_second && r->span >= SECOND / 2 && r->per_second[i] > t->peak[i]) {
			t->peak[i] = r->per_second[i];
			t->peak_at[i] = r->wall;
		}
		r->peak[i] = t->peak[i];
		r->peak_at[i] = t->peak_at[i];
	}
}

/*
 * The counters into the record, with the difference since the sample
 * before and what it makes a second over r->span (whole_second: the figure
 * to show as such).
 */
void track_sample(if_track *t, const uint64_t c[NCOUNTERS], int64_t read_at, bool whole_second,
		  sample_rec *r)
{
	memcpy(r->count, c, sizeof r->count);
	r->fresh = t->new_row;
	r->whole_second = whole_second && !t->new_row;
	take_window(r->count, t->snap, r->delta);
	for (int i = 0; i < NCOUNTERS; i++)
		r->per_second[i] = per_second(r->delta[i], r->span);
	note_peaks(t, read_at, r);
	t->new_row = false;
}

/* The record of a sample of a row still under its name, and the blocks of 61 and 3601 s that ended. */
static void count_sample(sample_rec *r, int64_t now, bool whole_second)
{
	uint64_t c[NCOUNTERS];

	read_counters(st.ifmd, c);
	track_sample(&st.trk, c, st.read_at, whole_second, r);
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
bool track_fell(const if_track &t, const uint64_t c[NCOUNTERS])
{
	for (int i = 0; i < NCOUNTERS; i++)
		if (c[i] < t.snap[i])
			return true;
	return false;
}

/*
 * The interface's row, still under its name.  A change in it that no
 * announcement told of means one was lost: the rest is read afresh.
 */
static bool our_row(const char *ifname, if_row *r)
{
	if (read_row(st.mib_row, r) < 0 || strncmp(r->name, ifname, IFNAME_SIZE) != 0) {
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
	if (st.notice_fd < 0)
		read_config(ifname, now);
	bool have = st.mib_row && our_row(ifname, &r);
	if (!have)
		st.read_at = pf_mono_ns();
	rec.span = track_span(&st.trk, st.read_at);
	if (st.mib_row && !have) {
		/* gone, or renamed: the announcement is on its way, or read again now */
		st.conf_due = true;
	} else if (st.mib_row) {
		uint64_t c[NCOUNTERS];
		st.ifmd = r;
		read_counters(r, c);
		if (track_fell(st.trk, c)) {
			take_row(st.mib_row, now);
			st.if_gen++;
		}
		rec.present = true;
		rec.flags = st.ifmd.flags;
		snprintf(rec.addr, sizeof rec.addr, "%s", st.last_addr);
		count_sample(&rec, now, whole_second);
		track_change(&rec, now);
		if (st.curses_active)
			screen_sample(rec);
		return;
	}
	rec.fresh = true;
	if (st.curses_active) {
		graph_sample(rec);
		details_update();
	}
}

static void config_if_due(const char *ifname, int64_t now)
{
	if (st.conf_due) {
		st.conf_due = false;
		read_config(ifname, now);
	}
}

/* Every interface, while the overview is open: on the grid, and at once when opened (its table empty). */
static void sample_table(bool sampled, int64_t when, int64_t now)
{
	int listed;

	table_slots(&listed);
	if (!sampled && listed > 0)
		return;
	table_sample(sampled ? when : now, sampled && listed > 0);
	table_drop_gone();
	overview_update();
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
	if (st.lower_view == VIEW_OVERVIEW)
		sample_table(sampled, when, now);
	if (st.host_changed && st.curses_active)
		screen_config();
	if (st.curses_active)
		screen_figures_done();
	return sampled;
}

/*
 * Another interface, followed from now exactly as one named at start: its
 * configuration and row read afresh, the host name looked up again, the
 * figures from the template; the grid goes on.
 */
void if_switch(const char *ifname)
{
	int64_t now = pf_mono_ns();

	lookup_cancel();
	st.mib_row = 0;
	st.if_flags = 0;
	st.if_up = false;
	st.last_addr[0] = '\0';
	st.host_name[0] = '\0';
	st.host_pattern = st.host_name;
	st.host_changed = true;
	st.trk.last_read = st.read_at = now;
	read_config(ifname, now);
	st.trk.new_row = false;
	st.conf_due = false;
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
bool resume_due(int64_t now)
{
	if (now - st.next_sample < HELD_PAST)
		return false;
	st.next_sample = now + SECOND;
	return true;
}

bool if_resume(const char *ifname)
{
	int64_t now = pf_mono_ns();

	if (!resume_due(now))
		return false;
	sample(ifname, now, false);
	config_if_due(ifname, now);
	return true;
}

int64_t if_next_due()
{
	return std::min(st.next_sample, lookup_due());
}
