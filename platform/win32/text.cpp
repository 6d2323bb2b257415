// Code page 932 conversions through Windows' own tables, whatever the system's ANSI code
// page is.
#include "platform/text.h"

#include <windows.h>

namespace tovmir {
namespace {

constexpr UINT kCp932 = 932;

std::wstring Wide(UINT cp, DWORD flags, std::string_view in, bool* ok) {
  *ok = true;
  if (in.empty()) return {};
  const int n = MultiByteToWideChar(cp, flags, in.data(), static_cast<int>(in.size()), nullptr, 0);
  if (n <= 0) {
    *ok = false;
    return {};
  }
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(cp, flags, in.data(), static_cast<int>(in.size()), out.data(), n);
  return out;
}

std::string Narrow(UINT cp, const std::wstring& in, bool* ok) {
  *ok = true;
  if (in.empty()) return {};
  BOOL lossy = FALSE;
  BOOL* lossy_arg = cp == CP_UTF8 ? nullptr : &lossy;  // UTF-8 rejects the argument
  const int len = static_cast<int>(in.size());
  const int n = WideCharToMultiByte(cp, 0, in.data(), len, nullptr, 0, nullptr, lossy_arg);
  if (n <= 0) {
    *ok = false;
    return {};
  }
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, in.data(), len, out.data(), n, nullptr, lossy_arg);
  if (lossy) *ok = false;
  return out;
}

}  // namespace

std::u16string Utf16FromCp932(std::string_view cp932) {
  bool ok;
  const std::wstring w = Wide(kCp932, 0, cp932, &ok);
  return std::u16string(w.begin(), w.end());
}

std::string Utf8FromCp932(std::string_view cp932) {
  bool ok;
  return Narrow(CP_UTF8, Wide(kCp932, 0, cp932, &ok), &ok);
}

std::string Cp932FromUtf16(std::u16string_view utf16) {
  bool ok;
  return Narrow(kCp932, std::wstring(utf16.begin(), utf16.end()), &ok);
}

bool Cp932FromUtf8(std::string_view utf8, std::string& cp932) {
  bool ok;
  const std::wstring w = Wide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, &ok);
  if (!ok) return false;
  cp932 = Narrow(kCp932, w, &ok);
  return ok;
}

}  // namespace tovmir
