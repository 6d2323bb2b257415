#include "cli/script.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "events/shown.h"

namespace tovmir {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Longest silence a script may ask for: a day, so that a typo cannot hang a run for years.
constexpr double kMaxWaitSeconds = 86400;
// How much of a bad token a message shows.
constexpr size_t kShownToken = 32;

// Plain decimal: digits, optionally a point and more digits. Not hexadecimal, exponents,
// signs, infinities or "nan", which strtod would also take.
bool IsDecimal(const std::string& s) {
  size_t i = 0, digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  return digits > 0 && i == s.size();
}

}  // namespace

std::optional<std::uint8_t> ParseHexByte(const std::string& word) {
  std::string digits = word;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits = digits.substr(2);
  if (digits.size() != 2) return std::nullopt;
  const int hi = HexDigit(digits[0]), lo = HexDigit(digits[1]);
  if (hi < 0 || lo < 0) return std::nullopt;
  return static_cast<std::uint8_t>(hi * 16 + lo);
}

std::string ShownToken(const std::string& word) { return Shown(word, kShownToken); }

// The next word; reading stops after kMaxToken bytes of it, with *too_long.
bool ScriptReader::NextWord(std::string& word, bool* too_long) {
  int c = peeked_ != -2 ? peeked_ : in_.Get();
  peeked_ = -2;
  for (;;) {
    while (IsSpace(c)) {
      if (c == '\n') ++line_no_;
      c = in_.Get();
    }
    if (c != '#') break;
    while (c >= 0 && c != '\n') c = in_.Get();
  }
  if (c < 0) return false;
  word.clear();
  *too_long = false;
  for (; c >= 0 && !IsSpace(c) && c != '#'; c = in_.Get()) {
    if (word.size() == kMaxToken) {  // no good token is this long: stop reading it here
      *too_long = true;
      break;
    }
    word += static_cast<char>(c);
  }
  peeked_ = c;  // the white space, comment or end after the word, for the next call
  return true;
}

std::optional<ScriptToken> ScriptReader::Fail(const std::string& what, const std::string& word) {
  error_ = "line " + std::to_string(line_no_) + ": " + what + " '" + ShownToken(word) + "'";
  return std::nullopt;
}

std::optional<ScriptToken> ScriptReader::Next() {
  error_.clear();
  std::string word;
  bool too_long = false;
  if (!NextWord(word, &too_long)) return std::nullopt;
  if (too_long) return Fail("a token longer than " + std::to_string(kMaxToken) + " bytes:", word);
  ScriptToken tok;
  tok.line = line_no_;
  if (auto b = ParseHexByte(word)) {
    tok.kind = ScriptToken::kByte;
    tok.byte = *b;
    return tok;
  }
  if (dialect_ == ScriptDialect::kReplay && (word == "t" || word == "tick")) {
    tok.kind = ScriptToken::kTick;
    return tok;
  }
  if (dialect_ == ScriptDialect::kSim && word == "wait") {
    std::string arg;
    const int line_of_wait = line_no_;  // blank lines before the end move line_no_ on
    if (!NextWord(arg, &too_long)) {
      line_no_ = line_of_wait;
      return Fail("'wait' needs a number of seconds, got end of input after", word);
    }
    const double secs = IsDecimal(arg) && !too_long ? std::strtod(arg.c_str(), nullptr) : -1;
    if (secs < 0 || secs > kMaxWaitSeconds)
      return Fail("not a number of seconds (decimal, 0 to 86400) after 'wait':", arg);
    tok.kind = ScriptToken::kWait;
    tok.seconds = secs;
    return tok;
  }
  return Fail("unknown token", word);
}

}  // namespace tovmir
