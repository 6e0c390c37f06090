#pragma once
/* Interface lookup, the once-a-second statistics sampler and the host name look-up. */
#include <cstddef>
#include <cstdint>
#include <ctime>

void if_init(const char *ifname);
void if_update(const char *ifname);	/* after every wake-up: what is due */
void if_notice(const char *ifname);	/* the kernel announced changes */
void if_resume(const char *ifname);	/* continued after a stop */
void if_refresh(const char *ifname);	/* the configuration read at once */
int64_t if_next_due();	/* the monotonic time the sampler or look-up wants to run */
void forget_fields();	/* the window was drawn anew: write every figure again */
void redraw_fields();	/* the window was drawn anew: the figures last shown, at once */
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
constexpr size_t COUNT_TEXT_SIZE = 48;
void format_count(char *buf, size_t size, uint64_t v);
void fit_count(char *buf, size_t size, uint64_t v, int width);
constexpr size_t SINCE_TEXT_SIZE = 80;
void format_since(char *buf, size_t size, time_t t, int64_t seconds);
