#include "platform/stamp.h"

constexpr int64_t NS_PER_CS = 10 * 1000 * 1000;
constexpr int64_t STEP_NS = NS_PER_CS;

time_t stamp_time(uint32_t stamp_cs, int64_t real_ns, int64_t mono_ns, stamp_clock *c)
{
	int64_t boot = real_ns - mono_ns + c->lag_ns;

	if (c->boot_ns == 0 || boot - c->boot_ns > STEP_NS || c->boot_ns - boot > STEP_NS)
		c->boot_ns = boot;

	/* 32 bits wrap after 497 days: the latest time since boot that ends in them */
	int64_t up = (mono_ns - c->lag_ns) / NS_PER_CS;
	int64_t t = stamp_cs;
	if (up - t >= (int64_t(1) << 32))
		t += (up - t) >> 32 << 32;
	return static_cast<time_t>((c->boot_ns + t * NS_PER_CS) / 1000000000);
}
