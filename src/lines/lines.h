#pragma once
/*
 * Lines of figures (-o text, -o json): no screen, no curses, one line per
 * interval of st.interval samples on standard output, from the sampler's
 * records.
 */
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ifstat/ifstat.h"

constexpr size_t TEXT_LINE_SIZE = 1024;	/* a JSON line at its longest is 885 */
void text_start(const char *ifname);	/* the header, for -o text */
void text_sample(const sample_rec &r, const char *ifname);

/* Pure helpers: an interval's samples added up, and its line in either form. */
struct text_sum {
	int samples;
	int64_t span;		/* nanoseconds the differences cover */
	bool broken;		/* a sample with no difference to the one before: no figures */
	uint64_t sum[NCOUNTERS];
};
void sum_sample(text_sum *t, const sample_rec &r);
int text_header(char *buf, size_t size, bool bits);
int text_line(char *buf, size_t size, const text_sum &t, const sample_rec &end, bool bits);
int json_line(char *buf, size_t size, const text_sum &t, const sample_rec &end,
	      std::string_view ifname, bool bits);
/* in as a JSON string with its quotes: bytes outside printable ASCII as \u00XX */
size_t json_string(char *out, size_t size, std::string_view in);
