// os_error.h: fills an OsError from errno, at the call that failed. POSIX side only.
#pragma once

#include <cstring>

#include "platform/serial_port.h"

namespace tovmir {

inline bool FailWith(OsError* why, int code) {
  if (why) {
    why->code = code;
    why->text = std::strerror(code);
  }
  return false;
}

}  // namespace tovmir
