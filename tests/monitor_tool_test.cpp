// tovmir-tool monitor on a pty, as a user runs it.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>

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

TEST(MonitorTool, EndsOnSigintAndRestoresTheLine) {
  Pty pty;
  Child monitor({TOVMIR_TOOL, "monitor", pty.name()});
  std::string line;
  ASSERT_TRUE(monitor.ReadLine(line));
  monitor.Signal(SIGINT);
  EXPECT_EQ(monitor.Wait(), 0);
  // The port is free again.
  Child again({TOVMIR_TOOL, "monitor", pty.name()});
  ASSERT_TRUE(again.ReadLine(line)) << again.Errors();
  again.Signal(SIGTERM);
  EXPECT_EQ(again.Wait(), 0);
}

TEST(MonitorTool, APortThatCannotBeOpened) {
  const ProcessResult r = RunProcess({TOVMIR_TOOL, "monitor", "/dev/tovmir-missing"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("/dev/tovmir-missingが開けません\n", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;

  const ProcessResult com = RunProcess({TOVMIR_TOOL, "monitor", "COM99"});
  EXPECT_EQ(com.status, 1);
  EXPECT_EQ(com.err.rfind("COM99が開けません\n/dev/ttyS98: ", 0), 0u) << com.err;
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
