/*
 * Lines of figures for logs and scripts (-o text, -o json): the sampler's
 * records added up over an interval and written as one line each, with
 * nothing else on standard output.  Every figure is a difference of the
 * kernel's 64-bit counters over the interval's own span on the monotonic
 * clock, so a step of the wall clock moves only the time column.
 */
#include <cerrno>
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "lines/lines.h"
#include "main/main.h"

static text_sum sum;	/* the interval so far */
static long lines;	/* written */

void sum_sample(text_sum *t, const sample_rec &r)
{
	t->samples++;
	t->span += r.span;
	if (r.fresh || !r.present)
		t->broken = true;
	for (int i = 0; i < NCOUNTERS; i++)
		t->sum[i] += r.delta[i];
}

/*
 * A rate per second over the time the interval covered; false where it has
 * none, or the system does not keep that counter.
 */
static bool rate(const text_sum &t, const sample_rec &end, int i, bool bits, uint64_t *out)
{
	if (t.broken || t.span <= 0 || !(end.kept >> i & 1))
		return false;
	uint64_t v = per_second(t.sum[i], t.span);
	*out = bits && i <= OBYTES ? bits_of(v) : v;
	return true;
}

static const char *state_word(const sample_rec &r)
{
	return !r.present ? "gone" : r.flags & IF_UP ? "up" : "down";
}

/* Local time as ISO 8601 with seconds; with_offset adds "+01:00". */
static void iso_time(char *buf, size_t size, time_t t, bool with_offset)
{
	tm local;
	char zone[8] = "";

	if (!localtime_r(&t, &local) || !strftime(buf, size, "%Y-%m-%dT%H:%M:%S", &local)) {
		snprintf(buf, size, "?");
		return;
	}
	if (with_offset && strftime(zone, sizeof zone, "%z", &local) == 5)
		snprintf(buf + strlen(buf), size - strlen(buf), "%.3s:%.2s", zone, zone + 3);
}

/*
 * The columns, 119 of them while the figures fit; the error and drop rates
 * after the address.  The first is the time, and in lines of several
 * interfaces the name after it.
 */
#define TEXT_COLUMNS "%s %12s %12s %10s %10s %-5s %-15s %6s %6s %7s %7s\n"

/* The time and, with one, the name: "?" for a byte that would break the columns. */
static void lead_columns(char *buf, size_t size, const char *when, const char *name)
{
	char seen[IFNAME_SIZE];
	size_t i = 0;

	if (!name) {
		snprintf(buf, size, "%-19s", when);
		return;
	}
	for (; name[i] && i < sizeof seen - 1; i++)
		seen[i] = name[i] > ' ' && name[i] < 0x7f ? name[i] : '?';
	seen[i] = '\0';
	snprintf(buf, size, "%-19s %-15s", when, seen);
}

int text_header(char *buf, size_t size, bool bits, bool named)
{
	char lead[64];

	lead_columns(lead, sizeof lead, "time", named ? "interface" : nullptr);
	return snprintf(buf, size, TEXT_COLUMNS, lead, bits ? "inbits/s" : "inbytes/s",
			bits ? "outbits/s" : "outbytes/s", "inpkts/s", "outpkts/s", "state",
			"address", "ierr/s", "oerr/s", "idrop/s", "odrop/s");
}

int text_line(char *buf, size_t size, const text_sum &t, const sample_rec &end, bool bits,
	      const char *name)
{
	char when[40], lead[64], fig[NCOUNTERS][24];

	iso_time(when, sizeof when, end.wall, false);
	lead_columns(lead, sizeof lead, when, name);
	for (int i = 0; i < NCOUNTERS; i++) {
		uint64_t v;
		if (rate(t, end, i, bits, &v))
			snprintf(fig[i], sizeof fig[i], "%" PRIu64, v);
		else
			snprintf(fig[i], sizeof fig[i], "-");
	}
	return snprintf(buf, size, TEXT_COLUMNS, lead, fig[IBYTES], fig[OBYTES], fig[IPACKETS],
			fig[OPACKETS], state_word(end), end.present && end.addr[0] ? end.addr : "-",
			fig[IERRORS], fig[OERRORS], fig[IDROPS], fig[ODROPS]);
}

