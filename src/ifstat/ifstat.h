#pragma once
/* Interface lookup, the once-a-second statistics sampler and the host name look-up. */
#include <cstddef>
#include <cstdint>
#include <ctime>

#include "common.h"
#include "platform/netif.h"

/* In and out of each, in pairs; the first NTRAFFIC are the template's. */
enum counter { IBYTES, OBYTES, IPACKETS, OPACKETS, IERRORS, OERRORS, IDROPS, ODROPS,
	       IMCASTS, OMCASTS, ICOLLS, OCOLLS, NCOUNTERS };
constexpr int NTRAFFIC = 4;
constexpr size_t ADDR_TEXT_SIZE = 16;	/* "255.255.255.255" */

/*
 * One sample, as the sampler found it: what the screen and the text mode
 * render, neither of them doing any counter arithmetic of its own.
 */
struct sample_rec {
	int64_t when;		/* on the monotonic clock */
	time_t wall;		/* the wall clock then, for a time shown as text */
	int64_t span;		/* between the reads of the counters that bound delta
				 * (at start: since the first read), as the clock had it */
	bool present;		/* the interface's row was read under its name */
	bool fresh;		/* its figures start here: delta is no difference (a new row,
				 * counters that fell, or not present) */
	bool whole_second;	/* delta is the second before, the /s figures (not after a stop) */
	unsigned flags;		/* IF_* */
	uint64_t count[NCOUNTERS];	/* as the kernel keeps them */
	uint64_t delta[NCOUNTERS];	/* since the sample before */
	uint64_t per_second[NCOUNTERS];	/* delta over span, scaled to one second */
	unsigned kept;		/* bit i: the system keeps counter i (else it reads 0) */
	bool have_avg;		/* avg is over some time since the figures started */
	uint64_t avg[NCOUNTERS];	/* a second's average since then */
	uint64_t peak[NCOUNTERS];	/* the largest per_second of a whole second since then */
	time_t peak_at[NCOUNTERS];	/* the wall clock at that sample; 0: none yet */
	bool minute_done, hour_done;	/* a block of 61 or 3601 s ended here */
	uint64_t minute[NCOUNTERS], hour[NCOUNTERS];	/* over that block */
	char addr[ADDR_TEXT_SIZE];	/* the first IPv4 address, "" without one */
	time_t chg_time;	/* the last administrative change, wall clock; 0: unknown */
	int64_t chg_elapsed;	/* seconds since, on the monotonic clock */
	bool chg_prev;		/* the change before it is shown: */
	time_t chg_prev_time;	/* when it was */
	int64_t chg_prev_held;	/* and how long it held, in seconds */
};

/*
 * One interface's counters between samples, where every difference, rate,
 * average and peak starts: the one interface's, or each of many.
 */
struct if_track {
	uint64_t snap[NCOUNTERS];	/* the counters at the last read */
	int64_t last_read;	/* and when, on the monotonic clock */
	uint64_t avg_base[NCOUNTERS];	/* the counters when the figures started */
	int64_t avg_since;	/* and when they were read */
	uint64_t peak[NCOUNTERS];
	time_t peak_at[NCOUNTERS];
	bool new_row;		/* taken anew since the last sample: no difference to show */
};
void read_counters(const if_row &r, uint64_t c[NCOUNTERS]);
void track_start(if_track *t, const uint64_t c[NCOUNTERS], int64_t read_at);
int64_t track_span(if_track *t, int64_t read_at);	/* since the last read, now read_at */
bool track_fell(const if_track &t, const uint64_t c[NCOUNTERS]);
/* counters c read at read_at into r: count, delta, per_second, fresh, kept, avg, peak */
void track_sample(if_track *t, const uint64_t c[NCOUNTERS], int64_t read_at, bool whole_second,
		  sample_rec *r);

/* A line's interval of samples added up (the lines module fills it). */
struct text_sum {
	int samples;
	int64_t span;		/* nanoseconds the differences cover */
	bool broken;		/* a sample with no difference to the one before: no figures */
	uint64_t sum[NCOUNTERS];
};

/*
 * Every interface at once (table.cpp), for the overview and for lines of
 * several: one listing of the system a sample, each interface's track and
 * record in a slot of its own, known by its index (a rename keeps it).
 */
constexpr int TABLE_MAX = 2048;	/* interfaces beyond are not listed */
struct if_slot {
	int index;		/* 0: a free slot */
	char name[IFNAME_SIZE];
	bool gone;		/* not in the last listing: kept until table_drop_gone */
	if_track trk;
	sample_rec rec;		/* the last sample */
	text_sum sum;		/* the lines' interval so far */
};
void table_start();	/* the first listing; the first sample a second later */
bool table_update(bool resumed);	/* a sample if due; true: the records are new */
void table_sample(int64_t when, bool whole_second);	/* a listing now, on the caller's grid */
void table_clear();	/* every slot freed: the next listing starts afresh */
void table_drop_gone();
if_slot **table_slots(int *n);	/* the n slots in use, by index */
if_slot *table_find(const char *name);	/* the one listed under this name, or null */
int64_t table_span();	/* the time between the last two listings */
time_t table_wall();	/* the wall clock at the last listing */

void if_init(const char *ifname);
bool if_update(const char *ifname);	/* after every wake-up: what is due; true: st.rec is new */
void if_notice(const char *ifname);	/* the kernel announced changes */
bool if_resume(const char *ifname);	/* continued after a stop; true: st.rec is new */
/* continued: true if the stop held us well past a sample, which is then due now, the grid from now */
bool resume_due(int64_t now);
void if_refresh(const char *ifname);	/* the configuration read at once */
void if_switch(const char *ifname);	/* another interface from now, as if started on it */
int64_t if_next_due();	/* the monotonic time the sampler or look-up wants to run */
void lookup_read();	/* the look-up child's pipe is readable */

/* The look-up's side of the sampler (lookup.cpp). */
void lookup_start(int64_t now);	/* for st.last_addr */
void lookup_cancel();
void lookup_tick(int64_t now);	/* gives up on a silent resolver, asks again when due */
int64_t lookup_due();
constexpr size_t FIELD_SIZE = 128;	/* the longest figure text remembered */

/* Pure helpers, reachable without a kernel or a terminal. */
char *find_entry(char *buf, int len, const char *ifname, int family);
char *find_ifreq(char *buf, int len, const char *ifname);
bool sample_due(int64_t now, int64_t *next, int64_t *when);
uint64_t per_second(uint64_t delta, int64_t span);
constexpr size_t COUNT_TEXT_SIZE = 48;
void format_count(char *buf, size_t size, uint64_t v);
void fit_count(char *buf, size_t size, uint64_t v, int width);
uint64_t bits_of(uint64_t bytes);
void fit_bits(char *buf, size_t size, uint64_t bytes, int width);
constexpr size_t SINCE_TEXT_SIZE = 80;
void format_since(char *buf, size_t size, time_t t, int64_t seconds);
