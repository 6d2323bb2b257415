#include "platform/tty.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/line_policy.h"

namespace tovmir {

bool Tty::Open(const char* path) {
  Close();
  fd_ = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  return fd_ >= 0;
}

bool Tty::ReadSettings() {
  if (tcgetattr(fd_, &staged_) != 0) return false;
  if (!have_original_) original_ = staged_;
  have_original_ = true;
  return true;
}

void Tty::StageLinePolicy() { ApplyLinePolicy(staged_); }

bool Tty::WriteSettings() { return tcsetattr(fd_, TCSANOW, &staged_) == 0; }

bool Tty::Restore() { return !have_original_ || tcsetattr(fd_, TCSANOW, &original_) == 0; }

void Tty::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  have_original_ = false;
}

}  // namespace tovmir
