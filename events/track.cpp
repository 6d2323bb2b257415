#include "events/track.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace tovmir {

Track TrackOf(const LogSession& session) {
  Track track;
  Stretch* current = nullptr;  // the stretch a next point may go on from
  const LogSample* before = nullptr;
  track.stretches.reserve(session.samples.size());  // current stays where it is
  for (const LogSample& s : session.samples) {
    const bool silent_now = before && before->receiving && !s.receiving;
    const bool net_now = before && before->net >= 0 && s.net >= 0 && s.net != before->net;
    before = &s;
    if (s.position.fix == Position::kNone || s.event == MeterEvent::kLost) {
      current = nullptr;
      continue;
    }
    ++track.positions;
    const TrackPoint point{s.t, s.position};
    if (silent_now) track.marks.push_back({Mark::kSilent, point, s.level, s.net});
    if (net_now) track.marks.push_back({Mark::kNetwork, point, s.level, s.net});
    if (current && s.t - current->points.back().t > kMaxGapSeconds) current = nullptr;
    const bool same = current && current->receiving == s.receiving &&
                      (!s.receiving || (current->level == s.level && current->hollow == s.hollow &&
                                        current->net == s.net));
    if (same) {
      current->points.push_back(point);
      continue;
    }
    // A new reading goes on from where the last one ended; silence and reading do not join.
    const bool joined = current && current->receiving && s.receiving;
    if (joined) current->points.push_back(point);
    track.stretches.push_back({s.receiving, s.level, s.hollow, s.net, {point}, joined});
    current = &track.stretches.back();
  }
  track.stretches.shrink_to_fit();
  return track;
}

std::string UtcTime(const LogSession& session, double t) {
  const long long ms_since_1970 = std::llround((session.start + t) * 1000);
  const time_t seconds = static_cast<time_t>(ms_since_1970 / 1000);
  const int ms = static_cast<int>(ms_since_1970 % 1000);
  tm utc;
  gmtime_r(&seconds, &utc);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ms);
  return buf;
}

}  // namespace tovmir