size_t json_string(char *out, size_t size, std::string_view in)
{
	size_t o = 0;

	if (size < 3)
		return 0;
	out[o++] = '"';
	for (unsigned char c : in) {
		char esc[8];
		int n;
		if (c == '"' || c == '\\')
			n = snprintf(esc, sizeof esc, "\\%c", c);
		else if (c < 0x20 || c >= 0x7f)
			/* a byte of a name is no character of ours to decode: U+0000 to U+00FF */
			n = snprintf(esc, sizeof esc, "\\u%04x", c);
		else
			n = snprintf(esc, sizeof esc, "%c", c);
		if (o + n + 2 > size)
			break;
		memcpy(out + o, esc, n);
		o += n;
	}
	out[o++] = '"';
	out[o] = '\0';
	return o;
}

/* ,"name":figure or null */
static int json_figure(char *buf, size_t size, const char *name, bool have, uint64_t v)
{
	if (have)
		return snprintf(buf, size, ",\"%s\":%" PRIu64, name, v);
	return snprintf(buf, size, ",\"%s\":null", name);
}

/*
 * The counters in the lines, in their order, with their rates' names in
 * bytes and in bits; collisions are on the screen only.
 */
static const struct {
	int counter;
	const char *name, *rate, *rate_bits;
} json_counters[] = {
	{IBYTES, "in_bytes", "in_bytes_per_s", "in_bits_per_s"},
	{OBYTES, "out_bytes", "out_bytes_per_s", "out_bits_per_s"},
	{IPACKETS, "in_packets", "in_packets_per_s", "in_packets_per_s"},
	{OPACKETS, "out_packets", "out_packets_per_s", "out_packets_per_s"},
	{IERRORS, "in_errors", "in_errors_per_s", "in_errors_per_s"},
	{OERRORS, "out_errors", "out_errors_per_s", "out_errors_per_s"},
	{IDROPS, "in_drops", "in_drops_per_s", "in_drops_per_s"},
	{ODROPS, "out_drops", "out_drops_per_s", "out_drops_per_s"},
	{IMCASTS, "in_multicast", "in_multicast_per_s", "in_multicast_per_s"},
	{OMCASTS, "out_multicast", "out_multicast_per_s", "out_multicast_per_s"},
};

int json_line(char *buf, size_t size, const text_sum &t, const sample_rec &end,
	      std::string_view ifname, bool bits)
{
	char when[40], name[6 * IFNAME_SIZE + 3];
	size_t n = 0;

	iso_time(when, sizeof when, end.wall, true);
	json_string(name, sizeof name, ifname);
	auto more = [&](int k) { n += k > 0 ? k : 0; n = n < size ? n : size - 1; };
	/* the seconds the line covers, so that a rate times the interval is its bytes */
	int64_t ms = (t.span + 500000) / 1000000;
	more(snprintf(buf, size, "{\"time\":\"%s\",\"interface\":%s,\"interval\":%" PRId64 ".%03d",
		      when, name, ms / 1000, static_cast<int>(ms % 1000)));
	for (const auto &c : json_counters) {
		uint64_t v = 0;
		bool have = rate(t, end, c.counter, bits, &v);
		more(json_figure(buf + n, size - n, bits ? c.rate_bits : c.rate, have, v));
	}
	for (const auto &c : json_counters)
		more(json_figure(buf + n, size - n, c.name, end.present && end.kept >> c.counter & 1,
				 end.count[c.counter]));
	more(snprintf(buf + n, size - n, ",\"state\":\"%s\",\"address\":", state_word(end)));
	if (end.present && end.addr[0])
		more(snprintf(buf + n, size - n, "\"%s\"}\n", end.addr));
	else
		more(snprintf(buf + n, size - n, "null}\n"));
	return static_cast<int>(n);
}

