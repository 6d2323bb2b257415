#include "tests/support/pty.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <stdexcept>

namespace tovmir::test {

Pty::Pty(const std::string& path) : path_(path) {
  char name[128];
  if (openpty(&far_, &near_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
  // Not handed on to the programs a test starts: a copy of the far end there would keep the
  // line up after Unplug.
  for (int fd : {far_, near_}) fcntl(fd, F_SETFD, FD_CLOEXEC);
  name_ = name;
  if (path.empty()) return;
  unlink(path.c_str());
  if (symlink(name, path.c_str()) != 0) throw std::runtime_error("symlink " + path);
}

void Pty::Write(const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(far_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("write to pty");
    done += static_cast<size_t>(n);
  }
}

void Pty::Offer(const std::string& bytes) {
  fcntl(far_, F_SETFL, fcntl(far_, F_GETFL) | O_NONBLOCK);
  const ssize_t ignored = write(far_, bytes.data(), bytes.size());
  (void)ignored;
}

bool Pty::Exclusive() const {
  int on = -1;
  if (ioctl(near_, TIOCGEXCL, &on) != 0) throw std::runtime_error("TIOCGEXCL");
  return on != 0;
}

void Pty::GiveTo(uid_t uid) {
  if (fchown(near_, uid, static_cast<gid_t>(-1)) != 0) throw std::runtime_error("fchown");
}

void Pty::Unplug() {
  if (far_ < 0) return;
  // The link first: once the pty is closed its number is free for the next openpty (in a
  // test running beside this one), which a program trying the link again would then take.
  if (!path_.empty()) unlink(path_.c_str());
  close(far_);
  close(near_);
  far_ = near_ = -1;
}

}  // namespace tovmir::test
