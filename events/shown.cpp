#include "events/shown.h"

#include <cstdio>

namespace tovmir {
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

}  // namespace tovmir
