#include "sim/handset_line.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/line_policy.h"

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
  if (slave_ >= 0) close(slave_);
  if (fd_ >= 0) close(fd_);
}

bool HandsetLine::Error(const std::string& what, std::string* error) {
  *error = what + ": " + std::strerror(errno);
  return false;
}

bool HandsetLine::OpenPty(std::string* name, std::string* error) {
  fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) return Error("cannot make a pty", error);
  const char* path = ptsname(fd_);
  if (!path) return Error("cannot name the pty", error);
  *name = path;
  slave_ = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t;
  if (slave_ < 0 || tcgetattr(slave_, &t) != 0) return Error("cannot open " + *name, error);
  ApplyLinePolicy(t);
  if (tcsetattr(slave_, TCSANOW, &t) != 0) return Error("cannot set up " + *name, error);
  return true;
}

bool HandsetLine::OpenDevice(const std::string& path, std::string* error) {
  path_ = path;
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return Error("cannot open " + path, error);
  if (tcgetattr(fd_, &original_) != 0) return Error(path + " is not a serial device", error);
  termios t = original_;
  ApplyLinePolicy(t);
  if (tcsetattr(fd_, TCSANOW, &t) != 0) return Error("cannot set up " + path, error);
  have_original_ = true;
  return true;
}

bool HandsetLine::Restore(std::string* error) {
  if (!have_original_) return true;
  have_original_ = false;
  return tcsetattr(fd_, TCSANOW, &original_) == 0 ||
         Error("cannot restore the settings of " + path_, error);
}

void HandsetLine::Drain() {
  if (slave_ < 0) {
    tcdrain(fd_);
    return;
  }
  for (int waited = 0; waited < 1000; ++waited) {
    int pending = 0;
    if (ioctl(slave_, FIONREAD, &pending) != 0 || pending == 0) return;
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
