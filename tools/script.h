// script.h: the token format of replay and simulator scripts.
//
// Tokens are separated by white space and "#" starts a comment that runs to the end of the
// line. A byte is two hexadecimal digits with an optional 0x ("c7", "0xC7"). Replay scripts
// mark a watchdog tick with "t" or "tick"; simulator scripts mark silence on the line with
// "wait SECONDS". Tokens are read one at a time, so a consumer acts on the good ones before
// it meets a bad one. Single-threaded.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>

namespace tovmir {

enum class ScriptDialect { kReplay, kSim };

struct ScriptToken {
  enum Kind { kByte, kTick, kWait } kind = kByte;
  std::uint8_t byte = 0;
  double seconds = 0;  // kWait only
  int line = 0;
};

// Two hexadecimal digits, optionally after 0x or 0X.
std::optional<std::uint8_t> ParseHexByte(const std::string& word);

class ScriptReader {
 public:
  ScriptReader(std::istream& in, ScriptDialect dialect) : in_(in), dialect_(dialect) {}

  // The next token, or nothing at the end of the input or at a bad token; error() then
  // tells which (empty at the end).
  std::optional<ScriptToken> Next();
  const std::string& error() const { return error_; }

 private:
  bool NextWord(std::string& word);
  std::optional<ScriptToken> Fail(const std::string& what, const std::string& word);

  std::istream& in_;
  ScriptDialect dialect_;
  std::string line_;
  size_t pos_ = 0;
  int line_no_ = 0;
  std::string error_;
};

}  // namespace tovmir
