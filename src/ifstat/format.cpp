#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "ifstat/ifstat.h"
#include "platform/netif.h"

constexpr int64_t ONE_SECOND = 1000000000;

/*
 * The configuration list walk.  Entries are variable-length; only whole
 * entries inside the returned length are looked at, and names compare whole.
 */
char *find_entry(char *buf, int len, const char *ifname, int family)
{
	char *end = buf + (len > 0 ? len : 0);

	if (strlen(ifname) >= IFNAME_SIZE)
		return nullptr;
	for (char *p = buf; p + 18 <= end;) {
		int salen = static_cast<unsigned char>(p[16]);
		char *next = p + 16 + (salen > 16 ? salen : 16);
		if (next > end)
			break;
		if (strncmp(p, ifname, IFNAME_SIZE) == 0 && p[17] == family)
			return p;
		p = next;
	}
	return nullptr;
}

char *find_ifreq(char *buf, int len, const char *ifname)
{
	return find_entry(buf, len, ifname, 2);
}

/*
 * Samples fall on a grid of whole seconds from the first, whatever wakes
 * the loop in between, so each covers one second.  A loop held up for a
 * second or more (the menu, a stopped process) starts the grid again from
 * now.  *when is the sample's time on the grid.
 */
bool sample_due(int64_t now, int64_t *next, int64_t *when)
{
	if (now < *next)
		return false;
	*when = now - *next >= ONE_SECOND ? now : *next;
	*next = *when + ONE_SECOND;
	return true;
}

/*
 * A difference over the nanoseconds it took, as a figure per second,
 * rounded to the nearest: a wake-up a little late or early moves no
 * steady figure.  0 for a span of none.
 */
uint64_t per_second(uint64_t delta, int64_t span)
{
	if (span <= 0)
		return 0;
	unsigned __int128 v = (static_cast<unsigned __int128>(delta) * ONE_SECOND + span / 2) / span;
	return v > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(v);
}

/* The units mix the factors: k is 1024, M is 1024000, G is 1024000000. */
void format_count(char *buf, size_t size, uint64_t v)
{
	if (v > 1024000000)
		snprintf(buf, size, "%" PRIu64 " (%" PRIu64 "G)", v, v / 1024000000);
	else if (v > 1024000)
		snprintf(buf, size, "%" PRIu64 " (%" PRIu64 "M)", v, v / 1024000);
	else if (v > 1024)
		snprintf(buf, size, "%" PRIu64 " (%" PRIu64 "k)", v, v / 1024);
	else
		snprintf(buf, size, "%" PRIu64, v);
}

/*
 * v in at most width columns: the number itself if it fits, else as a
 * count of k, M or G of base (1024 for the byte counters' mixed units,
 * 1000 for bits), the finest that fits.  Beyond the largest count of G
 * that fits (10^17 in 9 columns, more than any link carries in a second)
 * it shows that largest count.
 */
static void fit_units(char *buf, size_t size, uint64_t v, int width, uint64_t base)
{
	const struct {
		uint64_t unit;
		char name;
	} units[] = {{base, 'k'}, {base * 1000, 'M'}, {base * 1000000, 'G'}};
	int n = snprintf(buf, size, "%" PRIu64, v);

	for (const auto &u : units) {
		if (n <= width)
			return;
		n = snprintf(buf, size, "%" PRIu64 "%c", v / u.unit, u.name);
	}
	if (n > width && width >= 2 && static_cast<size_t>(width) < size) {
		memset(buf, '9', width - 1);
		buf[width - 1] = 'G';
		buf[width] = '\0';
	}
}

/* A figure in the byte counters' units: k 1024, M 1024000, G 1024000000. */
void fit_count(char *buf, size_t size, uint64_t v, int width)
{
	fit_units(buf, size, v, width, 1024);
}

/* The bytes times 8; the largest count there is beyond it. */
uint64_t bits_of(uint64_t bytes)
{
	return bytes > UINT64_MAX / 8 ? UINT64_MAX : bytes * 8;
}

/* Bits, the bytes times 8, in units of 1000 as bit rates are counted: a Gbit is 10^9 bits. */
void fit_bits(char *buf, size_t size, uint64_t bytes, int width)
{
	fit_units(buf, size, bits_of(bytes), width, 1000);
}

/* Change time as local time, then days:hours:minutes since (negative if ahead). */
void format_since(char *buf, size_t size, time_t t, int64_t s)
{
	char when[32];

	if (!ctime_r(&t, when))
		snprintf(when, sizeof when, "%s", "?");
	snprintf(buf, size, "%24.24s (%" PRId64 ":%d:%d)", when, s / 86400,
		 static_cast<int>(s % 86400 / 3600), static_cast<int>(s % 3600 / 60));
}
