// Code page 932 conversions through the C library's iconv.
#include "platform/text.h"

#include <iconv.h>

#include <cerrno>

namespace tovmir {
namespace {

// Converts in, replacing each input unit (of `unit` bytes) that cannot be converted by
// `replacement` (already in the target encoding) when one is given, failing otherwise.
bool Convert(const char* to, const char* from, std::string_view in, std::string& out,
             std::string_view replacement, size_t unit = 1) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  char* src = const_cast<char*>(in.data());  // iconv's signature; it does not write
  size_t left = in.size();
  bool ok = true;
  char buf[256];
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof buf;
    const size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, static_cast<size_t>(dst - buf));
    if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
    if (replacement.empty()) {
      ok = false;
      break;
    }
    out.append(replacement);  // skip what cannot be converted, or a cut-off tail
    const size_t skip = left < unit ? left : unit;
    src += skip;
    left -= skip;
  }
  char* dst = buf;  // flush any shift state
  size_t room = sizeof buf;
  iconv(cd, nullptr, nullptr, &dst, &room);
  out.append(buf, static_cast<size_t>(dst - buf));
  iconv_close(cd);
  return ok;
}

}  // namespace

std::u16string Utf16FromCp932(std::string_view cp932) {
  std::string bytes;
  Convert("UTF-16LE", "CP932", cp932, bytes, std::string_view("\xFD\xFF", 2));
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        static_cast<unsigned char>(bytes[i + 1]) << 8));
  return out;
}

std::string Utf8FromCp932(std::string_view cp932) {
  std::string out;
  Convert("UTF-8", "CP932", cp932, out, "\xEF\xBF\xBD");
  return out;
}

std::string Cp932FromUtf16(std::u16string_view utf16) {
  std::string bytes;
  for (char16_t c : utf16) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  std::string out;
  Convert("CP932", "UTF-16LE", bytes, out, "?", 2);
  return out;
}

bool Cp932FromUtf8(std::string_view utf8, std::string& cp932) {
  return Convert("CP932", "UTF-8", utf8, cp932, {});
}

}  // namespace tovmir
