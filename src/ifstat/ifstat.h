#pragma once
/* Interface lookup and the once-a-second statistics sampler. */
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <sys/time.h>

void if_init(const char *ifname);
void if_update(const char *ifname);
void forget_fields();	/* the window was drawn anew: write every figure again */
constexpr size_t FIELD_SIZE = 128;	/* the longest figure text remembered */

/* Pure helpers, reachable without a kernel or a terminal. */
char *find_ifreq(char *buf, int len, const char *ifname);
bool second_passed(timeval last, timeval now);
constexpr size_t COUNT_TEXT_SIZE = 48;
void format_count(char *buf, size_t size, uint64_t v);
constexpr size_t SINCE_TEXT_SIZE = 80;
void format_since(char *buf, size_t size, time_t t, int64_t seconds);
