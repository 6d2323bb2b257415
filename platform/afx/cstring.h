// cstring.h: CString, the program's text in code page 932, converted to UTF-16 wherever
// it meets Windows so that it reads right whatever the system's ANSI code page is.
// A plain value; use it from one thread at a time.
#pragma once

#include <windows.h>

#include <string>

namespace tovmir {

class CString {
 public:
  CString() = default;
  CString(const char* cp932) : s_(cp932 ? cp932 : "") {}
  CString(std::string cp932) : s_(std::move(cp932)) {}

  // The string `id` of the program's string table (stored as UTF-16), in code page 932.
  // FALSE, and the string empty, when there is none.
  BOOL LoadString(UINT id);

  CString& operator=(const char* cp932) {
    s_ = cp932 ? cp932 : "";
    return *this;
  }

  operator const char*() const { return s_.c_str(); }
  bool IsEmpty() const { return s_.empty(); }
  // For the W functions of Windows.
  std::wstring Wide() const;

 private:
  std::string s_;
};

// Code page 932 to UTF-16, for a W call.
std::wstring WideFrom(const char* cp932);

}  // namespace tovmir
