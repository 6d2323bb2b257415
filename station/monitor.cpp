// tovmir-tool monitor: the meter's logic on real serial ports, printed as text, written to a
// log, and served to Prometheus; the unattended station's program.
//
// Threads, and one byte's way:
//  - each port is a meter session (session/meter_session.h), whose reader thread decodes
//    its bytes under the session's lock and hands each change to PortMonitor, which queues
//    what is to be printed;
//  - the main thread waits for signals, ticks every session every 500 ms (its watchdog, and
//    once a second an attempt at a port that is not open), and takes a port's failure;
//  - standard output and the log are written by threads of their own (output.h), so that an
//    output that does not keep up holds up neither a reader nor the signals;
//  - the metrics endpoint's thread reads each port's fields, which are atomics, without any
//    lock: a scrape never makes a byte wait.
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/tool.h"
#include "events/state_line.h"
#include "platform/port_names.h"
#include "platform/stop_signals.h"
#include "platform/text.h"
#include "render/term_view.h"
#include "session/meter_session.h"
#include "station/clock.h"
#include "station/gps.h"
#include "station/log_file.h"
#include "station/metrics.h"
#include "station/metrics_server.h"
#include "station/monitor.h"
#include "station/output.h"
#include "station/terminal.h"
#include "version.h"

namespace tovmir {
namespace {

const char kMonitorHelp[] =
    "usage: tovmir-tool monitor [--bars | -j|--json] [--log FILE] [--listen [ADDRESS:]PORT]\n"
    "                           [--no-reconnect] [--gps[=HOST:PORT]] [PORT...]\n"
    "\n"
    "Listens to handsets on serial ports (PORT: a device path, or COMn for /dev/ttyS(n-1);\n"
    "without one, the first USB serial adapter found, else /dev/ttyS0) at 600 baud 8N1, runs\n"
    "the meter's logic with its 500 ms watchdog and prints a timestamped line, in replay's\n"
    "form, for the start and for every byte or tick that changed what the meter shows; with\n"
    "several ports, each line names its port. A port that cannot be opened, or fails while\n"
    "open (an adapter pulled out), is tried again every second, under the same path or the\n"
    "same /dev/serial/by-id name, and standard error says so. Ctrl-C or SIGTERM ends it.\n"
    "\n"
    "--bars draws the meter itself in the terminal instead (one port), redrawn in place on\n"
    "every change and sized to the terminal: the antenna, the 15 bars and the status line\n"
    "(plain ASCII when the locale is not UTF-8).\n"
    "\n"
    "-j, --json prints the same as JSON Lines, for scripts and 'tovmir-tool plot':\n"
    "  {\"time\":\"2026-12-09T10:15:30.125+01:00\",\"elapsed\":12.345,\"port\":\"/dev/ttyUSB0\",\n"
    "   \"event\":\"byte\",\"byte\":\"C7\",\"level\":7,\"antenna\":\"filled\",\"net\":\"1234\",\n"
    "   \"receiving\":true,\"start\":true,\"status\":\"...\",\"redraws\":1}\n"
    "time is RFC 3339 with milliseconds; elapsed the seconds since monitor started, on a\n"
    "clock that nobody sets (durations hold when the computer's clock is set); event init,\n"
    "byte, tick, lost (the port failed; with its \"reason\") or open (the port opened, the\n"
    "first time or again); net null when not known. Standard error says each open too.\n"
    "\n"
    "--log FILE appends the JSON Lines to FILE (made with mode 0640), each line whole; SIGHUP\n"
    "opens FILE again (after logrotate moved it). A full disk is said on standard error and\n"
    "monitoring goes on; the log goes on when it can, and the lines it lost are counted and\n"
    "said then and at the end. A FIFO that nobody reads is refused.\n"
    "--listen [ADDRESS:]PORT serves Prometheus' metrics at http://ADDRESS:PORT/metrics;\n"
    "without ADDRESS on 127.0.0.1 only (the endpoint has no access control: give 0.0.0.0 or\n"
    "an address of the network it should be reached from).\n"
    "--no-reconnect ends at once (exit status 1) when a port cannot be opened or fails.\n"
    "--gps[=HOST:PORT] reads positions from a running gpsd (localhost:2947 unless named),\n"
    "for a survey ('tovmir-tool map' draws it): every line then carries \"fix\" (none, 2d,\n"
    "3d), and with a fix \"lat\" and \"lon\" (WGS 84 degrees), \"alt\" (metres, when known),\n"
    "\"error\" (the horizontal error's estimate, metres), \"fix_age\" (seconds) and\n"
    "\"gps_time\" (the fix's own time); a new position is a line of its own (event\n"
    "position). A fix older than 3 s is none. gpsd absent, stopped or back is said once\n"
    "(event gps) and tried again every 3 s; monitoring goes on without it.\n"
    "\n"
    "-h, --help shows this, -V, --version the version.\n"
    "\n"
    "Exit status: 0 ended by a signal; 1 a port could not be opened or failed (with\n"
    "--no-reconnect), its settings could not be restored, standard output, the log or the\n"
    "listening address could not be opened or written; 2 bad arguments.\n";

// How long the end waits for queued output to be written before leaving it.
constexpr int kDrainMs = 50;

// What standard output shows: lines in replay's form, the same as JSON Lines, or the meter
// drawn in the terminal.
enum class Shown { kLines, kJson, kBars };

// Where the events go: standard output in the form asked for, and the log as JSON Lines.
// Called with the port's lock held, so that an event's line and its state stay together;
// it only queues text.
class Printer final {
 public:
  // gps: where positions come from, if they are asked for.
  Printer(Shown shown, bool several, Output& out, Output* log, const GpsSource* gps)
      : shown_(shown), several_(several), out_(out), log_(log), gps_(gps) {
    if (shown_ != Shown::kBars) return;
    setlocale(LC_CTYPE, "");
    utf8_ = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  }

