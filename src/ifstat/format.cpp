#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "ifstat/ifstat.h"
#include "platform/netif.h"

/*
 * The configuration list walk.  Entries are variable-length; only whole
 * entries inside the returned length are looked at, and names compare whole.
 */
char *find_ifreq(char *buf, int len, const char *ifname)
{
	char *end = buf + (len > 0 ? len : 0);

	if (strlen(ifname) >= IFNAME_SIZE)
		return nullptr;
	for (char *p = buf; p + 18 <= end;) {
		int salen = static_cast<unsigned char>(p[16]);
		char *next = p + 16 + (salen > 16 ? salen : 16);
		if (next > end)
			break;
		if (strncmp(p, ifname, IFNAME_SIZE) == 0 && p[17] == 2)
			return p;
		p = next;
	}
	return nullptr;
}

/*
 * A sample is due once a full second has passed, or when the clock went
 * back.  10.9 -> 11.2 is not a full second although the seconds differ.
 */
bool second_passed(timeval last, timeval now)
{
	if (now.tv_sec == last.tv_sec)
		return false;
	if (now.tv_sec == last.tv_sec + 1 && now.tv_usec < last.tv_usec)
		return false;
	return true;
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

/* Change time as local time, then days:hours:minutes since (negative if ahead). */
void format_since(char *buf, size_t size, time_t t, int64_t s)
{
	char when[32];

	if (!ctime_r(&t, when))
		snprintf(when, sizeof when, "%s", "?");
	snprintf(buf, size, "%24.24s (%" PRId64 ":%d:%d)", when, s / 86400,
		 static_cast<int>(s % 86400 / 3600), static_cast<int>(s % 3600 / 60));
}
