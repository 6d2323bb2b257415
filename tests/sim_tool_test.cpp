// tovmir-tool sim as the handset for the meter's tools, end to end on ptys.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "receiver/receiver.h"
#include "render/term_view.h"
#include "tests/support/process.h"

namespace tovmir::test {
namespace {

using Clock = std::chrono::steady_clock;

// Reads from a device until `count` bytes came or the deadline passed, noting when each
// byte arrived.
std::vector<Clock::time_point> ReadArrivals(const std::string& device, size_t count,
                                            std::string* bytes, int timeout_ms) {
  const int fd = open(device.c_str(), O_RDONLY | O_NOCTTY);
  EXPECT_GE(fd, 0) << device;
  std::vector<Clock::time_point> arrivals;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (fd >= 0 && arrivals.size() < count && Clock::now() < deadline) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buf[64];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    const auto now = Clock::now();
    for (ssize_t i = 0; i < n; ++i) arrivals.push_back(now);
    bytes->append(buf, static_cast<size_t>(n));
  }
  if (fd >= 0) close(fd);
  return arrivals;
}

std::string ScriptOf(int bytes) {
  std::string script;
  for (int i = 0; i < bytes; ++i) script += (i % 2 ? "c5 " : "c6 ");
  return TempFile("pacing.txt", script + "\n");
}

TEST(SimTool, PacesBytesLikeA600BaudLine) {
  Child sim({TOVMIR_TOOL, "sim", ScriptOf(320)});
  std::string device;
  ASSERT_TRUE(sim.ReadLine(device)) << sim.Errors();
  std::string bytes;
  const auto at = ReadArrivals(device, 320, &bytes, WaitMs());
  ASSERT_EQ(at.size(), 320u);
  EXPECT_EQ(bytes.substr(0, 4), "\xC6\xC5\xC6\xC5");

  // Never faster: byte k never arrives before k/60 s after the first one (a late reader
  // only makes arrivals later).
  for (size_t k = 1; k < at.size(); ++k) {
    const double since = std::chrono::duration<double>(at[k] - at[0]).count();
    ASSERT_GE(since, k / 60.0 - 0.004) << "byte " << k;
  }
  // Over 5 s, within 5 % of 60 bytes a second.
  size_t in_five = 0;
  while (in_five < at.size() && at[in_five] - at[0] < std::chrono::seconds(5)) ++in_five;
  EXPECT_GE(in_five, 285u);
  EXPECT_LE(in_five, 301u);
  EXPECT_EQ(sim.Wait(), 0);
}

TEST(SimTool, ScriptedScenarioThroughMonitorMatchesReplay) {
  // No silence long enough for the watchdog, so every line is the bytes' own doing.
  const std::string scenario =
      "a3 81 c3   # a fresh start, hollow antenna, level 3\n"
      "wait 0.2 ad 01 02 0f c7 0e c7 80\n"
      "wait 0.3 cf cf 90 ad 0a 0b 0c 0d a3 c0 80\n";
  const std::string path = TempFile("scenario.txt", scenario);
  Child sim({TOVMIR_TOOL, "sim", path});
  std::string device;
  ASSERT_TRUE(sim.ReadLine(device));
  Child monitor({TOVMIR_TOOL, "monitor", device});

  std::string replay_input = scenario;
  for (size_t at; (at = replay_input.find("wait ")) != std::string::npos;)
    replay_input.erase(at, replay_input.find(' ', at + 5) - at);
  std::vector<std::string> expected;
  for (const std::string& line : Lines(RunProcess({TOVMIR_TOOL, "replay"}, replay_input).out))
    if (line.rfind("init ", 0) == 0 || line.find(" redraws=0 ") == std::string::npos)
      expected.push_back(line);
  ASSERT_GT(expected.size(), 8u);

  for (const std::string& want : expected) {
    std::string line;
    ASSERT_TRUE(monitor.ReadLine(line)) << "waiting for: " << want;
    EXPECT_EQ(line.substr(24), want);  // after the timestamp
  }
  EXPECT_EQ(sim.Wait(), 0);
  monitor.Signal(SIGTERM);
  monitor.Wait();
}

TEST(SimTool, BadScriptsAndArguments) {
  const ProcessResult bad = RunProcess({TOVMIR_TOOL, "sim", "-"}, "a3 c5\nwait\n");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("line 2"), std::string::npos) << bad.err;
  EXPECT_TRUE(bad.out.empty()) << "nothing is opened for a bad script";
  for (const char* script : {"t\n", "wait -1\n", "wait x\n", "c5 zz\n", "wait 0x10\n", "wait 1e3\n",
                             "wait inf\n", "wait .\n"})
    EXPECT_EQ(RunProcess({TOVMIR_TOOL, "sim", "-"}, script).status, 2) << script;
  EXPECT_EQ(RunProcess({TOVMIR_TOOL, "sim", "/nonexistent/script"}).status, 1);
  EXPECT_EQ(RunProcess({TOVMIR_TOOL, "sim", "--seed", "x"}).status, 2);
  EXPECT_EQ(RunProcess({TOVMIR_TOOL, "sim", "--port", "", "-"}, "c5").status, 2);
  EXPECT_EQ(RunProcess({TOVMIR_TOOL, "sim", "--port", "/nonexistent/tty", "-"}, "c5").status, 1);

