// The meter session on its own, on a pty standing in for an adapter: what it asks its front
// end to redraw, the words it says, an unplugged port and its return, and (for
// ThreadSanitizer too) a reader decoding while the loop ticks and paints.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "receiver/receiver.h"
#include "session/meter_session.h"
#include "tests/support/process.h"
#include "tests/support/pty.h"
#include "tests/support/waits.h"

namespace tovmir {
namespace {

using test::Eventually;

// A front end that writes down what it is told, from whichever thread.
class Recorder final : public SessionFrontEnd {
 public:
  void RedrawNeeded(const MeterEvent& e, const MeterState& s) override {
    std::lock_guard<std::mutex> lock(mu_);
    redraws_.push_back({e.kind, e.byte, s.m_nLevel});
  }
  void PortFailed() override { ++failed; }
  void Say(const std::string& words, bool trouble) override {
    std::lock_guard<std::mutex> lock(mu_);
    said_.push_back((trouble ? "! " : "") + words);
  }
  void Opened(const MeterState&, bool again) override { ++(again ? opened_again : opened); }
  void Lost(const MeterState&, const std::string& why) override {
    std::lock_guard<std::mutex> lock(mu_);
    lost_.push_back(why);
  }

  struct Redraw {
    MeterEvent::Kind kind;
    std::uint8_t byte;
    int level;
    bool operator==(const Redraw&) const = default;
  };
  std::vector<Redraw> redraws() {
    std::lock_guard<std::mutex> lock(mu_);
    return redraws_;
  }
  std::vector<std::string> said() {
    std::lock_guard<std::mutex> lock(mu_);
    return said_;
  }
  std::vector<std::string> lost() {
    std::lock_guard<std::mutex> lock(mu_);
    return lost_;
  }
  std::atomic<int> failed{0}, opened{0}, opened_again{0};

