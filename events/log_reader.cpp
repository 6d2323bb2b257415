#include "events/log_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "events/json.h"

namespace tovmir {
namespace {

// Monitor writes both clocks to the millisecond; a wall clock that drifts from its own by
// more than this was set.
constexpr double kClockTolerance = 1.0;
// Longer than monitor can have run (over 30 years): a larger "elapsed" is no time of a
// session, and the sums of such would overflow into garbage on the time axis.
constexpr double kMaxElapsed = 1e9;

std::string BadField(const char* name, const JsonValue& v, const char* want) {
  return std::string("field \"") + name + "\": " + JsonShown(v) + " is not " + want;
}

// n decimal digits at text[at].
bool Digits(std::string_view text, size_t at, size_t n, int* out) {
  if (at + n > text.size()) return false;
  *out = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    *out = *out * 10 + (text[i] - '0');
  }
  return true;
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 to the date (proleptic Gregorian).
long DaysFromEpoch(int y, int m, int d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// "2026-12-09T10:15:30.125+01:00" (any number of fraction digits, or none; Z for UTC): the
// instant and the local clock's reading, in seconds since 1970.
bool ParseTime(std::string_view s, double* epoch, double* local) {
  int y, mo, d, h, mi, sec;
  if (!Digits(s, 0, 4, &y) || s.size() < 19 || s[4] != '-' || !Digits(s, 5, 2, &mo) ||
      s[7] != '-' || !Digits(s, 8, 2, &d) || s[10] != 'T' || !Digits(s, 11, 2, &h) ||
      s[13] != ':' || !Digits(s, 14, 2, &mi) || s[16] != ':' || !Digits(s, 17, 2, &sec))
    return false;
  if (mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 || mi > 59 || sec > 60)
    return false;
  size_t at = 19;
  double fraction = 0;
  if (at < s.size() && s[at] == '.') {
    double scale = 0.1;
    const size_t first = ++at;
    for (; at < s.size() && s[at] >= '0' && s[at] <= '9'; ++at, scale /= 10)
      fraction += (s[at] - '0') * scale;
    if (at == first) return false;
  }
  int offset = 0;  // minutes east of UTC
  const std::string_view zone = s.substr(at);
  if (zone != "Z") {
    int zh, zm;
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || !Digits(zone, 1, 2, &zh) ||
        zone[3] != ':' || !Digits(zone, 4, 2, &zm) || zh > 23 || zm > 59)
      return false;
    offset = (zone[0] == '-' ? -1 : 1) * (zh * 60 + zm);
  }
  *local = DaysFromEpoch(y, mo, d) * 86400.0 + h * 3600 + mi * 60 + sec + fraction;
  *epoch = *local - offset * 60.0;
  return true;
}

// A whole number from 0 to 15, written as monitor writes it.
bool LevelOf(const JsonValue& v, int* level) {
  if (v.kind != JsonValue::kNumber || v.text.empty() || v.text.size() > 2) return false;
  int n;
  if (!Digits(v.text, 0, v.text.size(), &n) || (v.text.size() == 2 && v.text[0] == '0'))
    return false;
  *level = n;
  return n <= 15;
}

bool NetOf(const JsonValue& v, int* net) {
  if (v.kind == JsonValue::kNull) return *net = -1, true;
  if (v.kind != JsonValue::kString || v.text.size() != 4) return false;
  *net = 0;
  for (char c : v.text) {
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) return false;
    *net = *net * 16 + digit;
  }
  return true;
}

// Seconds written as digits with an optional fraction, as monitor writes them, up to
// kMaxElapsed.
bool SecondsOf(const JsonValue& v, double* seconds) {
  if (v.kind != JsonValue::kNumber) return false;
  const size_t dot = v.text.find('.');
  for (size_t i = 0; i < v.text.size(); ++i)
    if (i != dot && (v.text[i] < '0' || v.text[i] > '9')) return false;
  if (dot == 0 || dot + 1 == v.text.size() || v.number > kMaxElapsed) return false;
  *seconds = v.number;
  return true;
}

// A step of the clock, for a note: "1:00:00" or "2.500 s".
std::string Duration(double seconds) {
  char buf[48];
  if (seconds < 60) {
    std::snprintf(buf, sizeof buf, "%.3f s", seconds);
  } else {
    const long s = std::lround(seconds);
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  }
  return buf;
}

// A decimal number as monitor writes it (digits, a point, digits; a minus where the value
// may have one) within [lo, hi].
bool DecimalOf(const JsonValue& v, double lo, double hi, double* out) {
  if (v.kind != JsonValue::kNumber || v.text.empty()) return false;
  const size_t start = v.text[0] == '-' ? 1 : 0;
  const size_t dot = v.text.find('.');
  if (dot == start || dot == std::string::npos || dot + 1 == v.text.size()) return false;
  for (size_t i = start; i < v.text.size(); ++i)
    if (i != dot && (v.text[i] < '0' || v.text[i] > '9')) return false;
  if (!(v.number >= lo && v.number <= hi)) return false;
  *out = v.number;
  return true;
}

// The position's fields, if the line has them: none without a fix, and with one a place on
// the earth, the rest as monitor writes them.
template <class Field>
std::string ReadPosition(const Field& field, Position* p) {
  static const char* const kPlace[] = {"lat", "lon", "alt", "error", "fix_age", "gps_time"};
  const JsonValue* fix = field("fix");
  if (!fix || (fix->kind == JsonValue::kString && fix->text == "none")) {
    for (const char* name : kPlace)
      if (field(name))
        return std::string("field \"") + name + "\" " + (fix ? "with no fix" : "without \"fix\"");
    return {};
  }
  if (fix->kind != JsonValue::kString || (fix->text != "2d" && fix->text != "3d"))
    return BadField("fix", *fix, "\"none\", \"2d\" or \"3d\"");
  p->fix = fix->text == "3d" ? Position::k3d : Position::k2d;
  for (const char* name : {"lat", "lon", "fix_age"})
    if (!field(name))
      return std::string("field \"") + name + "\" is missing (a fix has a place and an age)";
  if (!DecimalOf(*field("lat"), -90, 90, &p->lat))
    return BadField("lat", *field("lat"), "a latitude, -90 to 90 degrees");
  if (!DecimalOf(*field("lon"), -180, 180, &p->lon))
    return BadField("lon", *field("lon"), "a longitude, -180 to 180 degrees");
  double v;
  if (const JsonValue* alt = field("alt")) {
    if (!DecimalOf(*alt, -12000, 100000, &v))
      return BadField("alt", *alt, "a height in metres, -12000 to 100000");
    p->alt = v;
  }
  if (const JsonValue* error = field("error")) {
    if (!DecimalOf(*error, 0, 1e7, &v)) return BadField("error", *error, "metres, 0 or more");
    p->error = v;
  }
  if (!SecondsOf(*field("fix_age"), &p->age))
    return BadField("fix_age", *field("fix_age"), "a number of seconds");
  if (const JsonValue* gps_time = field("gps_time")) {
    double epoch, local;
    if (gps_time->kind != JsonValue::kString || !ParseTime(gps_time->text, &epoch, &local))
      return BadField("gps_time", *gps_time, "an RFC 3339 time with a real date");
    p->gps_time = gps_time->text;
  }
  return {};
}

}  // namespace

