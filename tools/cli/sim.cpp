// tovmir-tool sim: the handset's side of the line. Writes a scripted scenario, or a
// realistic endless session, into a pty pair of its own or an existing serial device,
// paced like a 600-baud 8N1 line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <random>
#include <string>

#include "platform/line_policy.h"
#include "tools/input.h"
#include "tools/script.h"
#include "tools/sim_session.h"
#include "tools/tool.h"

namespace tovmir {
namespace {

const char kSimHelp[] =
    "usage: tovmir-tool sim [--port DEVICE] [--seed N] [SCRIPT]\n"
    "\n"
    "Plays the handset: sends its status bytes at the pace of a 600-baud 8N1 line (one byte\n"
    "per 1/60 s, never faster).\n"
    "\n"
    "By default it makes a pty pair and prints, on the first line of its output, the device\n"
    "the meter should open (tovmir-tool monitor DEVICE, or a Wine COM port mapped to it);\n"
    "the pty lives as long as the simulator. --port DEVICE writes into an existing serial\n"
    "device or pty instead, set to 600 baud 8N1 and put back as it was at the end.\n"
    "\n"
    "Without SCRIPT it plays a realistic session until stopped: a fresh start, the antenna,\n"
    "the network number, a wandering reception level, and about once a minute a switch-off\n"
    "of 3 to 5 seconds. --seed N makes the session repeatable.\n"
    "\n"
    "SCRIPT holds bytes in replay's format (two hexadecimal digits, '#' comments) and\n"
    "'wait SECONDS' for silence on the line; the simulator ends after it.\n"
    "\n"
    "Ctrl-C or SIGTERM ends it at once. Exit status: 0 done or stopped; 1 the script could\n"
    "not be read, or the device could not be opened, written or restored; 2 bad arguments or\n"
    "a bad script (its line is named).\n";

constexpr long long kNsPerByte = 1000000000LL / 60;  // 10 bits at 600 baud

long long NowNs() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// The handset's end of the line, set up by the same line policy as the meter's end.
class Line {
 public:
  ~Line() {
    if (slave_ >= 0) close(slave_);
    if (fd_ >= 0) close(fd_);
  }

  // Puts a device's own settings back (a pty of our own goes away with us). False, with
  // *error, when they could not be put back.
  bool Restore(std::string* error) {
    if (!have_original_) return true;
    have_original_ = false;
    return tcsetattr(fd_, TCSANOW, &original_) == 0 || Error("cannot restore the settings of " + path_, error);
  }

  // A pty pair of our own; the slave stays open here too, raw and quiet, so that what is
  // written before the meter opens it is not echoed or translated, and the line survives
  // the meter closing and opening it again.
  bool OpenPty(std::string* name, std::string* error) {
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

  bool OpenDevice(const std::string& path, std::string* error) {
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

  int fd() const { return fd_; }

  // Waits (up to a second) until the far end has read what was sent, so that ending the
  // simulator does not take the last bytes away with the pty.
  void Drain() {
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

 private:
  static bool Error(const std::string& what, std::string* error) {
    *error = what + ": " + std::strerror(errno);
    return false;
  }
  int fd_ = -1, slave_ = -1;
  std::string path_;
  termios original_{};
  bool have_original_ = false;
};

// Sends bytes no faster than the line would carry them, and waits out silences; a stop
// signal ends either at once.
class Pacer {
 public:
  Pacer(int fd, int signal_fd) : fd_(fd), signal_fd_(signal_fd) {}

  // False when stopped by a signal; *error is set when the line failed.
  bool Send(std::uint8_t b, std::string* error) {
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

  // Waits out the last byte's time on the line (the pty hands bytes on to its reader side
  // a moment after they are written).
  bool Finish() { return WaitUntil(next_ns_); }

  bool Silence(double seconds) {
    const long long until = NowNs() + static_cast<long long>(seconds * 1e9);
    if (!WaitUntil(until)) return false;
    if (next_ns_ < until) next_ns_ = until;
    return true;
  }

 private:
  bool WaitUntil(long long deadline) {
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

  int fd_, signal_fd_;
  long long next_ns_ = 0;
};

// Reads the script through once, so that a bad one is refused before anything reaches the
// line, and leaves it ready to be read again from its start: a file that cannot go back
// (standard input, a pipe) is copied to a scratch file first. *status says why not.
bool CheckScript(Input& file, Input& scratch, Input** script, int* status) {
  *script = &file;
  if (!file.Seekable()) {
    if (!scratch.OpenScratch() || !file.CopyTo(scratch) || !scratch.Rewind()) {
      *status = Fail("sim", file.error().empty() ? scratch.error() : file.error(), 1);
      return false;
    }
    *script = &scratch;
  }
  ScriptReader reader(**script, ScriptDialect::kSim);
  while (reader.Next()) {
  }
  if (!(*script)->error().empty()) {
    *status = Fail("sim", (*script)->error(), 1);
  } else if (!reader.error().empty()) {
    *status = Fail("sim", file.name() + ": " + reader.error(), 2);
  } else if (!(*script)->Rewind()) {
    *status = Fail("sim", (*script)->error(), 1);
  } else {
    return true;
  }
  return false;
}

}  // namespace

int SimMain(int argc, char** argv) {
  std::string port, script;
  bool have_seed = false;
  int seed = 0;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kSimHelp;
      return 0;
    }
    if (a == "--port" && i + 1 < argc && argv[i + 1][0]) {
      port = argv[++i];
    } else if (a == "--seed" && i + 1 < argc) {
      if (!ParseInt(argv[++i], seed) || seed < 0) return Usage("sim", kSimHelp);
      have_seed = true;
    } else if (script.empty() && (a == "-" || a[0] != '-')) {
      script = a;
    } else {
      return Usage("sim", kSimHelp);
    }
  }

  // A bad script is refused before anything reaches the line.
  Input file, scratch;
  Input* in = nullptr;
  int status = 0;
  if (!script.empty()) {
    if (!file.Open(script)) return Fail("sim", file.error(), 1);
    if (!CheckScript(file, scratch, &in, &status)) return status;
  }

  const int signal_fd = StopSignals();
  if (signal_fd < 0) return Fail("sim", "cannot set up signal handling", 1);

  Line line;
  std::string error, name;
  if (port.empty() ? !line.OpenPty(&name, &error) : !line.OpenDevice(port, &error))
    return Fail("sim", error, 1);
  WriteLine(port.empty() ? name : port);
  if (const int failed = FinishOutput("sim")) {
    line.Restore(&error);
    return failed;
  }

  Pacer pacer(line.fd(), signal_fd);
  if (in) {
    ScriptReader reader(*in, ScriptDialect::kSim);
    while (const auto t = reader.Next()) {
      const bool go = t->kind == ScriptToken::kByte ? pacer.Send(t->byte, &error) : pacer.Silence(t->seconds);
      if (!go) break;
    }
    if (!in->error().empty()) error = in->error();  // the file changed under us
    if (error.empty() && pacer.Finish()) line.Drain();
  } else {
    SimSession session(have_seed ? static_cast<std::uint32_t>(seed) : std::random_device{}());
    for (;;) {
      const SimStep s = session.Next();
      if (!(s.kind == SimStep::kByte ? pacer.Send(s.byte, &error) : pacer.Silence(s.seconds)))
        break;
    }
  }
  std::string restore_error;
  if (!line.Restore(&restore_error) && error.empty()) error = restore_error;
  return error.empty() ? 0 : Fail("sim", error, 1);
}

}  // namespace tovmir
