#include "events/position.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "events/json.h"

namespace tovmir {
namespace {

// The position's keys and values, in order: degrees to a ten-millionth (about a
// centimetre, finer than a receiver), metres to a tenth, seconds to a millisecond. String
// values come quoted for JSON, bare for text.
std::vector<std::pair<const char*, std::string>> Members(const Position& p, bool json) {
  const auto quoted = [json](const std::string& s) { return json ? JsonString(s) : s; };
  std::vector<std::pair<const char*, std::string>> m = {{"fix", quoted(FixName(p.fix))}};
  if (p.fix == Position::kNone) return m;
  char buf[32];
  const auto number = [&buf](const char* format, double v) {
    std::snprintf(buf, sizeof buf, format, v);
    return std::string(buf);
  };
  m.push_back({"lat", number("%.7f", p.lat)});
  m.push_back({"lon", number("%.7f", p.lon)});
  if (p.alt) m.push_back({"alt", number("%.1f", *p.alt)});
  if (p.error) m.push_back({"error", number("%.1f", *p.error)});
  m.push_back({"fix_age", number("%.3f", p.age)});
  if (!p.gps_time.empty()) m.push_back({"gps_time", quoted(p.gps_time)});
  return m;
}

}  // namespace

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
