// wake_pipe.h: one byte written to a pipe whose reader waits in poll(), to wake it. POSIX
// only; any thread, async-signal-safe.
#pragma once

#include <unistd.h>

namespace tovmir {

// The pipe is non-blocking or has room: a wake that finds it full is one already pending,
// so the result is of no interest.
inline void WakePipe(int fd) {
  const char c = 0;
  const ssize_t ignored = write(fd, &c, 1);
  (void)ignored;
}

}  // namespace tovmir
