// tovmir-tool monitor on a pty, as a user runs it.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tests/support/process.h"
#include "tests/support/pty.h"

namespace tovmir::test {
namespace {

// The line after the timestamp ("YYYY-MM-DD HH:MM:SS.mmm ").
std::string Untimed(const std::string& line) { return line.size() > 24 ? line.substr(24) : line; }

// Standard error's line for the port's open, waited for before the handset's bytes are
// written: until then the line is not set up (0x03 would be its interrupt character).
void ExpectOpen(Child& monitor, const std::string& port) {
  ASSERT_NE(monitor.WaitSaid(port + ": open"), "") << monitor.Errors();
}

TEST(MonitorTool, PrintsTheTokensThatChangeTheMeterAndEndsOnSigterm) {
  Pty pty;
  Child monitor({TOVMIR_TOOL, "monitor", pty.name()});
  std::string line;
  ASSERT_TRUE(monitor.ReadLine(line)) << monitor.Errors();
  EXPECT_EQ(Untimed(line).substr(0, 20), "init level=13 shown=");
  EXPECT_EQ(line[4], '-');
  EXPECT_EQ(line[23], ' ');
  ExpectOpen(monitor, pty.name());

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
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_EQ(Untimed(line).substr(0, 15), "tick level=8 sh");
  EXPECT_NE(line.find("status=携帯の電源が入ってません"), std::string::npos);

  const auto start = std::chrono::steady_clock::now();
  monitor.Signal(SIGTERM);
  EXPECT_EQ(monitor.Wait(), 0);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  EXPECT_LT(ms, Bound(100));
}

TEST(MonitorTool, JsonLinesWithTheTimeAndMonitorsOwnClock) {
  Pty pty;
  Child monitor({TOVMIR_TOOL, "monitor", "--json", pty.name()});
  std::string init, open, start;
  ASSERT_TRUE(monitor.ReadLine(init)) << monitor.Errors();
  ASSERT_TRUE(monitor.ReadLine(open));
  pty.Write("\xA3");
  ASSERT_TRUE(monitor.ReadLine(start));
  // {"time":"2026-12-09T10:15:30.125+09:00","elapsed":0.000,...: its elapsed seconds.
  auto elapsed = [](const std::string& line) {
    int y, mo, d, h, mi, s, ms, zh, zm, n = 0;
    char sign;
    double seconds = -1;
    const int got = std::sscanf(line.c_str(),
                                R"({"time":"%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d:%2d","elapsed":%lf%n)",
                                &y, &mo, &d, &h, &mi, &s, &ms, &sign, &zh, &zm, &seconds, &n);
    const size_t dot = line.find('.', line.find("elapsed"));
    const bool ok = got == 11 && (sign == '+' || sign == '-') && dot != std::string::npos &&
                    line.find(',', dot) == dot + 4;
    return ok ? seconds : -1;
  };
  ASSERT_GE(elapsed(init), 0) << init;
  ASSERT_GE(elapsed(open), elapsed(init)) << open;
  ASSERT_GE(elapsed(start), elapsed(open)) << start;
  EXPECT_NE(
      init.find(R"("event":"init","level":13,"antenna":"filled","net":null,"receiving":false)"),
      std::string::npos)
      << init;
  // The first open is an event too: a log shows when its port came up.
  EXPECT_NE(open.find(R"("event":"open","level":13,)"), std::string::npos) << open;
  EXPECT_NE(start.find(R"("event":"byte","byte":"A3","level":0,"antenna":"hollow","net":null,)"
                       R"("receiving":true,"start":true,"status":"網番号:不明","redraws":1})"),
            std::string::npos)
      << start;
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
  ExpectOpen(monitor, pty.name());
  EXPECT_TRUE(pty.Exclusive());
  monitor.Signal(SIGINT);
  EXPECT_EQ(monitor.Wait(), 0);
  // Free again, and not only for root, whom the exclusive mark does not stop.
  EXPECT_FALSE(pty.Exclusive());
  Child again(AsAnotherUser({TOVMIR_TOOL, "monitor", pty.name()}, pty));
  ExpectOpen(again, pty.name());
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
  ExpectOpen(monitor, pty.name());
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
  for (auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitMs());
       pending() < full && std::chrono::steady_clock::now() < deadline;)
    pty.Offer(changes);
  ASSERT_GE(pending(), full);
  pty.Offer(changes);