/*
 * Whole lines, or the end: a reader that went away (a pipe into head)
 * ends us quietly, any other failure (a full disk) with its reason.  A
 * write of several lines may stop within one (a pipe takes 64 kB): a
 * signal then ends us only once that line is out.
 */
static void put_line(const char *buf, size_t len)
{
	bool line_end = true;

	while (len > 0) {
		ssize_t n = write(1, buf, len);
		if (n < 0 && errno == EINTR) {
			if (line_end)
				check_signal();
			continue;
		}
		if (n < 0 && errno == EPIPE)
			cleanup_exit(0);
		if (n < 0) {
			perror("ERROR, standard output");
			cleanup_exit(1);
		}
		buf += n;
		len -= n;
		line_end = buf[-1] == '\n';
	}
}

void text_start(const char *)
{
	char buf[TEXT_LINE_SIZE];
	bool named = st.all || st.nnames > 1;

	if (st.out == OUT_TEXT)
		put_line(buf, std::min<size_t>(text_header(buf, sizeof buf, st.bits, named),
					       sizeof buf - 1));
}

/*
 * The lines of an interval gather here and go out in writes of whole
 * lines: a thousand interfaces are a few writes a second, not a thousand.
 */
constexpr size_t BATCH_SIZE = 64 * TEXT_LINE_SIZE;
static char batch[BATCH_SIZE];
static size_t batched;

static void flush_lines()
{
	put_line(batch, batched);
	batched = 0;
}

/* One line of an interval; name: the name column of lines of several, or null. */
static void put_interval(const text_sum &t, const sample_rec &r, const char *ifname,
			 const char *name)
{
	if (batched + TEXT_LINE_SIZE > BATCH_SIZE)
		flush_lines();
	char *buf = batch + batched;
	int n;
	if (st.out == OUT_JSON)
		n = json_line(buf, TEXT_LINE_SIZE, t, r, ifname, st.bits);
	else
		n = text_line(buf, TEXT_LINE_SIZE, t, r, st.bits, name);
	batched += std::min<size_t>(n, TEXT_LINE_SIZE - 1);
}

/* An interval ended: the end, after -c of them. */
static void interval_done()
{
	if (st.count && ++lines >= st.count)
		cleanup_exit(0);
}

void text_sample(const sample_rec &r, const char *ifname)
{
	sum_sample(&sum, r);
	if (sum.samples < st.interval)
		return;
	put_interval(sum, r, ifname, nullptr);
	flush_lines();
	sum = text_sum{};
	interval_done();
}

static bool name_order(const if_slot *a, const if_slot *b)
{
	return strncmp(a->name, b->name, IFNAME_SIZE) < 0;
}

/*
 * Lines of several interfaces: every slot's sample added to its interval,
 * and at the interval's end a line for each named interface (gone where
 * none is listed under its name), or for every interface listed or gone
 * since the last line (-a), in name order, all with the listing's time.
 */
void table_lines()
{
	static if_slot *order[TABLE_MAX];
	static int samples;
	static int64_t span;
	int n;
	if_slot **slots = table_slots(&n);

	for (int i = 0; i < n; i++)
		sum_sample(&slots[i]->sum, slots[i]->rec);
	span += table_span();
	if (++samples < st.interval)
		return;
	if (st.all) {
		std::copy(slots, slots + n, order);
		std::sort(order, order + n, name_order);
		for (int i = 0; i < n; i++)
			put_interval(order[i]->sum, order[i]->rec, order[i]->name, order[i]->name);
	} else {
		for (int i = 0; i < st.nnames; i++) {
			if (if_slot *s = table_find(st.names[i])) {
				put_interval(s->sum, s->rec, st.names[i], st.names[i]);
				continue;
			}
			text_sum none{};
			none.samples = samples;
			none.span = span;
			none.broken = true;
			sample_rec gone{};
			gone.wall = table_wall();
			put_interval(none, gone, st.names[i], st.names[i]);
		}
	}
	flush_lines();
	for (int i = 0; i < n; i++)
		slots[i]->sum = text_sum{};
	table_drop_gone();
	samples = 0;
	span = 0;
	interval_done();
}
