// Serial ports on POSIX: an exclusive, raw tty, read through poll() so that a wake pipe can
// end a blocked read (closing the fd from another thread would not).
#include "platform/serial_port.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/posix/os_error.h"
#include "platform/tty.h"
#include "platform/wake_pipe.h"

namespace tovmir {

struct SerialPort {
  Tty tty;
  int wake[2] = {-1, -1};  // written once by PortStop
};

PortHandle const kPortOpenFailed = reinterpret_cast<PortHandle>(~std::uintptr_t{0});

namespace {

void CloseFds(SerialPort* p) {
  p->tty.Close();
  for (int fd : {p->wake[0], p->wake[1]})
    if (fd >= 0) close(fd);
}

PortHandle OpenFailed(SerialPort* p, OsError* why, int code) {
  FailWith(why, code);
  CloseFds(p);
  delete p;
  return kPortOpenFailed;
}

}  // namespace

std::string PortDevice(const std::string& name) {
  if (name.size() < 4 || name.size() > 6 || strncasecmp(name.c_str(), "COM", 3) != 0) return name;
  int n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return name;
    n = n * 10 + (name[i] - '0');
  }
  return n >= 1 ? "/dev/ttyS" + std::to_string(n - 1) : name;
}

PortHandle OpenPort(const char* name, OsError* why) {
  auto* p = new SerialPort;
  if (pipe2(p->wake, O_CLOEXEC | O_NONBLOCK) != 0) return OpenFailed(p, why, errno);
  // Non-blocking, so that a port waiting for carrier cannot hang the open; reads wait in
  // poll() instead.
  if (!p->tty.Open(name)) return OpenFailed(p, why, errno);
  const int fd = p->tty.fd();
  if (!isatty(fd)) return OpenFailed(p, why, ENOTTY);
  // flock also keeps out a second opener with root rights, which TIOCEXCL lets through.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    return OpenFailed(p, why, errno == EWOULDBLOCK ? EBUSY : errno);
  // Last, so that no failure path has to give it up again: ClosePort does.
  if (ioctl(fd, TIOCEXCL) != 0) return OpenFailed(p, why, errno);
  return p;
}

std::string PortAccessHint(const std::string& device, const OsError& why) {
  struct stat st;
  if ((why.code != EACCES && why.code != EPERM) || stat(device.c_str(), &st) != 0 ||
      !(st.st_mode & S_IRGRP) || st.st_gid == 0)
    return {};
  std::vector<char> buf(16384);
  group gr, *found = nullptr;
  if (getgrgid_r(st.st_gid, &gr, buf.data(), buf.size(), &found) != 0 || !found) return {};
  const std::string name = gr.gr_name;
  std::vector<gid_t> mine(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
  mine.resize(
      static_cast<size_t>(std::max(getgroups(static_cast<int>(mine.size()), mine.data()), 0)));
  if (getegid() == st.st_gid || std::find(mine.begin(), mine.end(), st.st_gid) != mine.end())
    return {};  // refused for another reason than the group
  // Joined since this session began: the membership only counts from the next login.
  std::vector<char> pw_buf(16384);
  passwd pw, *me = nullptr;
  if (getpwuid_r(geteuid(), &pw, pw_buf.data(), pw_buf.size(), &me) == 0 && me)
    for (char** member = gr.gr_mem; *member; ++member)
      if (std::strcmp(*member, me->pw_name) == 0)
        return device + " belongs to the group " + name + ", which you have joined since you " +
               "logged in: log out and in again.";
  return device + " belongs to the group " + name +
         ", which you are not in. To join it: " + "sudo usermod -aG " + name +
         " $USER, then log out and in again.";
}

bool PortReadSettings(PortHandle p, OsError* why) {
  return p->tty.ReadSettings() || FailWith(why, errno);
}

void PortStageProtocolSettings(PortHandle p) { p->tty.StageLinePolicy(); }

bool PortWriteSettings(PortHandle p, OsError* why) {
  return p->tty.WriteSettings() || FailWith(why, errno);
}

ReadResult PortReadByte(PortHandle p, std::uint8_t* out, OsError* why) {
  for (;;) {
    pollfd fds[2] = {{p->tty.fd(), POLLIN, 0}, {p->wake[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      FailWith(why, errno);
      return ReadResult::kFailed;
    }
    if (fds[1].revents) return ReadResult::kStopped;
    if (fds[0].revents & POLLNVAL) {
      FailWith(why, EBADF);
      return ReadResult::kFailed;
    }
    const ssize_t n = read(p->tty.fd(), out, 1);
    if (n == 1) return ReadResult::kByte;
    if (n == 0) {  // end of file: the other side hung up
      FailWith(why, EIO);
      return ReadResult::kFailed;
    }
    if (errno == EINTR || errno == EAGAIN) {
      // poll() said readable but nothing came; a hang-up without data is a failure.
      if (fds[0].revents & (POLLHUP | POLLERR)) {
        FailWith(why, EIO);
        return ReadResult::kFailed;
      }
      return ReadResult::kNothing;
    }
    FailWith(why, errno);
    return ReadResult::kFailed;
  }
}

bool PortIdle(PortHandle p, int ms) {
  pollfd w = {p->wake[0], POLLIN, 0};
  return poll(&w, 1, ms) > 0;
}

void PortStop(PortHandle p) { WakePipe(p->wake[1]); }

bool ClosePort(PortHandle p, OsError* why) {
  const bool ok = p->tty.Restore() || FailWith(why, errno);
  // The exclusive mark outlives the descriptor: left on, every later open by anyone but
  // root would fail with EBUSY.
  ioctl(p->tty.fd(), TIOCNXCL);
  CloseFds(p);
  delete p;
  return ok;
}

}  // namespace tovmir
