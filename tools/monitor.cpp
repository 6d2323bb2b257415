// tovmir-tool monitor: the meter's logic on a real serial port, printed as text. The reader
// thread decodes bytes, the main thread runs the 500 ms watchdog; one lock keeps each
// token and its line together.
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <utility>

#include "platform/text.h"
#include "serial/serial_link.h"
#include "tools/state_line.h"
#include "tools/term_view.h"
#include "tools/tool.h"

namespace tovmir {
namespace {

const char kMonitorHelp[] =
    "usage: tovmir-tool monitor [--bars] [PORT]\n"
    "\n"
    "Listens to a handset on the serial port PORT (default /dev/ttyS0; COMn means\n"
    "/dev/ttyS(n-1)) at 600 baud 8N1, runs the meter's logic with its 500 ms watchdog and\n"
    "prints a timestamped line, in replay's form, for the start and for every byte or tick\n"
    "that changed what the meter shows. Ctrl-C or SIGTERM ends it.\n"
    "\n"
    "--bars draws the meter itself in the terminal instead, redrawn in place on every\n"
    "change and sized to the terminal: the antenna, the 15 bars and the status line (plain\n"
    "ASCII when the locale is not UTF-8).\n"
    "\n"
    "Exit status: 0 ended by a signal; 1 the port could not be opened or failed; 2 bad\n"
    "arguments.\n";

constexpr int kTickMs = 500;

// "COM3" -> "/dev/ttyS2"; anything else as given.
std::string DeviceFor(const std::string& name) {
  int n = 0;
  if (name.size() > 3 && name.compare(0, 3, "COM") == 0 && ParseInt(name.substr(3), n) && n >= 1)
    return "/dev/ttyS" + std::to_string(n - 1);
  return name;
}

std::string Timestamp() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  char buf[40];
  const size_t n = strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(buf + n, sizeof buf - n, ".%03ld", now.tv_nsec / 1000000);
  return buf;
}

long long MonotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// The terminal's size, or a common one when the output is not a terminal.
void TerminalSize(int* columns, int* rows) {
  winsize ws{};
  const bool ok = ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0;
  *columns = ok ? ws.ws_col : 80;
  *rows = ok ? ws.ws_row : 24;
}

class Monitor : public LinkOwner {
 public:
  Monitor(std::string port, std::string device, int ended_fd, bool bars)
      : port_(std::move(port)), device_(std::move(device)), ended_fd_(ended_fd), bars_(bars) {
    if (!bars_) return;
    setlocale(LC_CTYPE, "");
    utf8_ = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    std::cout << "\x1b[?25l\x1b[2J" << std::flush;  // hide the cursor, clear the screen
  }
  ~Monitor() {
    if (bars_) std::cout << "\x1b[?25h\n" << std::flush;
  }

  // The terminal changed size.
  void Resized() {
    std::lock_guard<std::mutex> lock(mu_);
    if (bars_) Print("resize", 0);
  }

  // The reader waits on this lock while the start is printed, so "init" comes first.
  std::mutex& lock() { return mu_; }
  void Start() { Print("init", 0); }

  void LinkByte(std::uint8_t b) override {
    std::lock_guard<std::mutex> lock(mu_);
    CountingSink sink;
    ReceiveByte(state_, b, sink);
    if (sink.count) Print(ByteLabel(b), sink.count);
  }

  void Tick() {
    std::lock_guard<std::mutex> lock(mu_);
    CountingSink sink;
    WatchdogTick(state_, sink);
    if (sink.count) Print("tick", sink.count);
  }

  // The program's own message, naming the port as the user typed it, then the OS's reason.
  void LinkOpenFailed(const std::string&, const std::string&, const OsError& why) override {
    std::cerr << Utf8FromCp932(port_ + kTextCannotOpen) << '\n'
              << device_ << ": " << why.text << '\n';
  }

  void LinkEnded(const OsError& why) override {
    ended_ = why;
    const char c = 0;
    const ssize_t ignored = write(ended_fd_, &c, 1);
    (void)ignored;
  }
  const OsError& ended() const { return ended_; }

 private:
  void Print(const std::string& what, int redraws) {
    if (!bars_) {
      std::cout << Timestamp() << ' ' << StateLine(what, state_, redraws) << std::endl;
      return;
    }
    int columns, rows;
    TerminalSize(&columns, &rows);
    std::string frame = RenderMeterText(state_, columns, rows - 1, utf8_);
    // Home, then every line cleared to its end: the picture is replaced in place.
    std::string out = "\x1b[H";
    for (size_t start = 0;;) {
      const size_t nl = frame.find('\n', start);
      out += frame.substr(start, nl - start) + "\x1b[K";
      if (nl == std::string::npos) break;
      out += "\r\n";
      start = nl + 1;
    }
    std::cout << out << "\x1b[J" << std::flush;
  }

  std::mutex mu_;
  MeterState state_;
  std::string port_, device_;
  int ended_fd_;
  bool bars_;
  bool utf8_ = false;
  OsError ended_;
};

}  // namespace

int MonitorMain(int argc, char** argv) {
  std::string port = "/dev/ttyS0";
  bool bars = false, have_port = false;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kMonitorHelp;
      return 0;
    }
    if (a == "--bars") {
      bars = true;
    } else if (!have_port && a[0] != '-') {
      port = a;
      have_port = true;
    } else {
      return Usage("monitor", kMonitorHelp);
    }
  }
  const std::string device = DeviceFor(port);

  // Signals arrive through a descriptor on the main thread only; the reader inherits the mask.
  const int sig_fd = StopSignals({SIGWINCH});
  int ended[2];
  if (sig_fd < 0 || pipe2(ended, O_CLOEXEC) != 0)
    return Fail("monitor", "cannot set up signal handling", 1);

  Monitor monitor(port, device, ended[1], bars);
  SerialLink link;
  {
    std::lock_guard<std::mutex> hold(monitor.lock());
    if (!OpenSerialLink(link, device.c_str(), monitor)) {
      if (link.m_hComm != kPortOpenFailed)  // the open itself was reported by the owner
        Fail("monitor", "cannot set up " + device + ": " + link.m_error.text, 1);
      return 1;
    }
    monitor.Start();
  }

  int status = 0;
  long long next_tick = MonotonicMs() + kTickMs;
  for (;;) {
    const long long wait = next_tick - MonotonicMs();
    pollfd fds[2] = {{sig_fd, POLLIN, 0}, {ended[0], POLLIN, 0}};
    const int n = poll(fds, 2, wait > 0 ? static_cast<int>(wait) : 0);
    if (n < 0 && errno != EINTR) break;
    if (fds[0].revents) {
      signalfd_siginfo info;
      if (read(sig_fd, &info, sizeof info) == sizeof info && info.ssi_signo == SIGWINCH) {
        monitor.Resized();
        continue;
      }
      break;
    }
    if (fds[1].revents) {
      status = Fail("monitor", device + " failed: " + monitor.ended().text, 1);
      break;
    }
    if (MonotonicMs() >= next_tick) {
      monitor.Tick();
      next_tick += kTickMs;
    }
  }
  CloseSerialLink(link);
  return status;
}

}  // namespace tovmir
