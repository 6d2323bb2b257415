// json.h: the little JSON the tools speak: strings written for JSON Lines, and one line's
// flat object (strings, numbers, true, false, null; no nesting) read back. Pure.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace tovmir {

// A string as JSON writes it, quotes included; control characters escaped.
std::string JsonString(const std::string& utf8);

struct JsonValue {
  enum Kind { kNull, kBool, kNumber, kString } kind = kNull;
  bool boolean = false;
  double number = 0;
  std::string text;  // a string's value; a number as it was written
};

// A value from outside as a message shows it: as JSON writes it (control characters
// escaped), cut short ("...") after kJsonShown bytes.
inline constexpr size_t kJsonShown = 40;
std::string JsonShown(const JsonValue& v);

// One flat object, {"key":value,...}, each key once. False, with *error saying what is
// wrong, when the text is not one.
bool ParseJsonObject(std::string_view text, std::map<std::string, JsonValue>* out,
                     std::string* error);

}  // namespace tovmir
