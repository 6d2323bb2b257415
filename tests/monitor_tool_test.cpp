// tovmir-tool monitor on a pty, as a user runs it.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <iostream>
#include <sstream>

#include "tests/support/process.h"

namespace tovmir::test {
namespace {

class Pty {
 public:
  Pty() {
    char name[128];
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
    name_ = name;
  }
  ~Pty() {
    close(master_);
    close(slave_);
  }
  const std::string& name() const { return name_; }
  void Write(const std::string& s) { ASSERT_EQ(write(master_, s.data(), s.size()), ssize_t(s.size())); }
  // Whether the port is still marked for one opener only.
  bool Exclusive() const {
    int on = -1;
    EXPECT_EQ(ioctl(slave_, TIOCGEXCL, &on), 0);
    return on != 0;
  }
  void GiveTo(uid_t uid) { EXPECT_EQ(fchown(slave_, uid, static_cast<gid_t>(-1)), 0); }
  // Writes what the line takes now, without waiting for a reader that may be stuck.
  void Offer(const std::string& s) {
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    const ssize_t ignored = write(master_, s.data(), s.size());
    (void)ignored;
  }

 private:
  int master_, slave_;
  std::string name_;
};

// The line after the timestamp ("YYYY-MM-DD HH:MM:SS.mmm ").
std::string Untimed(const std::string& line) { return line.size() > 24 ? line.substr(24) : line; }

TEST(MonitorTool, PrintsTheTokensThatChangeTheMeterAndEndsOnSigterm) {
  Pty pty;
  Child monitor({TOVMIR_TOOL, "monitor", pty.name()});
  std::string line;
  ASSERT_TRUE(monitor.ReadLine(line)) << monitor.Errors();
  EXPECT_EQ(Untimed(line).substr(0, 20), "init level=13 shown=");
  EXPECT_EQ(line[4], '-');
  EXPECT_EQ(line[23], ' ');

  pty.Write("\xA3\xC7\xC7\xAD\x01\x02\x03\x04");  // the second C7 changes nothing visible
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_EQ(Untimed(line).substr(0, 16), "byte A3 level=0 ");
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_EQ(Untimed(line).substr(0, 16), "byte C7 level=7 ");
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_EQ(Untimed(line).substr(0, 8), "byte 04 ");
  EXPECT_NE(line.find(" net=4660 "), std::string::npos);
  EXPECT_NE(line.find("status=網番号:1234"), std::string::npos);

  // Two seconds of silence: the watchdog's first timeout.
  ASSERT_TRUE(monitor.ReadLine(line, 4000));
  EXPECT_EQ(Untimed(line).substr(0, 15), "tick level=8 sh");
  EXPECT_NE(line.find("status=携帯の電源が入ってません"), std::string::npos);

  const auto start = std::chrono::steady_clock::now();
  monitor.Signal(SIGTERM);
  EXPECT_EQ(monitor.Wait(), 0);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(ms, 100);
}

TEST(MonitorTool, JsonLinesWithTheTimeAndMonitorsOwnClock) {
  Pty pty;
  Child monitor({TOVMIR_TOOL, "monitor", "--json", pty.name()});
  std::string init, start;
  ASSERT_TRUE(monitor.ReadLine(init)) << monitor.Errors();
  pty.Write("\xA3");
  ASSERT_TRUE(monitor.ReadLine(start));
  const std::regex iso(
      R"(\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d","elapsed":(\d+\.\d{3}),.*)");
  std::smatch first, second;
  ASSERT_TRUE(std::regex_match(init, first, iso)) << init;
  ASSERT_TRUE(std::regex_match(start, second, iso)) << start;
  EXPECT_LE(std::stod(first[1]), std::stod(second[1]));
  EXPECT_NE(init.find(R"("event":"init","level":13,"antenna":"filled","net":null,"receiving":false)"),
            std::string::npos) << init;
  EXPECT_NE(start.find(R"("event":"byte","byte":"A3","level":0,"antenna":"hollow","net":null,)"
                       R"("receiving":true,"start":true,"status":"網番号:不明","redraws":1})"),
            std::string::npos) << start;
  monitor.Signal(SIGTERM);
  EXPECT_EQ(monitor.Wait(), 0);
}

// The command line of a monitor run as a user other than root: as "nobody" when the test
// runs as root, from a copy of the tool that user may run.
std::vector<std::string> AsAnotherUser(const std::vector<std::string>& args, Pty& pty,
                                       bool give_port = true) {
  if (geteuid() != 0) return args;
  const std::string tool = TempFile("tool-for-nobody", "");
  std::ifstream in(TOVMIR_TOOL, std::ios::binary);
  std::ofstream(tool, std::ios::binary) << in.rdbuf();
  EXPECT_EQ(chmod(tool.c_str(), 0755), 0);
  if (give_port) pty.GiveTo(65534);
  std::vector<std::string> argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                   "--clear-groups", tool};
  argv.insert(argv.end(), args.begin() + 1, args.end());
  return argv;
}

TEST(MonitorTool, EndsOnSigintAndLeavesThePortFreeForAnyone) {
  Pty pty;
  Child monitor({TOVMIR_TOOL, "monitor", pty.name()});
  std::string line;
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_TRUE(pty.Exclusive());
  monitor.Signal(SIGINT);
  EXPECT_EQ(monitor.Wait(), 0);
  // Free again, and not only for root, whom the exclusive mark does not stop.
  EXPECT_FALSE(pty.Exclusive());
  Child again(AsAnotherUser({TOVMIR_TOOL, "monitor", pty.name()}, pty));
  ASSERT_TRUE(again.ReadLine(line)) << again.Errors();
  again.Signal(SIGTERM);
  EXPECT_EQ(again.Wait(), 0);
}

TEST(MonitorTool, EndsAtOnceOnSigtermWhileNobodyReadsItsOutput) {
  Pty pty;
  const std::string fifo = TempFile("unread.fifo", "");
  unlink(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int unread = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // held open, never read
  ASSERT_GE(unread, 0);
  Child monitor({"/bin/sh", "-c", "exec " TOVMIR_TOOL " monitor " + pty.name() + " > " + fifo});
  auto pending = [&] {
    int n = 0;
    ioctl(unread, FIONREAD, &n);
    return n;
  };
  // Level changes, a line each, until the pipe is full to its last page (the output's
  // writes are shorter than a page), and then more than that page holds.
  const int full = fcntl(unread, F_GETPIPE_SZ) - 4096;
  std::string changes;
  for (int i = 0; i < 30; ++i) changes += "\xC1\xC2";
  for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       pending() < full && std::chrono::steady_clock::now() < deadline;)
    pty.Offer(changes);
  ASSERT_GE(pending(), full);
  pty.Offer(changes);

  const auto start = std::chrono::steady_clock::now();
  monitor.Signal(SIGTERM);
  EXPECT_EQ(monitor.Wait(2000), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_FALSE(pty.Exclusive());
  close(unread);
  unlink(fifo.c_str());
}

// The sanitizers' runtime needs descriptors of its own for its checks, so a tool built
// with them that has none left fails in those checks first.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kSanitizedTool = true;
#else
constexpr bool kSanitizedTool = false;
#endif

TEST(MonitorTool, FailuresToWaitOrToWriteAreErrorsWithTheirReason) {
  if (kSanitizedTool) {
    std::cout << "[ NOTE     ] the failed wait is tried in the plain build only\n";
  } else {
    Pty pty;
    Child monitor({TOVMIR_TOOL, "monitor", pty.name()});
    std::string line;
    ASSERT_TRUE(monitor.ReadLine(line));
    // No descriptor may be waited on any more: the main loop's next wait fails (the
    // reader's is under way and goes on).
    const rlimit none = {1, 1};
    ASSERT_EQ(prlimit(monitor.pid(), RLIMIT_NOFILE, &none, nullptr), 0);
    EXPECT_EQ(monitor.Wait(3000), 1);
    const std::string err = monitor.Errors();
    EXPECT_NE(err.find("cannot wait for the port: Invalid argument"), std::string::npos) << err;
  }

  Pty other;
  const ProcessResult full = RunProcess(
      {"/bin/sh", "-c", "exec " TOVMIR_TOOL " monitor " + other.name() + " > /dev/full"});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("cannot write to standard output: No space left on device"),
            std::string::npos) << full.err;
}

TEST(MonitorTool, APortThatCannotBeOpened) {
  const ProcessResult r = RunProcess({TOVMIR_TOOL, "monitor", "/dev/tovmir-missing"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("/dev/tovmir-missingが開けません\n", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;

  for (const std::string name : {"COM99", "com99"}) {
    const ProcessResult com = RunProcess({TOVMIR_TOOL, "monitor", name});
    EXPECT_EQ(com.status, 1);
    EXPECT_EQ(com.err.rfind(name + "が開けません\n/dev/ttyS98: ", 0), 0u) << com.err;
  }
}

// A user not in the group that owns the device is told which group that is and how to join
// it, read from the device, not assumed.
TEST(MonitorTool, APortOfAGroupTheUserIsNotInSaysWhatToDo) {
  const group* owner = getgrnam("dialout");
  if (geteuid() != 0 || !owner) {
    std::cout << "[ NOTE     ] not tried: it takes root to give a port to the group dialout "
                 "and open it as another user\n";
    return;
  }
  Pty pty;
  ASSERT_EQ(chown(pty.name().c_str(), 0, owner->gr_gid), 0);
  ASSERT_EQ(chmod(pty.name().c_str(), 0660), 0);
  const ProcessResult r = RunProcess(AsAnotherUser({TOVMIR_TOOL, "monitor", pty.name()}, pty, false));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(pty.name() + ": Permission denied\n" + pty.name() +
                       " belongs to the group dialout, which you are not in. To join it: sudo "
                       "usermod -aG dialout $USER, then log out and in again."),
            std::string::npos) << r.err;
}

TEST(MonitorTool, APortInUseCannotBeOpenedTwice) {
  Pty pty;
  Child first({TOVMIR_TOOL, "monitor", pty.name()});
  std::string line;
  ASSERT_TRUE(first.ReadLine(line));
  const ProcessResult second = RunProcess({TOVMIR_TOOL, "monitor", pty.name()});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("が開けません"), std::string::npos);
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
}

TEST(MonitorTool, BadArguments) {
  EXPECT_EQ(RunProcess({TOVMIR_TOOL, "monitor", "a", "b"}).status, 2);
  EXPECT_EQ(RunProcess({TOVMIR_TOOL, "monitor", "--bogus"}).status, 2);
  EXPECT_EQ(RunProcess({TOVMIR_TOOL, "monitor", "--help"}).status, 0);
}

}  // namespace
}  // namespace tovmir::test
