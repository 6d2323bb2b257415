#include "events/position.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "events/json.h"

namespace tovmir {
namespace {

std::string Formatted(const char* format, double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// The position's keys and values, in order; seconds to a millisecond. String values come
// quoted for JSON, bare for text.
std::vector<std::pair<const char*, std::string>> Members(const Position& p, bool json) {
  const auto quoted = [json](const std::string& s) { return json ? JsonString(s) : s; };
  std::vector<std::pair<const char*, std::string>> m = {{"fix", quoted(FixName(p.fix))}};
  if (p.fix == Position::kNone) return m;
  m.push_back({"lat", DegreesText(p.lat)});
  m.push_back({"lon", DegreesText(p.lon)});
  if (p.alt) m.push_back({"alt", MetresText(*p.alt)});
  if (p.error) m.push_back({"error", MetresText(*p.error)});
  m.push_back({"fix_age", Formatted("%.3f", p.age)});
  if (!p.gps_time.empty()) m.push_back({"gps_time", quoted(p.gps_time)});
  return m;
}

}  // namespace

std::string DegreesText(double degrees) { return Formatted("%.7f", degrees); }
std::string MetresText(double metres) { return Formatted("%.1f", metres); }

const char* FixName(Position::Fix fix) {
  return fix == Position::k3d ? "3d" : fix == Position::k2d ? "2d" : "none";
}

std::string PositionJson(const Position& p) {
  std::string out;
  for (const auto& [key, value] : Members(p, true)) out += ",\"" + std::string(key) + "\":" + value;
  return out;
}

std::string PositionText(const Position& p) {
  std::string out;
  for (const auto& [key, value] : Members(p, false)) out += " " + std::string(key) + "=" + value;
  return out;
}

}  // namespace tovmir
