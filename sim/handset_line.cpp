#include "sim/handset_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tovmir {
namespace {

constexpr long long kNsPerByte = 1000000000LL / 60;  // 10 bits at 600 baud

long long NowNs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

}  // namespace

HandsetLine::~HandsetLine() {
  if (master_ >= 0) close(master_);
}

bool HandsetLine::Error(const std::string& what, std::string* error) {
  *error = what + ": " + std::strerror(errno);
  return false;
}

bool HandsetLine::OpenPty(std::string* name, std::string* error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
    return Error("cannot make a pty", error);
  const char* path = ptsname(master_);
  if (!path) return Error("cannot name the pty", error);
  *name = path;
  if (!tty_.Open(path) || !tty_.ReadSettings()) return Error("cannot open " + *name, error);
  tty_.StageLinePolicy();
  if (!tty_.WriteSettings()) return Error("cannot set up " + *name, error);
  return true;
}

bool HandsetLine::OpenDevice(const std::string& path, std::string* error) {
  path_ = path;
  if (!tty_.Open(path.c_str())) return Error("cannot open " + path, error);
  if (!tty_.ReadSettings()) return Error(path + " is not a serial device", error);
  tty_.StageLinePolicy();
  if (!tty_.WriteSettings()) return Error("cannot set up " + path, error);
  restore_ = true;
  return true;
}

bool HandsetLine::Restore(std::string* error) {
  if (!restore_) return true;
  restore_ = false;
  return tty_.Restore() || Error("cannot restore the settings of " + path_, error);
}

void HandsetLine::Drain() {
  if (master_ < 0) {
    tcdrain(tty_.fd());
    return;
  }
  for (int waited = 0; waited < 1000; ++waited) {
    int pending = 0;
    if (ioctl(tty_.fd(), FIONREAD, &pending) != 0 || pending == 0) return;
    usleep(1000);  // no event tells when a reader has taken the bytes
  }
}

bool Pacer::Send(std::uint8_t b, std::string* error) {
  if (!WaitUntil(next_ns_)) return false;
  for (;;) {
    const ssize_t n = write(fd_, &b, 1);
    if (n == 1) break;
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      *error = std::string("cannot write to the line: ") + std::strerror(errno);
      return false;
    }
    // The line is full (nobody reads the far end yet): wait for room, or a signal.
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {signal_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) > 0 && fds[1].revents) return false;
  }
  next_ns_ = NowNs() + kNsPerByte;  // from the real send: never faster than the line
  return true;
}

bool Pacer::Finish() { return WaitUntil(next_ns_); }

bool Pacer::Silence(double seconds) {
  const long long until = NowNs() + static_cast<long long>(seconds * 1e9);
  if (!WaitUntil(until)) return false;
  if (next_ns_ < until) next_ns_ = until;
  return true;
}

bool Pacer::WaitUntil(long long deadline) {
  pollfd p = {signal_fd_, POLLIN, 0};
  for (;;) {
    const long long left = deadline - NowNs();
    if (poll(&p, 1, left > 1000000 ? static_cast<int>(left / 1000000) : 0) > 0) return false;
    if (left <= 0) return true;
    if (left <= 1000000) {  // poll() waits in whole milliseconds; finish the rest
      const timespec t = {0, static_cast<long>(left)};
      nanosleep(&t, nullptr);
    }
  }
}

}  // namespace tovmir
