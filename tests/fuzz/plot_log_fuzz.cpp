// Arbitrary logs through LogReader, line by line as plot reads them (up to the first bad
// line), then the session it makes. Each line also goes through ParseJsonObject alone: an
// object read back must read the same once written again as the tools write JSON, and a
// line it refuses must be refused by LogReader for the same reason. Checked: an error names
// a field or the JSON problem, short and without raw control bytes; the session's samples
// in time order from 0, levels 0-15, networks -1 or 0-FFFF; clock marks in time order,
// the first at 0, one note for each later one.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "events/json.h"
#include "events/log_reader.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using tovmir::JsonValue;

constexpr size_t kMaxLine = 4096;  // plot refuses longer lines before it reads them
// Longer than any error or note can be: a bad value or key is shown cut short (40 bytes,
// each perhaps escaped as \u00XX).
constexpr size_t kMaxError = 400;

bool Printable(std::string_view text) {
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::string Written(const JsonValue& v) {
  switch (v.kind) {
    case JsonValue::kNull:
      return "null";
    case JsonValue::kBool:
      return v.boolean ? "true" : "false";
    case JsonValue::kNumber:
      return v.text;
    case JsonValue::kString:
      break;
  }
  return tovmir::JsonString(v.text);
}

bool Same(const JsonValue& a, const JsonValue& b) {
  return a.kind == b.kind && a.boolean == b.boolean && a.text == b.text && a.number == b.number;
}

// The line as a JSON object alone; its error, or "" when it is one.
std::string CheckJson(std::string_view line) {
  std::map<std::string, JsonValue> object;
  std::string error;
  if (!tovmir::ParseJsonObject(line, &object, &error)) {
    // "WHAT at column N", N within the line or just after it.
    const size_t at = error.rfind(" at column ");
    FUZZ_CHECK(at != std::string::npos && at > 0);
    const long column = std::atol(error.c_str() + at + 11);
    FUZZ_CHECK(column >= 1 && static_cast<size_t>(column) <= line.size() + 1);
    FUZZ_CHECK(error.size() <= kMaxError && Printable(error));
    return error;
  }
  std::string again;
  for (const auto& [key, value] : object)
    again += (again.empty() ? "{" : ",") + tovmir::JsonString(key) + ":" + Written(value);
  again = again.empty() ? "{}" : again + "}";
  std::map<std::string, JsonValue> back;
  FUZZ_CHECK(tovmir::ParseJsonObject(again, &back, &error));
  FUZZ_CHECK(back.size() == object.size());
  for (const auto& [key, value] : object) FUZZ_CHECK(back.count(key) && Same(back[key], value));
  return {};
}

void CheckSession(const tovmir::LogReader& log, size_t taken) {
  const tovmir::LogSession s = log.Session();
  FUZZ_CHECK(s.samples.size() == taken);
  if (taken == 0) {
    FUZZ_CHECK(s.clock.empty() && log.notes().empty());
    return;
  }
  double t = 0;
  for (const tovmir::LogSample& p : s.samples) {
    FUZZ_CHECK(std::isfinite(p.t) && p.t >= t);
    t = p.t;
    FUZZ_CHECK(p.level >= 0 && p.level <= 15);
    FUZZ_CHECK(p.net == -1 || (p.net >= 0 && p.net <= 0xFFFF));
  }
  FUZZ_CHECK(s.samples.front().t == 0);
  FUZZ_CHECK(std::isfinite(s.end) && s.end == std::max(t, 1.0));
  FUZZ_CHECK(s.date.size() == 10);
  FUZZ_CHECK(!s.clock.empty() && s.clock.front().t == 0);
  double mark = 0;
  for (const tovmir::ClockMark& m : s.clock) {
    FUZZ_CHECK(std::isfinite(m.clock) && std::isfinite(m.t) && m.t >= mark && m.t <= t);
    mark = m.t;
  }
  FUZZ_CHECK(log.notes().size() == s.clock.size() - 1);
  for (const std::string& note : log.notes()) {
    // "line N: the clock was set back by 1:00:00 (to 09:00:20); marked on the time axis"
    FUZZ_CHECK(note.rfind("line ", 0) == 0 && note.find("the clock was set ") != std::string::npos);
    FUZZ_CHECK(note.size() <= kMaxError && Printable(note));
    FUZZ_CHECK(note.find('-') == std::string::npos);  // no step of a negative length
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  tovmir::LogReader log;
  size_t lines = 0, taken = 0;
  for (size_t start = 0; start <= text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (line.size() > kMaxLine) break;
    const bool blank = line.find_first_not_of(" \t\r") == std::string_view::npos;
    const std::string json_error = CheckJson(line);
    const std::string wrong = log.Add(line);
    FUZZ_CHECK(log.line_number() == static_cast<int>(++lines));
    if (!wrong.empty()) {
      FUZZ_CHECK(!blank);
      FUZZ_CHECK(json_error.empty() ? wrong.rfind("field \"", 0) == 0 : wrong == json_error);
      FUZZ_CHECK(wrong.size() <= kMaxError && Printable(wrong));
      break;
    }
    FUZZ_CHECK(blank || json_error.empty());
    taken += !blank;
  }
  CheckSession(log, taken);
  return 0;
}