  // Scripts that cannot be read are errors, not empty scripts; an endless token ends it.
  const std::string dir = testing::TempDir();
  for (const auto& [script, why] :
       {std::pair{dir, "Is a directory"},
        std::pair{std::string("/proc/self/mem"), "Input/output error"}}) {
    const ProcessResult r = RunProcess({TOVMIR_TOOL, "sim", script});
    EXPECT_EQ(r.status, 1) << script;
    EXPECT_NE(r.err.find("cannot read '" + script + "': " + why), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << "nothing is opened for a script that cannot be read";
  }
  Child endless({TOVMIR_TOOL, "sim", "/dev/zero"});
  EXPECT_EQ(endless.Wait(), 2);
}

TEST(SimTool, PlaysAScriptFromStandardInput) {
  int master, slave;
  char name[128];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  const ProcessResult r = RunProcess({TOVMIR_TOOL, "sim", "--port", name, "-"}, "a3 # start\nc5\n");
  EXPECT_EQ(r.status, 0) << r.err;
  char got[4] = {};
  EXPECT_EQ(read(master, got, sizeof got), 2);
  EXPECT_EQ(std::string(got, 2), "\xA3\xC5");
  close(master);
  close(slave);
}

TEST(SimTool, WritesIntoAnExistingPortAndStopsAtOnceOnSigterm) {
  int master, slave;
  char name[128];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios before;
  ASSERT_EQ(tcgetattr(slave, &before), 0);
  Child sim({TOVMIR_TOOL, "sim", "--port", name, "--seed", "5"});
  std::string first;
  ASSERT_TRUE(sim.ReadLine(first));
  EXPECT_EQ(first, name);
  std::string bytes;
  // The endless session writes into the slave; its bytes come out of the master.
  const auto deadline = Clock::now() + std::chrono::milliseconds(WaitMs());
  while (bytes.size() < 7 && Clock::now() < deadline) {
    pollfd p = {master, POLLIN, 0};
    char buf[16];
    if (poll(&p, 1, 100) > 0)
      bytes.append(buf, static_cast<size_t>(std::max<ssize_t>(0, read(master, buf, sizeof buf))));
  }
  ASSERT_GE(bytes.size(), 7u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xA3);
  EXPECT_EQ(static_cast<unsigned char>(bytes[2]), 0xAD);
  const auto start = Clock::now();
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(Bound(500)));
  termios after;  // the device as it was before
  ASSERT_EQ(tcgetattr(slave, &after), 0);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  close(master);
  close(slave);
}

// The meter in a real terminal: tmux runs monitor --bars at a known size, and what it
// shows is the frame the renderer makes for the same bytes.
class Tmux {
 public:
  explicit Tmux(const std::string& command, const std::string& lang) {
    name_ = "tovmir-test-" + std::to_string(getpid());
    socket_ = TempFile("tmux.sock", "");
    unlink(socket_.c_str());
    Run({"new-session", "-d", "-s", name_, "-x", "80", "-y", "24",
         "env LANG=" + lang + " LC_ALL=" + lang + " " + command});
  }
  ~Tmux() { Run({"kill-server"}); }
  std::string Capture() { return Run({"capture-pane", "-p", "-t", name_}).out; }
  ProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/tmux", "-u", "-S", socket_});
    return RunProcess(args);
  }

 private:
  std::string name_, socket_;
};

std::string Trimmed(const std::string& text) {
  std::string out;
  for (std::string line : Lines(text)) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  while (out.size() > 1 && out[out.size() - 1] == '\n' && out[out.size() - 2] == '\n')
    out.pop_back();
  return out;
}

class NullSink : public RedrawSink {
 public:
  void RequestRedraw() override {}
};

void ExpectTerminalShows(const std::string& lang, bool utf8) {
  if (access("/usr/bin/tmux", X_OK) != 0) GTEST_SKIP() << "tmux is not installed";
  // The level byte again every half second changes nothing on the screen but keeps the
  // watchdog's silence from changing it before the pane is seen, however late that is.
  std::string bytes = "a3 81 c9 ad 01 02 03 04\n";
  for (int ms = 0; ms < WaitMs() + 5000; ms += 500) bytes += "wait 0.5 c9\n";
  const std::string script = TempFile("bars.txt", bytes);
  Child sim({TOVMIR_TOOL, "sim", script});
  std::string device;
  ASSERT_TRUE(sim.ReadLine(device));
  Tmux tmux(std::string(TOVMIR_TOOL) + " monitor --bars " + device, lang);

  MeterState state;
  NullSink sink;
  for (int b : {0xA3, 0x81, 0xC9, 0xAD, 1, 2, 3, 4})
    ReceiveByte(state, static_cast<std::uint8_t>(b), sink);
  const std::string want = Trimmed(RenderMeterText(state, 80, 23, utf8));
  std::string shown;
  for (auto deadline = Clock::now() + std::chrono::milliseconds(WaitMs());
       Clock::now() < deadline;) {
    shown = Trimmed(tmux.Capture());
    if (shown == want) break;
    usleep(20000);  // the pane has no change notification to wait on
  }
  EXPECT_EQ(shown, want);
  sim.Signal(SIGTERM);
  sim.Wait();
}

TEST(MonitorBars, DrawsTheMeterInTheTerminal) { ExpectTerminalShows("C.UTF-8", true); }
TEST(MonitorBars, FallsBackToAsciiOutsideUtf8) { ExpectTerminalShows("C", false); }

}  // namespace
}  // namespace tovmir::test
