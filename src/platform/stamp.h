#pragma once
/*
 * Linux's change time: the IPv6 device stamp counts 32 bits of hundredths
 * of a second since boot on the kernel's jiffies clock.  Pure arithmetic,
 * apart from the kernel, for the unit tests.
 */
#include <cstdint>
#include <ctime>

struct stamp_clock {
	int64_t lag_ns;		/* the monotonic clock minus the jiffies clock's uptime */
	int64_t boot_ns;	/* wall-clock time of boot, as last taken */
};

/*
 * The wall-clock second of a stamp, given the wall and monotonic clocks
 * read together.  Their difference moves only when the wall clock is set,
 * so the boot time is taken again only when it moved by more than a
 * hundredth: a step is followed at once, and the reads' own jitter can
 * never flip the shown second.
 */
time_t stamp_time(uint32_t stamp_cs, int64_t real_ns, int64_t mono_ns, stamp_clock *c);
