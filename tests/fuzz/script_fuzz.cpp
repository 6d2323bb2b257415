// Arbitrary scripts through ScriptReader, in both dialects, read from a file as replay and
// sim read theirs (an in-memory file, opened by name through Input). Each script is read
// twice: as it is, and after enough blanks that Input's 4 KiB buffer ends in its middle;
// both readings must give the same tokens and the same error. Every token and error is
// checked as it comes: lines never go back, waits within their day, only the dialect's
// own tokens, an error always said (naming its line, no raw control bytes, a bad token
// shown cut short), and the end of input only where the input has ended.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/input.h"
#include "cli/script.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using tovmir::ScriptDialect;
using tovmir::ScriptToken;

constexpr size_t kInputBuffer = 4096;  // what Input reads at a time
// Longer than any error can be: "line N: ", the longest text, and a bad token shown cut
// short (32 bytes, each perhaps escaped as \xNN).
constexpr size_t kMaxError = 256;

// The file the scripts are read from, made once: every run writes its script over it.
int ScriptFile() {
  static const int fd = memfd_create("script", MFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  return fd;
}

struct Reading {
  std::vector<ScriptToken> tokens;
  std::string error;
  bool operator==(const Reading& o) const {
    return error == o.error &&
           std::equal(tokens.begin(), tokens.end(), o.tokens.begin(), o.tokens.end(),
                      [](const ScriptToken& a, const ScriptToken& b) {
                        return a.kind == b.kind && a.byte == b.byte && a.seconds == b.seconds &&
                               a.line == b.line;
                      });
  }
};

// The script, checking each token and the error as the reader gives them.
Reading Read(std::string_view text, ScriptDialect dialect, int lines) {
  const int fd = ScriptFile();
  FUZZ_CHECK(ftruncate(fd, 0) == 0);
  FUZZ_CHECK(pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()));
  tovmir::Input in;
  FUZZ_CHECK(in.Open("/proc/self/fd/" + std::to_string(fd)));

  tovmir::ScriptReader reader(in, dialect);
  Reading r;
  int line = 1;
  while (const auto tok = reader.Next()) {
    FUZZ_CHECK(tok->line >= line && tok->line <= lines);
    line = tok->line;
    switch (tok->kind) {
      case ScriptToken::kByte:
        break;
      case ScriptToken::kTick:
        FUZZ_CHECK(dialect == ScriptDialect::kReplay);
        break;
      case ScriptToken::kWait:
        FUZZ_CHECK(dialect == ScriptDialect::kSim);
        FUZZ_CHECK(std::isfinite(tok->seconds) && tok->seconds >= 0 && tok->seconds <= 86400);
        break;
    }
    r.tokens.push_back(*tok);
  }
  FUZZ_CHECK(in.error().empty());
  r.error = reader.error();
  if (r.error.empty()) {
    FUZZ_CHECK(in.Get() < 0);  // stopped without a word only where the script has ended
    return r;
  }
  FUZZ_CHECK(r.error.size() <= kMaxError);
  FUZZ_CHECK(std::none_of(r.error.begin(), r.error.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
  }));
  // "line N: ...", N where the last token was or after it.
  FUZZ_CHECK(r.error.rfind("line ", 0) == 0);
  const int error_line = std::atoi(r.error.c_str() + 5);
  FUZZ_CHECK(error_line >= line && error_line <= lines);
  FUZZ_CHECK(r.error.find(": ") != std::string::npos);
  if (r.error.find("longer than") != std::string::npos) {
    // Only a word that really is too long: more than kMaxToken bytes with no blank or
    // comment in them.
    size_t run = 0, longest = 0;
    for (const char c : text) {
      run = std::string_view(" \t\n\r\v\f#").find(c) == std::string_view::npos ? run + 1 : 0;
      longest = std::max(longest, run);
    }
    FUZZ_CHECK(longest > tovmir::kMaxToken);
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view script(reinterpret_cast<const char*>(data), size);
  const int lines = 1 + static_cast<int>(std::count(script.begin(), script.end(), '\n'));
  // Blanks before the script move the buffer's end to its middle, where a token may cross it.
  std::string padded(kInputBuffer - std::min(kInputBuffer, size / 2), ' ');
  padded += script;
  for (const ScriptDialect dialect : {ScriptDialect::kReplay, ScriptDialect::kSim})
    FUZZ_CHECK(Read(script, dialect, lines) == Read(padded, dialect, lines));
  return 0;
}