  // reason: why the port was lost (kLost), what became of gpsd (kGps).
  void Event(const std::string& port, const MeterEvent& e, const MeterState& s,
             const std::string& reason = {}) {
    const bool said = e.kind == MeterEvent::kLost || e.kind == MeterEvent::kOpen ||
                      e.kind == MeterEvent::kGps;  // on standard error
    const Position position = gps_ ? gps_->Latest() : Position{};
    const Position* where = gps_ ? &position : nullptr;
    std::string json;
    if (shown_ == Shown::kJson || log_)
      json =
          StateJson(e, s, {Timestamp(true), BootSeconds() - started_, port, reason, where}) + '\n';
    if (log_) log_->Put(json);
    if (shown_ == Shown::kBars)
      Frame(s);
    else if (shown_ == Shown::kJson)
      out_.Put(json);
    else if (!said)
      out_.Put(Timestamp(false) + ' ' + (several_ ? port + ' ' : "") + StateLine(e, s, where) +
               '\n');
  }

  void Frame(const MeterState& s) {
    int columns, rows;
    TerminalSize(&columns, &rows);
    out_.PutFrame(FrameInPlace(RenderMeterText(s, columns, rows - 1, utf8_)));
  }

 private:
  Shown shown_;
  bool several_;
  Output& out_;
  Output* log_;
  const GpsSource* gps_;
  bool utf8_ = false;
  const double started_ = BootSeconds();
};

// One port: its meter session, and the front end it is to the session: every change, open
// and loss printed (and logged); its failures handed to the main thread through a pipe.
class PortMonitor final : private SessionFrontEnd {
 public:
  PortMonitor(std::string port, std::uint8_t index, int ended_fd, bool reconnect, Printer& printer)
      : session_(std::move(port), *this, reconnect),
        index_(index),
        ended_fd_(ended_fd),
        printer_(printer) {}

  // Main thread. The meter's start, then the first attempt at the port; true when open.
  bool Start() {
    session_.WithState(
        [&](const MeterState& s) { printer_.Event(port(), {MeterEvent::kInit}, s); });
    return session_.Start();
  }
  void Tick() { session_.Tick(); }
  // Once the pipe said that the port failed.
  void TakeFailure() { session_.TakeFailure(); }
  bool Close(std::string* error) { return session_.Close(error); }
  void Redraw() {
    session_.WithState([&](const MeterState& s) { printer_.Frame(s); });
  }
  // Any thread: an event of the station's (kGps, kPosition) with the meter as it is.
  void Event(MeterEvent::Kind kind, const std::string& reason = {}) {
    session_.WithState([&](const MeterState& s) { printer_.Event(port(), {kind}, s, reason); });
  }

  // Any thread, without a lock: every field is an atomic.
  PortMetrics Metrics() const {
    const MeterState& s = session_.state();
    const SessionCounters c = session_.counters();
    return {port(),     c.up,    s.m_nLevel, !s.m_bHollow, s.m_bReceiving != 0, s.m_bStartSeen != 0,
            s.m_nNetNo, c.bytes, c.silences, c.reopens,    c.last_byte};
  }

  const std::string& port() const { return session_.port(); }
  const std::string& why_lost() const { return why_lost_; }

