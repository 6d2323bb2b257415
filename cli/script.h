// script.h: the token format of replay and simulator scripts.
//
// Tokens are separated by white space and "#" starts a comment that runs to the end of the
// line. A byte is two hexadecimal digits with an optional 0x ("c7", "0xC7"). Replay scripts
// mark a watchdog tick with "t" or "tick"; simulator scripts mark silence on the line with
// "wait SECONDS", in decimal. Tokens are read one at a time from a stream, none longer than
// kMaxToken bytes, so a consumer acts on the good ones before it meets a bad one and memory
// stays flat whatever the script's size. Single-threaded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/input.h"

namespace tovmir {

enum class ScriptDialect { kReplay, kSim };

struct ScriptToken {
  enum Kind { kByte, kTick, kWait } kind = kByte;
  std::uint8_t byte = 0;
  double seconds = 0;  // kWait only
  int line = 0;
};

// Longer than any good token; a longer one is an error whatever it holds.
inline constexpr size_t kMaxToken = 64;

// Two hexadecimal digits, optionally after 0x or 0X.
std::optional<std::uint8_t> ParseHexByte(const std::string& word);

// A token as an error message shows it: control bytes escaped, cut short when long.
std::string ShownToken(const std::string& word);

class ScriptReader {
 public:
  ScriptReader(Input& in, ScriptDialect dialect) : in_(in), dialect_(dialect) {}

  // The next token, or nothing at the end of the input, at a bad token (error() then says
  // which) or at a read error (the Input's error() says why).
  std::optional<ScriptToken> Next();
  const std::string& error() const { return error_; }

 private:
  bool NextWord(std::string& word, bool* too_long);
  std::optional<ScriptToken> Fail(const std::string& what, const std::string& word);

  Input& in_;
  ScriptDialect dialect_;
  int line_no_ = 1;
  int peeked_ = -2;  // a byte read past the end of a token, or -2 for none
  std::string error_;
};

}  // namespace tovmir
