// position.h: where the meter was, as a GPS receiver (through gpsd) said: the fix, the
// place in WGS 84 degrees, and what is known of its height, its error and its time; and
// how a log line writes it. Pure.
#pragma once

#include <optional>
#include <string>

namespace tovmir {

struct Position {
  enum Fix { kNone, k2d, k3d } fix = kNone;  // kNone: no place (the rest unset)
  double lat = 0, lon = 0;                   // degrees, north and east positive
  std::optional<double> alt;                 // metres above mean sea level (3D fixes)
  std::optional<double> error;               // the horizontal error's estimate, metres
  double age = 0;                            // seconds since it came from the receiver
  std::string gps_time;                      // its own time, RFC 3339 UTC; "" when not said
  bool operator==(const Position&) const = default;
};

// "none", "2d", "3d".
const char* FixName(Position::Fix fix);

// Degrees as the log and the maps write them: to a ten-millionth (about a centimetre, finer
// than a receiver); metres to a tenth.
std::string DegreesText(double degrees);
std::string MetresText(double metres);

// The position's members of a JSON object, each after a comma:
// ,"fix":"3d","lat":35.681236,"lon":139.767125,"alt":40.1,"error":3.2,"fix_age":0.412,
// "gps_time":"2026-12-09T01:15:30.000Z"; only ,"fix":"none" without a fix.
std::string PositionJson(const Position& p);
// The same as key=value pairs after a space, for a line in replay's form.
std::string PositionText(const Position& p);

}  // namespace tovmir
