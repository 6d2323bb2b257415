#include "station/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/tool.h"

namespace tovmir {
namespace {
constexpr mode_t kLogMode = 0640;  // the station's group may read it, nobody else

// Without waiting: a FIFO nobody reads fails at once (ENXIO) rather than wait for a reader
// that may never come. Writes then wait as they should, on the writer's thread.
int OpenLog(const std::string& path) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, kLogMode);
  if (fd >= 0 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

std::string WhyNot(int error) {
  return error == ENXIO ? "it is a FIFO that nobody reads" : std::strerror(error);
}
}  // namespace

LogFile::~LogFile() {
  if (fd_ >= 0) close(fd_);
}

bool LogFile::Open(std::string* error) {
  fd_ = OpenLog(path_);
  if (fd_ >= 0) return true;
  *error = "cannot open '" + path_ + "': " + WhyNot(errno);
  return false;
}

bool LogFile::Reopen() {
  const int fd = OpenLog(path_);
  if (fd < 0) return false;
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  return true;
}

void LogFile::Failed(const std::string& what, int error) {
  ++lost_;
  ++lost_total_;
  if (failing_) return;
  failing_ = true;
  Note("monitor",
       what + " '" + path_ + "': " + WhyNot(error) +
           "; monitoring goes on, and so will the log when it can (lines are lost meanwhile)");
}

int LogFile::Write(const std::string& line) {
  if (reopen_.exchange(false) && !Reopen()) {
    reopen_ = true;  // again at the next line
    if (!line.empty()) Failed("cannot open", errno);
    return 0;
  }
  if (line.empty()) return 0;
  // Where the line begins, so that a line cut short by a full disk can be taken back.
  const off_t end = lseek(fd_, 0, SEEK_END);
  const ssize_t n = write(fd_, line.data(), line.size());
  if (n != static_cast<ssize_t>(line.size())) {
    const int error = n < 0 ? errno : ENOSPC;
    if (n > 0 && end >= 0 && ftruncate(fd_, end) != 0) {
      // The piece stays; the next line starts on a line of its own.
      const ssize_t ignored = write(fd_, "\n", 1);
      (void)ignored;
    }
    Failed("cannot write to", error);
    return 0;
  }
  if (failing_) {
    failing_ = false;
    Note("monitor",
         "writing to '" + path_ + "' again; " + std::to_string(lost_) + " lines were lost");
    lost_ = 0;
  }
  return 0;
}

}  // namespace tovmir
