#include "events/json.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "events/shown.h"

namespace tovmir {

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (const char ch : utf8) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += ch;
    }
  }
  return out + '"';
}

std::string JsonShown(const JsonValue& v) {
  std::string text = v.kind == JsonValue::kNull   ? "null"
                     : v.kind == JsonValue::kBool ? (v.boolean ? "true" : "false")
                                                  : v.text;
  const bool cut = text.size() > kJsonShown;
  if (cut) text.resize(kJsonShown);
  return Shown(v.kind == JsonValue::kString ? JsonString(text) : text) + (cut ? "..." : "");
}

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  bool Object(std::map<std::string, JsonValue>* out) {
    if (!Take('{')) return Fail("not an object");
    if (Take('}')) return End();
    for (;;) {
      std::string key;
      JsonValue value;
      if (!String(&key)) return false;
      if (!Take(':')) return Fail("':' expected after a key");
      if (!Value(&value)) return false;
      if (!out->emplace(key, value).second)
        return Fail("the key " + JsonShown({JsonValue::kString, false, 0, key}) + " given twice");
      if (Take('}')) return End();
      if (!Take(',')) return Fail("',' or '}' expected");
    }
  }
  const std::string& error() const { return error_; }

 private:
  void Space() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n'))
      ++i_;
  }
  bool Take(char c) {
    Space();
    if (i_ < s_.size() && s_[i_] == c) return ++i_, true;
    return false;
  }
  bool Word(std::string_view w) {
    if (s_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }
  bool Fail(const std::string& what) {
    error_ = what + " at column " + std::to_string(i_ + 1);
    return false;
  }
  bool End() {
    Space();
    return i_ == s_.size() || Fail("more after the object");
  }

  bool String(std::string* out) {
    if (!Take('"')) return Fail("'\"' expected");
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (static_cast<unsigned char>(c) < 0x20) return Fail("a control character in a string");
      if (c == '\\') {
        if (i_ >= s_.size()) break;
        c = s_[i_++];
        if (c == 'u') {
          // Only what JsonString writes is needed back: the ASCII range.
          unsigned code = 0;
          const char* const digits = s_.data() + i_;
          if (i_ + 4 > s_.size() || std::from_chars(digits, digits + 4, code, 16).ptr != digits + 4)
            return Fail("a \\u escape without four hexadecimal digits");
          if (code > 0x7F) return Fail("a \\u escape beyond ASCII");
          c = static_cast<char>(code);
          i_ += 4;
        } else if (c == 'n') {
          c = '\n';
        } else if (c == 't') {
          c = '\t';
        } else if (c == 'r') {
          c = '\r';
        } else if (c != '"' && c != '\\' && c != '/') {
          return Fail("an unknown escape");
        }
      }
      *out += c;
    }
    return Take('"') || Fail("an unterminated string");
  }

  bool Value(JsonValue* v) {
    Space();
    if (i_ < s_.size() && s_[i_] == '"') {
      v->kind = JsonValue::kString;
      return String(&v->text);
    }
    if (Word("true") || Word("false")) {
      v->kind = JsonValue::kBool;
      v->boolean = s_[i_ - 4] == 't';  // "true" or the "alse" of "false"
      return true;
    }
    if (Word("null")) return true;
    // -?digits(.digits)?([eE][+-]?digits)?, as JSON writes numbers.
    const size_t start = i_;
    auto digits = [&] {
      const size_t from = i_;
      while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
      return i_ > from;
    };
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    if (!digits()) return Fail("a value expected");
    if (i_ < s_.size() && s_[i_] == '.' && (++i_, !digits())) return Fail("digits expected");
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      ++i_;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) ++i_;
      if (!digits()) return Fail("digits expected");
    }
    v->kind = JsonValue::kNumber;
    v->text = s_.substr(start, i_ - start);
    v->number = std::strtod(v->text.c_str(), nullptr);
    return true;
  }

  std::string_view s_;
  size_t i_ = 0;
  std::string error_;
};

}  // namespace

bool ParseJsonObject(std::string_view text, std::map<std::string, JsonValue>* out,
                     std::string* error) {
  Reader r(text);
  if (r.Object(out)) return true;
  *error = r.error();
  return false;
}

}  // namespace tovmir
