#include "platform/lastchange.h"

#include <cstring>

static bool later(int64_t s, int64_t us, int64_t than_s, int64_t than_us)
{
	return s > than_s || (s == than_s && us > than_us);
}

/* Whether the up flag moved: then it is a change, at the stamp that came with it. */
static bool note(if_change *c, unsigned flags, int64_t s, int64_t us)
{
	bool up = flags & IF_UP;
	bool moved = up != c->up;

	if (moved) {
		c->up = up;
		c->prev = c->last;
		c->last = static_cast<time_t>(s);
		c->changes++;
	}
	if (later(s, us, c->s, c->us)) {
		c->s = s;
		c->us = us;
	}
	return moved;
}

bool chg_row(if_change *c, int index, const char *name, unsigned flags, int64_t s, int64_t us)
{
	if (index != c->index || strncmp(name, c->name, IFNAME_SIZE) != 0) {
		/* another interface, or ours under a new index: its stamp is the best known */
		*c = if_change{};
		c->index = index;
		strncpy(c->name, name, IFNAME_SIZE - 1);
		c->up = flags & IF_UP;
		c->s = s;
		c->us = us;
		c->last = static_cast<time_t>(s);
		return false;
	}
	/* the driver's own stamp after a message's comes a tick later: no loss */
	bool unexplained = later(s, us, c->s + 1, c->us);
	return note(c, flags, s, us) || unexplained;
}

void chg_message(if_change *c, unsigned flags, int64_t s, int64_t us)
{
	if (c->index > 0)
		note(c, flags, s, us);
}
