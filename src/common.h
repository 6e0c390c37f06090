#pragma once
/* Constants that several modules share; this header includes nothing of ours. */
#include <cstdint>

constexpr int64_t SECOND = 1000000000;	/* nanoseconds, on the monotonic clock */

/* A start that failed (no process or descriptor to be had) waits 1 s, 2, 4, ... 60. */
constexpr int BACKOFF_MAX = 60;
constexpr int next_backoff(int seconds)
{
	return seconds < 1 ? 1 : seconds * 2 > BACKOFF_MAX ? BACKOFF_MAX : seconds * 2;
}