 private:
  std::mutex mu_;
  std::vector<Redraw> redraws_;
  std::vector<std::string> said_, lost_;
};

// A second's worth of ticks: the retry's period.
void TickASecond(MeterSession& session) {
  for (int i = 0; i < kReopenSeconds * 1000 / kWatchdogMs; ++i) session.Tick();
}

TEST(Session, APortNotThereYetIsSaidOnceTriedEverySecondAndOpenedWhenItComes) {
  const std::string path = test::TempFile("session-late", "");
  unlink(path.c_str());
  Recorder front;
  MeterSession session(path, front);
  EXPECT_FALSE(session.Start());
  TickASecond(session);
  TickASecond(session);
  EXPECT_EQ(front.said(), std::vector<std::string>{"! " + path + "が開けません\n" + path +
                                                   ": No such file or directory (trying again "
                                                   "every second)"})
      << "said once, whatever the attempts";
  EXPECT_TRUE(front.redraws().empty()) << "no watchdog before the first open";

  test::Pty late(path);
  EXPECT_FALSE(session.is_open()) << "until the next second";
  TickASecond(session);
  ASSERT_TRUE(session.is_open());
  EXPECT_EQ(front.opened, 1);
  EXPECT_EQ(front.said().back(), path + ": open");
}

TEST(Session, BytesAndTicksThatChangeTheMeterAreRedrawsAndCounted) {
  test::Pty pty;
  Recorder front;
  MeterSession session(pty.name(), front);
  ASSERT_TRUE(session.Start()) << front.said().back();
  pty.Write("\xA3\xC7\xC7\x10");  // the second C7 changes nothing shown; 0x10 is only counted
  ASSERT_TRUE(Eventually([&] { return session.counters().bytes == 4; }));
  using R = Recorder::Redraw;
  EXPECT_EQ(front.redraws(),
            (std::vector<R>{{MeterEvent::kByte, 0xA3, 0}, {MeterEvent::kByte, 0xC7, 7}}));
  EXPECT_GT(session.counters().last_byte, 0);
  EXPECT_TRUE(session.counters().up);
  // Two seconds of silence: the watchdog's timeout, then the sweep; one silence counted.
  for (int i = 0; i < 6; ++i) session.Tick();
  const std::vector<R> all = front.redraws();
  EXPECT_EQ(std::vector<R>(all.begin() + 2, all.end()),
            (std::vector<R>{
                {MeterEvent::kTick, 0, 8}, {MeterEvent::kTick, 0, 9}, {MeterEvent::kTick, 0, 10}}));
  EXPECT_EQ(session.counters().silences, 1);
  EXPECT_EQ(session.WithState(StatusLineText), kTextPowerOff);
}

// Pulled out while a network number was half sent, and plugged in again: the loss and the
// return said and told, the attempts between said once, nothing of the old connection in
// the new one.
TEST(Session, AnUnpluggedPortIsOpenedAgainWhenItComesBack) {
  const std::string path = test::TempFile("session-adapter", "");
  auto adapter = std::make_unique<test::Pty>(path);
  Recorder front;
  MeterSession session(path, front);
  ASSERT_TRUE(session.Start());
  adapter->Write("\xAD\x01\x02");
  ASSERT_TRUE(Eventually([&] { return session.counters().bytes == 3; }));
  adapter->Unplug();
  ASSERT_TRUE(Eventually([&] { return front.failed == 1; }));
  session.TakeFailure();
  EXPECT_FALSE(session.is_open());
  EXPECT_FALSE(session.counters().up);
  EXPECT_EQ(front.lost(), std::vector<std::string>{"Input/output error"});
  TickASecond(session);
  TickASecond(session);
  const std::string lost = "! " + path + ": the port was lost";
  EXPECT_EQ(front.said(), (std::vector<std::string>{
                              path + ": open",
                              lost + " (Input/output error); waiting for it to come back, trying "
                                     "again every second",
                              lost + "; waiting for it to come back (No such file or directory)"}));

  adapter = std::make_unique<test::Pty>(path);
  TickASecond(session);
  ASSERT_TRUE(session.is_open());
  EXPECT_EQ(front.opened_again, 1);
  EXPECT_EQ(front.said().back(), path + ": open again");
  EXPECT_EQ(session.counters().reopens, 1);
  adapter->Write("\x03\x04\xC6");
  ASSERT_TRUE(Eventually([&] { return session.counters().bytes == 6; }));
  EXPECT_EQ(session.state().m_nNetNo, kNetUnknown) << "no number made of two connections";
  EXPECT_EQ(session.state().m_nLevel, 6);
}

TEST(Session, NotRetryingItSaysSoAndTriesNoMore) {
  const std::string path = test::TempFile("session-never", "");
  unlink(path.c_str());
  Recorder front;
  MeterSession session(path, front, /*retrying=*/false);
  EXPECT_FALSE(session.Start());
  test::Pty late(path);
  TickASecond(session);
  EXPECT_FALSE(session.is_open());
  EXPECT_EQ(front.said(), std::vector<std::string>{"! " + path + "が開けません\n" + path +
                                                   ": No such file or directory"});
}

// The reader decodes a handset's stream while the loop ticks and paints, as in the window:
// every view is whole, and the stream's last state is what shows at the end.
TEST(Session, TheReaderDecodesWhileTheLoopTicksAndPaints) {
  test::Pty pty;
  Recorder front;
  MeterSession session(pty.name(), front);
  ASSERT_TRUE(session.Start());
  constexpr int kRounds = 300;
  const std::string script = "\xA3\x81\xAD\x01\x02\x03\x04\xC3\x80\xCF";
  std::thread handset([&] {
    for (int round = 0; round < kRounds; ++round) pty.Write(script);
  });
  const long long all = static_cast<long long>(script.size()) * kRounds;
  int bad = 0;
  const auto whole = [](const MeterState& s) {
    const std::string status = StatusLineText(s);
    return s.m_nLevel >= 0 && s.m_nLevel <= 15 &&
           (status == kTextPowerOff || status == kTextRestart ||
            status == std::string(kTextNetLabel) + kTextNetUnknown ||
            status == std::string(kTextNetLabel) + "1234");
  };
  ASSERT_TRUE(Eventually([&] {
    session.Tick();
    bad += !session.WithState(whole);
    return session.counters().bytes == all;
  }));
  handset.join();
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(session.state().m_nLevel, 15);
  EXPECT_EQ(session.WithState(StatusLineText), std::string(kTextNetLabel) + "1234");
}

}  // namespace
}  // namespace tovmir