  const auto start = std::chrono::steady_clock::now();
  monitor.Signal(SIGTERM);
  EXPECT_EQ(monitor.Wait(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(Bound(200)));
  EXPECT_FALSE(pty.Exclusive());
  close(unread);
  unlink(fifo.c_str());
}

// A log that cannot be written: each line counted, said once when it begins, and again at
// the end with the count; the exit status says it too.
TEST(MonitorTool, LinesThatNeverReachedTheLogAreCountedAndAnError) {
  Pty pty;
  Child monitor({TOVMIR_TOOL, "monitor", "--json", "--log", "/dev/full", pty.name()});
  ExpectOpen(monitor, pty.name());
  pty.Write("\xC1\xC2\xC3");
  int lines = 0;
  for (std::string line; monitor.ReadLine(line);)  // the same lines the log was given
    if (++lines && line.find(R"("byte":"C3")") != std::string::npos) break;
  monitor.Signal(SIGTERM);
  EXPECT_EQ(monitor.Wait(), 1);
  const std::string err = monitor.Errors();
  const std::string full = "cannot write to '/dev/full': No space left on device";
  EXPECT_NE(err.find(full), std::string::npos) << err;
  EXPECT_EQ(err.find(full), err.rfind(full)) << "said once: " << err;
  EXPECT_NE(err.find(std::to_string(lines) + " lines never reached the log '/dev/full'"),
            std::string::npos)
      << err;
}

// A FIFO as the log never holds up the start or the stop signals: one that nobody reads is
// refused at once, one that is read gets the lines; and SIGTERM ends monitor at any moment
// of its start.
TEST(MonitorTool, ALogFifoNeverHoldsUpTheStart) {
  Pty pty;
  const std::string fifo = TempFile("log.fifo", "");
  unlink(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const ProcessResult unread = RunProcess(
      {TOVMIR_TOOL, "monitor", "--json", "--log", fifo, "--listen", "127.0.0.1:0", pty.name()});
  EXPECT_EQ(unread.status, 1);
  EXPECT_NE(unread.err.find("cannot open '" + fifo + "': it is a FIFO that nobody reads"),
            std::string::npos)
      << unread.err;

  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  Child monitor({TOVMIR_TOOL, "monitor", "--json", "--log", fifo, pty.name()});
  ExpectOpen(monitor, pty.name());
  std::string logged;
  ASSERT_TRUE(Eventually([&] {
    char buf[4096];
    const ssize_t n = read(reader, buf, sizeof buf);
    if (n > 0) logged.append(buf, static_cast<size_t>(n));
    return logged.find(R"("event":"open")") != std::string::npos;
  })) << logged;
  monitor.Signal(SIGTERM);
  EXPECT_EQ(monitor.Wait(), 0) << monitor.Errors();
  close(reader);

  for (int i = 0; i < 10; ++i) {
    Child early({TOVMIR_TOOL, "monitor", "--json", "--log", TempFile("early.jsonl", ""), "--listen",
                 "127.0.0.1:0", pty.name()});
    early.Signal(SIGTERM);
    const int status = early.Wait();
    EXPECT_TRUE(status == 0 || status == 128 + SIGTERM) << status << early.Errors();
  }
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
    ExpectOpen(monitor, pty.name());
    // No descriptor may be waited on any more: the main loop's next wait fails (the
    // reader's is under way and goes on).
    const rlimit none = {1, 1};
    ASSERT_EQ(prlimit(monitor.pid(), RLIMIT_NOFILE, &none, nullptr), 0);
    EXPECT_EQ(monitor.Wait(), 1);
    const std::string err = monitor.Errors();
    EXPECT_NE(err.find("cannot wait for the port: Invalid argument"), std::string::npos) << err;
  }

  Pty other;
  const ProcessResult full = RunProcess(
      {"/bin/sh", "-c", "exec " TOVMIR_TOOL " monitor " + other.name() + " > /dev/full"});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("cannot write to standard output: No space left on device"),
            std::string::npos)
      << full.err;
}

TEST(MonitorTool, APortThatCannotBeOpened) {
  // Given up at once when asked to be...
  const ProcessResult r =
      RunProcess({TOVMIR_TOOL, "monitor", "--no-reconnect", "/dev/tovmir-missing"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("/dev/tovmir-missingが開けません\n", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err;
  for (const std::string name : {"COM99", "com99"}) {
    const ProcessResult com = RunProcess({TOVMIR_TOOL, "monitor", "--no-reconnect", name});
    EXPECT_EQ(com.status, 1);
    EXPECT_EQ(com.err.rfind(name + "が開けません\n/dev/ttyS98: ", 0), 0u) << com.err;
  }
  // ...else waited for: said once, tried every second, opened when it comes.
  const std::string path = TempFile("late-adapter", "");
  unlink(path.c_str());
  Child monitor({TOVMIR_TOOL, "monitor", "--json", path});
  std::string line;
  ASSERT_TRUE(monitor.ReadLine(line));  // the meter's start
  ASSERT_NE(monitor.WaitSaid("No such file or directory"), "") << monitor.Errors();
  Pty late(path);
  const auto appeared = std::chrono::steady_clock::now();
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_NE(line.find(R"("event":"open")"), std::string::npos) << line;
  EXPECT_LT(std::chrono::steady_clock::now() - appeared, std::chrono::milliseconds(Bound(2000)))
      << "tried every second";
  late.Write("\xC4");
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_NE(line.find(R"("byte":"C4","level":4)"), std::string::npos) << line;
  monitor.Signal(SIGTERM);
  EXPECT_EQ(monitor.Wait(), 0);
  const std::string err = monitor.Errors();
  EXPECT_NE(err.find("No such file or directory (trying again every second)"), std::string::npos)
      << err;
  EXPECT_EQ(err.find("が開けません"), err.rfind("が開けません")) << "said once: " << err;
}

// An adapter pulled out and put back: the loss and the new open said on standard error and
// as events, the meter going on; with --no-reconnect the loss ends it.
TEST(MonitorTool, AnUnpluggedPortIsOpenedAgainUnlessAskedNotTo) {
  const std::string path = TempFile("adapter", "");
  auto adapter = std::make_unique<Pty>(path);
  Child monitor({TOVMIR_TOOL, "monitor", "-j", path});
  std::string line;
  ASSERT_TRUE(monitor.ReadLine(line)) << monitor.Errors();
  EXPECT_NE(line.find(R"("port":")" + path + R"(","event":"init")"), std::string::npos) << line;
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_NE(line.find(R"("event":"open")"), std::string::npos) << line;
  adapter->Write("\xAD\x01\x02");  // a network number, half sent when the adapter goes
  adapter->Unplug();
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_NE(line.find(R"("event":"lost","reason":"Input/output error")"), std::string::npos)
      << line;
  adapter = std::make_unique<Pty>(path);
  const auto back = std::chrono::steady_clock::now();
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_NE(line.find(R"("event":"open")"), std::string::npos) << line;
  EXPECT_LT(std::chrono::steady_clock::now() - back, std::chrono::milliseconds(Bound(2000)))
      << "tried every second";
  adapter->Write("\x03\x04\xC6");
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_NE(line.find(R"("byte":"C6","level":6,"antenna":"filled","net":null)"), std::string::npos)
      << "nothing of the old connection: " << line;
  monitor.Signal(SIGTERM);
  EXPECT_EQ(monitor.Wait(), 0);
  const std::string err = monitor.Errors();
  EXPECT_NE(err.find(path + ": the port was lost (Input/output error); waiting for it to come "
                            "back, trying again every second"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find(path + ": open\n"), std::string::npos) << err;
  EXPECT_NE(err.find(path + ": open again"), std::string::npos) << err;

  Child once({TOVMIR_TOOL, "monitor", "--no-reconnect", path});
  ExpectOpen(once, path);
  adapter->Unplug();
  EXPECT_EQ(once.Wait(), 1);
  EXPECT_NE(once.Errors().find(path + " failed: Input/output error"), std::string::npos);
}

// Several handsets in one run: each line names its port.
TEST(MonitorTool, SeveralPortsEachLineNamingItsOwn) {
  Pty first, second;
  Child monitor({TOVMIR_TOOL, "monitor", first.name(), second.name()});
  std::string a, b, line;
  ASSERT_TRUE(monitor.ReadLine(a)) << monitor.Errors();
  ASSERT_TRUE(monitor.ReadLine(b));
  EXPECT_EQ(Untimed(a).rfind(first.name() + " init level=13", 0), 0u) << a;
  EXPECT_EQ(Untimed(b).rfind(second.name() + " init level=13", 0), 0u) << b;
  ExpectOpen(monitor, first.name());  // opened in the order named
  ExpectOpen(monitor, second.name());
  second.Write("\xC2");
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_EQ(Untimed(line).rfind(second.name() + " byte C2 level=2 ", 0), 0u) << line;
  first.Write("\xC9");
  ASSERT_TRUE(monitor.ReadLine(line));
  EXPECT_EQ(Untimed(line).rfind(first.name() + " byte C9 level=9 ", 0), 0u) << line;
  monitor.Signal(SIGTERM);
  EXPECT_EQ(monitor.Wait(), 0);
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
  const ProcessResult r =
      RunProcess(AsAnotherUser({TOVMIR_TOOL, "monitor", "--no-reconnect", pty.name()}, pty, false));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(pty.name() + ": Permission denied\n" + pty.name() +
                       " belongs to the group dialout, which you are not in. To join it: sudo "
                       "usermod -aG dialout $USER, then log out and in again."),
            std::string::npos)
      << r.err;
}

TEST(MonitorTool, APortInUseCannotBeOpenedTwice) {
  Pty pty;
  Child first({TOVMIR_TOOL, "monitor", pty.name()});
  ExpectOpen(first, pty.name());
  const ProcessResult second = RunProcess({TOVMIR_TOOL, "monitor", "--no-reconnect", pty.name()});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("が開けません"), std::string::npos);
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
}

TEST(MonitorTool, BadArguments) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--bogus"},
                                               {"--bars", "a", "b"},
                                               {"a", "a"},
                                               {"COM3", "/dev/ttyS2"},
                                               {"--listen", "9873x"},
                                               {"--listen", "::1:9873"},
                                               {"--listen", "70000"},
                                               {"--gps=localhost:2947x"},
                                               {"--gps=[::1"},
                                               {"--gps=:70000"},
                                               {"--gps=a b:1"},
                                               {"--log"}}) {
    std::vector<std::string> argv = {TOVMIR_TOOL, "monitor"};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(RunProcess(argv).status, 2) << args[0] << " " << args.back();
  }
  EXPECT_EQ(RunProcess({TOVMIR_TOOL, "monitor", "--help"}).status, 0);
}

}  // namespace
}  // namespace tovmir::test