std::string ClockOfDay(double local_seconds, bool with_seconds) {
  long s = std::lround(std::floor(local_seconds));
  s = ((s % 86400) + 86400) % 86400;
  char buf[16];
  if (with_seconds)
    std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%02ld:%02ld", s / 3600, s / 60 % 60);
  return buf;
}

std::string LogReader::Read(std::string_view text, Line* line, std::string* date) const {
  std::map<std::string, JsonValue> v;
  std::string error;
  if (!ParseJsonObject(text, &v, &error)) return error;
  auto field = [&](const char* name) -> const JsonValue* {
    const auto it = v.find(name);
    return it == v.end() ? nullptr : &it->second;
  };
  for (const char* name : {"time", "event", "level", "antenna", "net", "receiving"})
    if (!field(name))
      return std::string("field \"") + name + "\" is missing (plot draws monitor --json logs)";

  const JsonValue& time = *field("time");
  if (time.kind != JsonValue::kString || !ParseTime(time.text, &line->epoch, &line->local))
    return BadField("time", time, "an RFC 3339 time with a real date");
  const JsonValue& event = *field("event");
  static const std::map<std::string, MeterEvent::Kind> kEvents = {
      {"init", MeterEvent::kInit},        {"byte", MeterEvent::kByte}, {"tick", MeterEvent::kTick},
      {"lost", MeterEvent::kLost},        {"open", MeterEvent::kOpen}, {"gps", MeterEvent::kGps},
      {"position", MeterEvent::kPosition}};
  if (event.kind != JsonValue::kString || !kEvents.count(event.text))
    return BadField("event", event,
                    "\"init\", \"byte\", \"tick\", \"lost\", \"open\", \"gps\" or \"position\"");
  if (const JsonValue* port = field("port")) {
    if (port->kind != JsonValue::kString || port->text.empty())
      return BadField("port", *port, "the name of a port");
    line->port = port->text;
  }
  LogSample& p = line->sample;
  p.event = kEvents.at(event.text);
  if (!LevelOf(*field("level"), &p.level))
    return BadField("level", *field("level"), "a whole number from 0 to 15");
  const JsonValue& antenna = *field("antenna");
  if (antenna.kind != JsonValue::kString || (antenna.text != "filled" && antenna.text != "hollow"))
    return BadField("antenna", antenna, "\"filled\" or \"hollow\"");
  p.hollow = antenna.text == "hollow";
  if (!NetOf(*field("net"), &p.net))
    return BadField("net", *field("net"), "four hexadecimal digits (0000 to FFFF) or null");
  const JsonValue& receiving = *field("receiving");
  if (receiving.kind != JsonValue::kBool) return BadField("receiving", receiving, "true or false");
  p.receiving = receiving.boolean;
  if (const JsonValue* elapsed = field("elapsed")) {
    if (!SecondsOf(*elapsed, &line->elapsed))
      return BadField("elapsed", *elapsed, "a number of seconds from 0 to 1000000000");
    line->has_elapsed = true;
  }
  const std::string wrong = ReadPosition(field, &p.position);
  if (!wrong.empty()) return wrong;
  *date = time.text.substr(0, 10);
  return {};
}