 private:
  void RedrawNeeded(const MeterEvent& e, const MeterState& s) override {
    printer_.Event(port(), e, s);
  }
  void PortFailed() override {
    const ssize_t written = write(ended_fd_, &index_, 1);
    (void)written;  // the pipe has room for a byte per port
  }
  // The meter's own words about its port, as they are; that all is well, as a note.
  void Say(const std::string& words, bool trouble) override {
    if (trouble)
      std::cerr << words << std::endl;
    else
      Note("monitor", words);
  }
  void Opened(const MeterState& s, bool) override {
    printer_.Event(port(), {MeterEvent::kOpen}, s);
  }
  void Lost(const MeterState& s, const std::string& why) override {
    why_lost_ = why;
    printer_.Event(port(), {MeterEvent::kLost}, s, why);
  }

  MeterSession session_;
  std::uint8_t index_;
  int ended_fd_;
  Printer& printer_;
  std::string why_lost_;
};

// The positions' news, for every port's lines: a new position, what became of gpsd.
class GpsNews final : public GpsSource::Listener {
 public:
  explicit GpsNews(const std::vector<std::unique_ptr<PortMonitor>>& ports) : ports_(ports) {}

 private:
  void NewPosition() override {
    for (const auto& p : ports_) p->Event(MeterEvent::kPosition);
  }
  void GpsSaid(const std::string& what) override {
    Note("monitor", what);
    for (const auto& p : ports_) p->Event(MeterEvent::kGps, what);
  }

