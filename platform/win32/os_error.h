// os_error.h: fills an OsError from GetLastError(), at the call that failed. Windows only.
#pragma once

#include <windows.h>

#include "platform/serial_port.h"

namespace tovmir {

inline bool FailWith(OsError* why, DWORD code) {
  if (why) {
    why->code = static_cast<int>(code);
    char buf[256] = "";
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, buf, sizeof buf, nullptr);
    why->text.assign(buf, n);
    while (!why->text.empty() && (why->text.back() == '\n' || why->text.back() == '\r'))
      why->text.pop_back();
    if (why->text.empty()) why->text = "error " + std::to_string(code);
  }
  return false;
}

inline bool FailWithLastError(OsError* why) { return FailWith(why, GetLastError()); }

}  // namespace tovmir
