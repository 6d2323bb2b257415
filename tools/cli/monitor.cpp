// tovmir-tool monitor: the meter's logic on a real serial port, printed as text. The reader
// thread decodes bytes, the main thread runs the 500 ms watchdog and waits for signals; one
// lock keeps each token and its line together. Standard output is written by a thread of
// its own, so that an output nobody reads holds up neither the port nor the signals.
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <condition_variable>
#include <deque>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform/stop_signals.h"
#include "platform/text.h"
#include "serial/serial_link.h"
#include "tools/cli/args.h"
#include "tools/cli/state_line.h"
#include "tools/render/term_view.h"
#include "tools/cli/tool.h"

namespace tovmir {
namespace {

const char kMonitorHelp[] =
    "usage: tovmir-tool monitor [--bars | -j|--json] [PORT]\n"
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
    "-j, --json prints the same lines as JSON Lines, for scripts and 'tovmir-tool plot':\n"
    "  {\"time\":\"2026-12-09T10:15:30.125+01:00\",\"elapsed\":12.345,\"event\":\"byte\",\n"
    "   \"byte\":\"C7\",\"level\":7,\"antenna\":\"filled\",\"net\":\"1234\",\"receiving\":true,\n"
    "   \"start\":true,\"status\":\"...\",\"redraws\":1}\n"
    "time is RFC 3339 with milliseconds; elapsed the seconds since monitor started, on a\n"
    "clock that nobody sets (so durations hold when the computer's clock is set); event\n"
    "init, byte or tick; net null when not known.\n"
    "\n"
    "-h, --help shows this, -V, --version the version.\n"
    "\n"
    "Exit status: 0 ended by a signal; 1 the port could not be opened, set up or restored,\n"
    "failed while listening, or standard output could not be written; 2 bad arguments.\n";

constexpr int kTickMs = 500;
// How long the end waits for queued output to be written before leaving it.
constexpr int kDrainMs = 50;
// Output queued beyond this (standard output not keeping up) is dropped, not kept.
constexpr size_t kMaxQueuedBytes = 1 << 20;

// Standard output, written by a thread of its own. Put and PutFrame never wait; of frames
// (the terminal meter) only the newest matters, and it replaces one still queued. A failed
// write makes failed_fd() readable, with its errno in error(). The state is shared with the
// writer thread, which may outlive the object when a write never returns (the process ends
// without it).
class Output {
 public:
  Output() : s_(std::make_shared<State>()) {
    if (pipe2(s_->failed, O_CLOEXEC) != 0) s_->failed[0] = s_->failed[1] = -1;
    std::thread(Write, s_).detach();
  }
  ~Output() {
    std::lock_guard<std::mutex> lock(s_->mu);
    s_->closed = true;
    s_->cv.notify_all();
  }

  void Put(std::string text) {
    std::lock_guard<std::mutex> lock(s_->mu);
    if (s_->bytes + text.size() > kMaxQueuedBytes) {
      ++s_->dropped;
      return;
    }
    s_->bytes += text.size();
    s_->queue.push_back(std::move(text));
    s_->cv.notify_all();
  }

  void PutFrame(std::string frame) {
    std::lock_guard<std::mutex> lock(s_->mu);
    if (s_->frame_at >= 0) {
      s_->queue[static_cast<size_t>(s_->frame_at)] = std::move(frame);
      return;
    }
    s_->frame_at = static_cast<int>(s_->queue.size());
    s_->queue.push_back(std::move(frame));
    s_->cv.notify_all();
  }

  // Waits up to ms for everything put so far to be written; false if it was not.
  bool Drain(int ms) {
    std::unique_lock<std::mutex> lock(s_->mu);
    return s_->cv.wait_for(lock, std::chrono::milliseconds(ms),
                           [this] { return s_->error || (s_->queue.empty() && !s_->busy); });
  }

  int failed_fd() const { return s_->failed[0]; }
  int error() const {
    std::lock_guard<std::mutex> lock(s_->mu);
    return s_->error;
  }
  long dropped() const {
    std::lock_guard<std::mutex> lock(s_->mu);
    return s_->dropped;
  }

