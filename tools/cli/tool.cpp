// The helpers every command shares.
#include "tools/cli/tool.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace tovmir {

int Fail(const std::string& cmd, const std::string& message, int status) {
  std::cerr << "tovmir-tool" << (cmd.empty() ? "" : " ") << cmd << ": " << message << '\n';
  return status;
}

namespace {

// How many bytes of the UTF-8 character at s[i] (shortest form, no surrogate, at most
// U+10FFFF); 0 when none begins there.
size_t Utf8Length(const std::string& s, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char c = at(0);
  size_t n = c < 0x80                 ? 1
             : c >= 0xC2 && c <= 0xDF ? 2
             : c >= 0xE0 && c <= 0xEF ? 3
             : c >= 0xF0 && c <= 0xF4 ? 4
                                      : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((at(k) & 0xC0) != 0x80) return 0;
  if ((c == 0xE0 && at(1) < 0xA0) || (c == 0xED && at(1) > 0x9F) ||  // overlong, surrogate
      (c == 0xF0 && at(1) < 0x90) || (c == 0xF4 && at(1) > 0x8F))    // overlong, too high
    return 0;
  return n;
}

}  // namespace

std::string Shown(const std::string& text, size_t max) {
  const std::string part = text.substr(0, max);
  std::string out;
  for (size_t i = 0; i < part.size();) {
    const unsigned char c = static_cast<unsigned char>(part[i]);
    const size_t n = Utf8Length(part, i);
    if (n == 0 || c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
      ++i;
    } else {
      out.append(part, i, n);
      i += n;
    }
  }
  return text.size() > part.size() ? out + "..." : out;
}

bool ParseInt(const std::string& text, int& out) {
  if (text.empty() || text.size() > 11) return false;
  size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (text[0] == '-') v = -v;
  if (v < INT_MIN || v > INT_MAX) return false;
  out = static_cast<int>(v);
  return true;
}

namespace {
int g_write_errno = 0;  // of the first failed write to standard output
}  // namespace

bool WriteLine(const std::string& line) {
  if (g_write_errno) return false;
  if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
      std::fputc('\n', stdout) == EOF)
    g_write_errno = errno ? errno : EIO;
  return !g_write_errno;
}

int FinishOutput(const std::string& cmd) {
  if (!g_write_errno && (std::fflush(stdout) != 0 || std::ferror(stdout)))
    g_write_errno = errno ? errno : EIO;
  if (!g_write_errno) return 0;
  return Fail(cmd, std::string("cannot write to standard output: ") + std::strerror(g_write_errno),
              1);
}

}  // namespace tovmir
