#include "tools/script.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace tovmir {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Longest silence a script may ask for: a day, so that a typo cannot hang a run for years.
constexpr double kMaxWaitSeconds = 86400;

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

bool ScriptReader::NextWord(std::string& word) {
  for (;;) {
    while (pos_ < line_.size() && IsSpace(line_[pos_])) ++pos_;
    if (pos_ < line_.size() && line_[pos_] != '#') break;
    if (!std::getline(in_, line_)) return false;
    ++line_no_;
    pos_ = 0;
  }
  const size_t start = pos_;
  while (pos_ < line_.size() && !IsSpace(line_[pos_]) && line_[pos_] != '#') ++pos_;
  word = line_.substr(start, pos_ - start);
  return true;
}

std::optional<ScriptToken> ScriptReader::Fail(const std::string& what, const std::string& word) {
  error_ = "line " + std::to_string(line_no_) + ": " + what + " '" + word + "'";
  return std::nullopt;
}

std::optional<ScriptToken> ScriptReader::Next() {
  error_.clear();
  std::string word;
  if (!NextWord(word)) return std::nullopt;
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
    if (!NextWord(arg)) {
      line_no_ = line_of_wait;
      return Fail("'wait' needs a number of seconds, got end of input after", word);
    }
    char* end = nullptr;
    const double secs = std::strtod(arg.c_str(), &end);
    if (end == arg.c_str() || *end != '\0' || !std::isfinite(secs) || secs < 0 ||
        secs > kMaxWaitSeconds)
      return Fail("not a number of seconds (0 to 86400) after 'wait':", arg);
    tok.kind = ScriptToken::kWait;
    tok.seconds = secs;
    return tok;
  }
  return Fail("unknown token", word);
}

}  // namespace tovmir
