#include "cli/input.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tovmir {

Input::~Input() {
  if (own_) close(fd_);
}

bool Input::Failed(const char* what) {
  error_ = std::string(what) + " '" + name_ + "': " + std::strerror(errno);
  return false;
}

bool Input::Open(const std::string& path) {
  name_ = path == "-" ? "<stdin>" : path;
  if (path == "-") {
    fd_ = STDIN_FILENO;
    return true;
  }
  fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  own_ = fd_ >= 0;
  return own_ || Failed("cannot open");
}

bool Input::OpenScratch() {
  name_ = "a copy of the input";
  fd_ = open(P_tmpdir, O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
  own_ = fd_ >= 0;
  return own_ || Failed("cannot make");
}

bool Input::IsFile(const std::string& path) const {
  struct stat in, out;
  return fstat(fd_, &in) == 0 && stat(path.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
         in.st_ino == out.st_ino;
}

int Input::Refill() {
  for (;;) {
    const ssize_t n = read(fd_, buf_, sizeof buf_);
    if (n > 0) {
      pos_ = 1;
      len_ = static_cast<size_t>(n);
      return static_cast<unsigned char>(buf_[0]);
    }
    if (n == 0) return -1;
    if (errno == EINTR) continue;
    Failed("cannot read");
    return -1;
  }
}

bool Input::Put(const char* data, size_t n) {
  for (size_t done = 0; done < n;) {
    const ssize_t w = write(fd_, data + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return Failed("cannot write");
    done += static_cast<size_t>(w);
  }
  return true;
}

bool Input::Seekable() const { return lseek(fd_, 0, SEEK_CUR) >= 0; }

bool Input::CopyTo(Input& to) {
  if (pos_ < len_ && !to.Put(buf_ + pos_, len_ - pos_)) return false;
  pos_ = len_ = 0;
  for (;;) {
    const ssize_t n = read(fd_, buf_, sizeof buf_);
    if (n == 0) return true;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Failed("cannot read");
    if (!to.Put(buf_, static_cast<size_t>(n))) return false;
  }
}

bool Input::Rewind() {
  pos_ = len_ = 0;
  return lseek(fd_, 0, SEEK_SET) == 0 || Failed("cannot go back in");
}

}  // namespace tovmir