 private:
  struct State {
    std::mutex mu;
    std::condition_variable cv;
    std::deque<std::string> queue;
    size_t bytes = 0;
    int frame_at = -1;  // where in the queue a frame waits, if one does
    bool busy = false, closed = false;
    int error = 0;
    long dropped = 0;
    int failed[2] = {-1, -1};
  };

  static void Write(std::shared_ptr<State> s) {
    std::unique_lock<std::mutex> lock(s->mu);
    for (;;) {
      s->cv.wait(lock, [&] { return !s->queue.empty() || s->closed; });
      if (s->queue.empty()) return;
      std::deque<std::string> batch;
      batch.swap(s->queue);
      s->bytes = 0;
      s->frame_at = -1;
      s->busy = true;
      lock.unlock();
      int error = 0;
      for (const std::string& text : batch)
        if ((error = WriteAll(text))) break;
      lock.lock();
      s->busy = false;
      s->cv.notify_all();
      if (error) {
        s->error = error;
        const char c = 0;
        const ssize_t ignored = write(s->failed[1], &c, 1);
        (void)ignored;
        return;
      }
    }
  }

  static int WriteAll(const std::string& text) {
    for (size_t done = 0; done < text.size();) {
      const ssize_t n = write(STDOUT_FILENO, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? errno : EIO;
      done += static_cast<size_t>(n);
    }
    return 0;
  }

  std::shared_ptr<State> s_;
};

// Local time with milliseconds: "2026-12-09 10:15:30.125", or in ISO 8601 with the zone's
// offset, "2026-12-09T10:15:30.125+01:00".
std::string Timestamp(bool iso) {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  char buf[48];
  size_t n = strftime(buf, sizeof buf, iso ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M:%S", &local);
  n += std::snprintf(buf + n, sizeof buf - n, ".%03ld", now.tv_nsec / 1000000);
  if (iso) {
    char zone[8];  // +hhmm, written +hh:mm
    strftime(zone, sizeof zone, "%z", &local);
    std::snprintf(buf + n, sizeof buf - n, "%.3s:%.2s", zone, zone + 3);
  }
  return buf;
}

// Seconds on a clock that nobody sets and that goes on while the computer sleeps.
double BootSeconds() {
  timespec now;
  clock_gettime(CLOCK_BOOTTIME, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
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

// What the monitor prints: lines in replay's form, the same as JSON Lines, or the meter
// drawn in the terminal.
enum class Shown { kLines, kJson, kBars };

class Monitor : public LinkOwner {
 public:
  Monitor(std::string port, std::string device, int ended_fd, Shown shown, Output& out)
      : port_(std::move(port)), device_(std::move(device)), ended_fd_(ended_fd),
        bars_(shown == Shown::kBars), json_(shown == Shown::kJson), out_(out) {
    if (!bars_) return;
    setlocale(LC_CTYPE, "");
    utf8_ = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    out_.Put("\x1b[?25l\x1b[2J");  // hide the cursor, clear the screen
  }
  // The terminal's cursor back, as the last output, and a moment for the output to be
  // written; what cannot be written by then is left, so that the end is not held up.
  ~Monitor() {
    if (bars_) out_.Put("\x1b[?25h\n");
    out_.Drain(kDrainMs);
    if (out_.dropped())
      Fail("monitor", std::to_string(out_.dropped()) +
                          " lines were dropped: standard output did not keep up", 0);
  }

  // The terminal changed size.
  void Resized() {
    std::lock_guard<std::mutex> lock(mu_);
    if (bars_) Draw();
  }

  // The reader waits on this lock while the start is printed, so "init" comes first.
  std::mutex& lock() { return mu_; }
  void Start() { Print({MeterEvent::kInit}); }

  void LinkByte(std::uint8_t b) override {
    std::lock_guard<std::mutex> lock(mu_);
    CountingSink sink;
    ReceiveByte(state_, b, sink);
    if (sink.count) Print({MeterEvent::kByte, b, sink.count});
  }

  void Tick() {
    std::lock_guard<std::mutex> lock(mu_);
    CountingSink sink;
    WatchdogTick(state_, sink);
    if (sink.count) Print({MeterEvent::kTick, 0, sink.count});
  }

  // The program's own message, naming the port as the user typed it, then the OS's reason;
  // for a port that could not be opened and for one that could not be set up alike.
  void LinkOpenFailed(const std::string&, const std::string&, const OsError& why) override {
    std::cerr << Utf8FromCp932(port_ + kTextCannotOpen) << '\n'
              << device_ << ": " << why.text << '\n';
    const std::string hint = PortAccessHint(device_, why);
    if (!hint.empty()) std::cerr << hint << '\n';
  }

  void LinkEnded(const OsError& why) override {
    ended_ = why;
    const char c = 0;
    const ssize_t ignored = write(ended_fd_, &c, 1);
    (void)ignored;
  }
  const OsError& ended() const { return ended_; }

 private:
  // Called with the lock held; only queues the text.
  void Print(const MeterEvent& e) {
    if (bars_)
      Draw();
    else if (json_)
      out_.Put(StateJson(e, state_, Timestamp(true), BootSeconds() - started_) + '\n');
    else
      out_.Put(Timestamp(false) + ' ' + StateLine(e, state_) + '\n');
  }

  void Draw() {
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
    out_.PutFrame(out + "\x1b[J");
  }

  std::mutex mu_;
  MeterState state_;
  std::string port_, device_;
  int ended_fd_;
  bool bars_, json_;
  Output& out_;
  bool utf8_ = false;
  OsError ended_;
  const double started_ = BootSeconds();
};

}  // namespace

int MonitorMain(int argc, char** argv) {
  static const Option kOptions[] = {{"bars", nullptr}, {"json", nullptr, 'j'}};
  static const char* const kOperands[] = {"PORT"};
  CommandLine cl("monitor", kMonitorHelp);
  if (!cl.Parse(argc, argv, kOptions, kOperands, 0)) return cl.status();
  if (cl.Has("bars") && cl.Has("json")) return cl.UsageError("--bars and --json go one at a time");
  const Shown shown = cl.Has("bars") ? Shown::kBars : cl.Has("json") ? Shown::kJson : Shown::kLines;
  const std::string port = cl.operands().empty() ? "/dev/ttyS0" : cl.operands()[0];
  const std::string device = PortDevice(port);

  // Signals arrive through a descriptor on the main thread only; the reader and the writer
  // inherit the mask.
  const int sig_fd = StopSignals({SIGWINCH});
  int ended[2];
  if (sig_fd < 0 || pipe2(ended, O_CLOEXEC) != 0)
    return Fail("monitor", "cannot set up signal handling", 1);

  Output out;
  if (out.failed_fd() < 0) return Fail("monitor", "cannot set up the output", 1);
  Monitor monitor(port, device, ended[1], shown, out);
  SerialLink link;
  {
    std::lock_guard<std::mutex> hold(monitor.lock());
    if (!OpenSerialLink(link, device.c_str(), monitor)) return 1;  // the owner said why
    monitor.Start();
  }

  int status = 0;
  long long next_tick = MonotonicMs() + kTickMs;
  for (;;) {
    const long long wait = next_tick - MonotonicMs();
    pollfd fds[3] = {{sig_fd, POLLIN, 0}, {ended[0], POLLIN, 0}, {out.failed_fd(), POLLIN, 0}};
    const int n = poll(fds, 3, wait > 0 ? static_cast<int>(wait) : 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      status = Fail("monitor", std::string("cannot wait for the port: ") + std::strerror(errno), 1);
      break;
    }
    if (fds[2].revents) {
      status = Fail("monitor", std::string("cannot write to standard output: ") +
                                   std::strerror(out.error()), 1);
      break;
    }
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
  if (!CloseSerialLink(link))
    status = Fail("monitor", "cannot restore the settings of " + device + ": " + link.m_error.text, 1);
  return status;
}

}  // namespace tovmir