std::string LogReader::Add(std::string_view text) {
  ++line_number_;
  if (text.find_first_not_of(" \t\r") == std::string_view::npos) return {};
  Line line;
  std::string date;
  const std::string wrong = Read(text, &line, &date);
  if (!wrong.empty()) return wrong;
  if (asked_) {
    if (line.port != port_) return {};
  } else if (session_.samples.empty()) {
    port_ = line.port;
  } else if (line.port != port_) {
    return "the log holds more than one port (" + JsonString(port_) + " and " +
           JsonString(line.port) + "): choose one with --port";
  }
  Place(line, date);
  return {};
}

void LogReader::Place(Line line, const std::string& date) {
  if (session_.samples.empty()) {
    line.sample.t = 0;
    session_.clock = {{0, line.local}};
    session_.date = date;
    session_.start = line.epoch;
  } else {
    // Monitor's own clock measures the time between lines where both have it and it went
    // on (a log of two runs starts it again); else the wall clock, which never runs back.
    const bool own_clock = line.has_elapsed && last_.has_elapsed && line.elapsed >= last_.elapsed;
    line.sample.t = last_.sample.t + (own_clock ? line.elapsed - last_.elapsed
                                                : std::max(0.0, line.epoch - last_.epoch));
    const ClockMark& mark = session_.clock.back();
    const double step = line.local - (mark.clock + (line.sample.t - mark.t));
    if (std::fabs(step) > kClockTolerance) {
      session_.clock.push_back({line.sample.t, line.local});
      notes_.push_back("line " + std::to_string(line_number_) + ": the clock was set " +
                       (step < 0 ? "back" : "forward") + " by " + Duration(std::fabs(step)) +
                       " (to " + ClockOfDay(line.local) + "); marked on the time axis");
    }
  }
  session_.samples.push_back(line.sample);
  last_ = line;
}

LogSession LogReader::Session() const {
  LogSession s = session_;
  if (!s.samples.empty()) s.end = std::max(s.samples.back().t, 1.0);
  return s;
}

}  // namespace tovmir
