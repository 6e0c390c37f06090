/*
 * Every interface at once: the system's listing read in one request a
 * sample, and each interface followed in a slot of its own by its index,
 * so a rename keeps its figures and an index reused by a new interface
 * (BSD does so at once) starts them again, as its counters fall.  Nothing
 * is read while nobody asks: the overview reads it only while it is open.
 */
#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

#include "ifstat/ifstat.h"
#include "main/main.h"

static if_entry listing[TABLE_MAX];
static if_slot slots[TABLE_MAX];
static int high;	/* slots[high] and beyond have never been used: untouched memory */
static int low_free;	/* every slot below it is in use */
static if_slot *by_index[TABLE_MAX];	/* the slots in use, by index, listed before gone */
static int used;
static int64_t last_span;
static time_t last_wall;

static bool index_order(const if_slot *a, const if_slot *b)
{
	return a->index != b->index ? a->index < b->index : !a->gone && b->gone;
}

/* The listed (not gone) slot of this index among the first n, or null. */
static if_slot *slot_of(int index, int n)
{
	if_slot key{};
	key.index = index;
	if_slot **p = std::lower_bound(by_index, by_index + n, &key, index_order);
	return p < by_index + n && (*p)->index == index && !(*p)->gone ? *p : nullptr;
}

/* A free slot, added at the end of by_index, or null when all are taken. */
static if_slot *new_slot(const if_entry &e, const uint64_t c[NCOUNTERS], int64_t read_at)
{
	if (used >= TABLE_MAX)
		return nullptr;
	while (low_free < high && slots[low_free].index)
		low_free++;
	if_slot *s = &slots[low_free++];
	high = std::max(high, low_free);
	*s = if_slot{};
	s->index = e.index;
	track_start(&s->trk, c, read_at);
	by_index[used++] = s;
	return s;
}

/* by_index again, without the slots freed: in order for slot_of. */
static void index_slots()
{
	int n = 0;

	for (int i = 0; i < used; i++)
		if (by_index[i]->index)
			by_index[n++] = by_index[i];
	used = n;
	std::sort(by_index, by_index + used, index_order);
}

void table_sample(int64_t when, bool whole_second)
{
	int n = pf_list(listing, TABLE_MAX);
	int64_t read_at = pf_mono_ns();
	time_t wall = pf_wall();

	if (n < 0) {
		/* a signal, or a kernel that said no: the records stay as they were */
		check_signal();
		return;
	}
	last_span = 0;
	last_wall = wall;
	int known = used;
	for (int i = 0; i < known; i++)
		by_index[i]->rec.present = false;
	for (int i = 0; i < n; i++) {
		const if_entry &e = listing[i];
		uint64_t c[NCOUNTERS];
		read_counters(e.row, c);
		if_slot *s = slot_of(e.index, known);
		if (!s && !(s = new_slot(e, c, read_at)))
			continue;
		sample_rec &r = s->rec;
		r = sample_rec{};
		r.when = when;
		r.wall = wall;
		r.span = track_span(&s->trk, read_at);
		if (track_fell(s->trk, c))
			track_start(&s->trk, c, read_at);
		r.present = true;
		r.flags = e.row.flags;
		if (e.have_addr)
			inet_ntop(AF_INET, &e.addr, r.addr, sizeof r.addr);
		track_sample(&s->trk, c, read_at, whole_second, &r);
		memcpy(s->name, e.row.name, IFNAME_SIZE);
		last_span = std::max(last_span, r.span);
	}
	/* those not listed went away: a record that says so, and no figures */
	for (int i = 0; i < known; i++) {
		if_slot *s = by_index[i];
		if (s->rec.present)
			continue;
		s->gone = true;
		s->rec = sample_rec{};
		s->rec.when = when;
		s->rec.wall = wall;
		s->rec.fresh = true;
	}
	index_slots();
}

void table_start()
{
	int64_t now = pf_mono_ns();

	table_clear();
	table_sample(now, false);
	st.next_sample = now + SECOND;
}

bool table_update(bool resumed)
{
	int64_t now = pf_mono_ns(), when;

	if (resumed) {
		if (!resume_due(now))
			return false;
		table_sample(now, false);
		return true;
	}
	if (!sample_due(now, &st.next_sample, &when))
		return false;
	table_sample(when, true);
	return true;
}

void table_clear()
{
	for (int i = 0; i < used; i++)
		by_index[i]->index = 0;
	used = 0;
	high = low_free = 0;
	pf_list_done();
}

void table_drop_gone()
{
	for (int i = 0; i < used; i++) {
		if (!by_index[i]->gone)
			continue;
		by_index[i]->index = 0;
		low_free = std::min<int>(low_free, by_index[i] - slots);
	}
	index_slots();
}

if_slot **table_slots(int *n)
{
	*n = used;
	return by_index;
}

if_slot *table_find(const char *name)
{
	for (int i = 0; i < used; i++)
		if (!by_index[i]->gone && strncmp(by_index[i]->name, name, IFNAME_SIZE) == 0)
			return by_index[i];
	return nullptr;
}

int64_t table_span()
{
	return last_span;
}

time_t table_wall()
{
	return last_wall;
}