  const std::vector<std::unique_ptr<PortMonitor>>& ports_;
};

struct Options {
  Shown shown = Shown::kLines;
  std::vector<std::string> ports;
  std::string log, listen;
  bool reconnect = true;
  bool gps = false;
  std::string gps_host, gps_port;
};

// The command line; false with cl.status() when the command is done.
bool ParseOptions(CommandLine& cl, int argc, char** argv, Options* o) {
  static const Option kOptions[] = {{"bars", nullptr},         {"json", nullptr, 'j'},
                                    {"log", "FILE"},           {"listen", "[ADDRESS:]PORT"},
                                    {"no-reconnect", nullptr}, {"gps", "HOST:PORT", 0, true}};
  static const char* const kOperands[] = {"PORT..."};
  if (!cl.Parse(argc, argv, kOptions, kOperands, 0)) return false;
  if (cl.Has("bars") && cl.Has("json"))
    return cl.UsageError("--bars and --json go one at a time"), false;
  o->shown = cl.Has("bars") ? Shown::kBars : cl.Has("json") ? Shown::kJson : Shown::kLines;
  o->ports = cl.operands().empty() ? std::vector<std::string>{DefaultPort()} : cl.operands();
  if (o->shown == Shown::kBars && o->ports.size() > 1)
    return cl.UsageError("--bars draws the meter of one port"), false;
  if (o->ports.size() > 64) return cl.UsageError("at most 64 ports"), false;
  std::set<std::string> devices;
  for (const std::string& port : o->ports) {
    if (port.empty()) return cl.UsageError("a port's name is empty"), false;
    if (!devices.insert(PortDevice(port)).second)
      return cl.UsageError("the port '" + port + "' is named twice"), false;
  }
  o->log = cl.Value("log");
  o->listen = cl.Value("listen");
  std::string host;
  int port;
  if (cl.Has("listen") && !ParseListenAddress(o->listen, &host, &port))
    return cl.UsageError("--listen takes [ADDRESS:]PORT (9873, 0.0.0.0:9873, [::1]:9873), not '" +
                         o->listen + "'"),
           false;
  o->reconnect = !cl.Has("no-reconnect");
  o->gps = cl.Has("gps");
  if (o->gps && !ParseGpsAddress(cl.Value("gps"), &o->gps_host, &o->gps_port))
    return cl.UsageError("--gps takes HOST:PORT (localhost:2947, :2948, [::1]:2947), not '" +
                         cl.Value("gps") + "'"),
           false;
  return true;
}

int Run(const Options& o) {
  // The log first, while the stop signals still end the process as they do by default:
  // an open that does not come back (a hung network file system) cannot hold us then.
  std::shared_ptr<LogFile> log_file;  // shared with the log's writer, which may outlive us
  if (!o.log.empty()) {
    log_file = std::make_shared<LogFile>(o.log);
    std::string error;
    if (!log_file->Open(&error)) return Fail("monitor", error, 1);
  }
  // Signals arrive through a descriptor on the main thread only; every thread started from
  // here on inherits the mask. A log past a size limit fails its write instead of ending us.
  const int sig_fd = StopSignals({SIGWINCH});
  signal(SIGXFSZ, SIG_IGN);
  int ended[2];
  if (sig_fd < 0 || pipe2(ended, O_CLOEXEC) != 0)
    return Fail("monitor", "cannot set up signal handling", 1);

  Output out(WriteToStdout, Output::OnError::kStop);
  if (out.failed_fd() < 0) return Fail("monitor", "cannot set up the output", 1);
  std::unique_ptr<Output> log;
  if (log_file)
    log = std::make_unique<Output>(
        [log_file](const std::string& line) { return log_file->Write(line); },
        Output::OnError::kGoOn);
  std::vector<std::unique_ptr<PortMonitor>> ports;
  GpsNews news(ports);
  std::unique_ptr<GpsSource> gps;
  if (o.gps) gps = std::make_unique<GpsSource>(o.gps_host, o.gps_port, news);
  Printer printer(o.shown, o.ports.size() > 1, out, log.get(), gps.get());
  if (o.shown == Shown::kBars) out.Put(kHideCursorAndClear);

  int status = 0;
  for (const std::string& name : o.ports) {
    ports.push_back(std::make_unique<PortMonitor>(name, static_cast<std::uint8_t>(ports.size()),
                                                  ended[1], o.reconnect, printer));
    if (!ports.back()->Start() && !o.reconnect) {
      status = 1;
      break;
    }
  }
  // Positions from the first port's start on: every port is there to be told of them.
  if (gps && !status) {
    std::string error;
    if (!gps->Start(&error)) status = Fail("monitor", error, 1);
  }
  MetricsServer server;
  if (!status && !o.listen.empty()) {
    std::string where, error;
    auto render = [&ports, &gps] {
      std::vector<PortMetrics> all;
      for (const auto& p : ports) all.push_back(p->Metrics());
      const Position position = gps ? gps->Latest() : Position{};
      return MetricsText(all, TOVMIR_VERSION, gps ? &position : nullptr);
    };
    if (server.Start(o.listen, render, &where, &error))
      Note("monitor", "metrics at http://" + where + "/metrics");
    else
      status = Fail("monitor", error, 1);
  }

  // Every session's tick (its watchdog, its retries), on one clock.
  for (long long next_tick = MonotonicMs() + kWatchdogMs; !status;) {
    const long long wait = next_tick - MonotonicMs();
    pollfd fds[3] = {{sig_fd, POLLIN, 0}, {ended[0], POLLIN, 0}, {out.failed_fd(), POLLIN, 0}};
    const int n = poll(fds, 3, wait > 0 ? static_cast<int>(wait) : 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      status = Fail("monitor", std::string("cannot wait for the port: ") + std::strerror(errno), 1);
      break;
    }
    if (fds[2].revents) {
      status =
          Fail("monitor",
               std::string("cannot write to standard output: ") + std::strerror(out.error()), 1);
      break;
    }
    if (fds[0].revents) {
      signalfd_siginfo info;
      if (read(sig_fd, &info, sizeof info) != sizeof info) continue;
      if (info.ssi_signo == SIGWINCH) {
        if (o.shown == Shown::kBars) ports[0]->Redraw();
        continue;
      }
      if (info.ssi_signo == SIGHUP && log) {  // logrotate moved the log away
        log_file->RequestReopen();
        log->Wake();
        continue;
      }
      break;
    }
    if (fds[1].revents) {
      std::uint8_t which;
      if (read(ended[0], &which, 1) == 1 && which < ports.size()) {
        PortMonitor& p = *ports[which];
        p.TakeFailure();
        if (!o.reconnect) {
          status = Fail("monitor", p.port() + " failed: " + p.why_lost(), 1);
          break;
        }
      }
      continue;
    }
    if (MonotonicMs() >= next_tick) {
      for (const auto& p : ports) p->Tick();
      next_tick += kWatchdogMs;
    }
  }

  server.Stop();         // before the ports it reads go
  if (gps) gps->Stop();  // and the one that tells them of positions
  for (const auto& p : ports) {
    std::string error;
    if (!p->Close(&error)) status = Fail("monitor", error, 1);
  }
  ports.clear();
  // The terminal's cursor back, as the last output, and a moment for the outputs to be
  // written; what cannot be written by then is left, so that the end is not held up.
  if (o.shown == Shown::kBars) out.Put(kShowCursor);
  out.Drain(kDrainMs);
  if (out.dropped())
    Note("monitor",
         std::to_string(out.dropped()) + " lines were dropped: the output did not keep up");
  if (log) {
    log->Drain(kDrainMs);
    // Lost to a failed write, dropped for want of room, or not written by now.
    const long lost = log_file->lost() + log->dropped() + log->unwritten();
    if (lost)
      status =
          Fail("monitor", std::to_string(lost) + " lines never reached the log '" + o.log + "'", 1);
  }
  return status;
}

}  // namespace

int MonitorMain(int argc, char** argv) {
  CommandLine cl("monitor", kMonitorHelp);
  Options options;
  if (!ParseOptions(cl, argc, argv, &options)) return cl.status();
  return Run(options);
}

}  // namespace tovmir
