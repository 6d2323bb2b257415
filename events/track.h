// track.h: a session's way on the earth as its maps draw it. Stretches of one reading
// (level, antenna, network number), or of silence, along the positions of the log's lines;
// a stretch ends where the reading changes (the next one goes on from the same place), and
// the way breaks where the fix is lost (a line without one, or none for kMaxGapSeconds),
// where the handset's port is lost, and between stretches of silence and of reading. Marks
// where the handset went silent and where its network number changed. Pure.
#pragma once

#include <string>
#include <vector>

#include "events/log_reader.h"

namespace tovmir {

// Longer than a receiver's reports are apart: a gap of more is a fix lost.
inline constexpr double kMaxGapSeconds = 10;

struct TrackPoint {
  double t = 0;  // seconds since the session's first line
  Position position;
};

struct Stretch {
  bool receiving = true;  // false: silent, no level read there
  int level = 0;
  bool hollow = false;
  int net = -1;
  std::vector<TrackPoint> points;  // at least one; the last is the next stretch's first
  bool joined = false;             // goes on from the stretch before, without a break
};

struct Mark {
  enum Kind { kSilent, kNetwork } kind = kSilent;
  TrackPoint at;
  int level = 0;
  int net = -1;  // the new network number (kNetwork)
};

struct Track {
  std::vector<Stretch> stretches;
  std::vector<Mark> marks;
  size_t positions = 0;  // lines with a fix
};

Track TrackOf(const LogSession& session);

// An instant of the session (its start plus t seconds) in RFC 3339 UTC, to the millisecond.
std::string UtcTime(const LogSession& session, double t);

}  // namespace tovmir
