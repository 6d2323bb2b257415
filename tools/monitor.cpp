// tovmir-tool monitor: the meter's logic on a real serial port, printed as text. The reader
// thread decodes bytes, the main thread runs the 500 ms watchdog; one lock keeps each
// token and its line together.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <utility>

#include "platform/text.h"
#include "serial/serial_link.h"
#include "tools/state_line.h"
#include "tools/tool.h"

namespace tovmir {
namespace {

const char kMonitorHelp[] =
    "usage: tovmir-tool monitor [PORT]\n"
    "\n"
    "Listens to a handset on the serial port PORT (default /dev/ttyS0; COMn means\n"
    "/dev/ttyS(n-1)) at 600 baud 8N1, runs the meter's logic with its 500 ms watchdog and\n"
    "prints a timestamped line, in replay's form, for the start and for every byte or tick\n"
    "that changed what the meter shows. Ctrl-C or SIGTERM ends it.\n"
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

class Monitor : public LinkOwner {
 public:
  Monitor(std::string port, std::string device, int ended_fd)
      : port_(std::move(port)), device_(std::move(device)), ended_fd_(ended_fd) {}

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
    std::cout << Timestamp() << ' ' << StateLine(what, state_, redraws) << std::endl;
  }

  std::mutex mu_;
  MeterState state_;
  std::string port_, device_;
  int ended_fd_;
  OsError ended_;
};

}  // namespace

int MonitorMain(int argc, char** argv) {
  std::string port = "/dev/ttyS0";
  if (argc == 1 && (std::string(argv[0]) == "--help" || std::string(argv[0]) == "-h")) {
    std::cout << kMonitorHelp;
    return 0;
  }
  if (argc > 1 || (argc == 1 && argv[0][0] == '-')) return Usage("monitor", kMonitorHelp);
  if (argc == 1) port = argv[0];
  const std::string device = DeviceFor(port);

  // Signals arrive through a descriptor on the main thread only; the reader inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
  const int sig_fd = signalfd(-1, &stop_signals, SFD_CLOEXEC);
  int ended[2];
  if (sig_fd < 0 || pipe2(ended, O_CLOEXEC) != 0)
    return Fail("monitor", "cannot set up signal handling", 1);

  Monitor monitor(port, device, ended[1]);
  SerialLink link;
  if (!OpenSerialLink(link, device.c_str(), monitor)) {
    if (link.m_hComm != kPortOpenFailed)  // the open itself was reported by the owner
      Fail("monitor", "cannot set up " + device + ": " + link.m_error.text, 1);
    return 1;
  }
  monitor.Start();

  int status = 0;
  long long next_tick = MonotonicMs() + kTickMs;
  for (;;) {
    const long long wait = next_tick - MonotonicMs();
    pollfd fds[2] = {{sig_fd, POLLIN, 0}, {ended[0], POLLIN, 0}};
    const int n = poll(fds, 2, wait > 0 ? static_cast<int>(wait) : 0);
    if (n < 0 && errno != EINTR) break;
    if (fds[0].revents) break;
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
