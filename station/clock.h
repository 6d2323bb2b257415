// clock.h: the times monitor stamps and keeps: the wall clock for people (which may be set
// while it runs), and clocks that nobody sets for durations and timers. Any thread.
#pragma once

#include <string>

namespace tovmir {

// The local time with milliseconds: "2026-12-09 10:15:30.125", or in RFC 3339 with the
// zone's offset, "2026-12-09T10:15:30.125+01:00".
std::string Timestamp(bool rfc3339);
// The wall clock, in seconds since 1970.
double WallSeconds();
// Seconds on a clock that nobody sets and that goes on while the computer sleeps.
double BootSeconds();
// Milliseconds on a clock that nobody sets, for timers.
long long MonotonicMs();

}  // namespace tovmir
