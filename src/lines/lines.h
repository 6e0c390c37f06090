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
void table_lines();	/* after every sample of the table: lines for several interfaces */

/* Pure helpers: an interval's samples added up, and its line in either form. */
void sum_sample(text_sum *t, const sample_rec &r);
/* named: with the interface's name after the time, for lines of several (null: none) */
int text_header(char *buf, size_t size, bool bits, bool named);
int text_line(char *buf, size_t size, const text_sum &t, const sample_rec &end, bool bits,
	      const char *name);
int json_line(char *buf, size_t size, const text_sum &t, const sample_rec &end,
	      std::string_view ifname, bool bits);
/* in as a JSON string with its quotes: bytes outside printable ASCII as \u00XX */
size_t json_string(char *out, size_t size, std::string_view in);
