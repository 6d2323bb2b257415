// Threads as the running program has them: the reader and the window's thread on one
// MeterState at once (meant for ThreadSanitizer, which reports any unsynchronised access),
// and the platform's join and kill of the reader.
#include <gtest/gtest.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/thread.h"
#include "receiver/receiver.h"
#include "tests/support/waits.h"

// The test binary is linked with --wrap=clock_gettime, so that a test can set the system
// clock back for the code under test without touching the machine's.
extern "C" int __real_clock_gettime(clockid_t clock, timespec* t);
static std::atomic<long> g_realtime_shift{0};
extern "C" int __wrap_clock_gettime(clockid_t clock, timespec* t) {
  const int r = __real_clock_gettime(clock, t);
  if (r == 0 && clock == CLOCK_REALTIME) t->tv_sec += g_realtime_shift.load();
  return r;
}

namespace tovmir {
namespace {

using test::Eventually;
using test::WaitMs;

const std::set<std::string> kValidTexts = {kTextPowerOff, kTextRestart,
                                           std::string(kTextNetLabel) + kTextNetUnknown};

// Reads everything a paint reads, on whichever thread asked for the redraw, and notes what
// it saw.
class PaintingSink : public RedrawSink {
 public:
  explicit PaintingSink(const MeterState& s) : s_(s) {}
  void RequestRedraw() override {
    const int level = s_.m_nLevel;
    const std::string text = StatusLineText(s_);
    const bool valid_text =
        kValidTexts.count(text) || (text.rfind(kTextNetLabel, 0) == 0 && text.size() == 11);
    if (level < 0 || level > 15 || !valid_text) bad.fetch_add(1);
    if (s_.m_nNetNo == 0x1234) saw_net.fetch_add(1);
    if (s_.m_bHollow) saw_hollow.fetch_add(1);
    paints.fetch_add(1);
  }
  std::atomic<int> paints{0}, bad{0}, saw_net{0}, saw_hollow{0};

 private:
  const MeterState& s_;
};

TEST(Threads, ReaderAndWatchdogShareTheStateCleanly) {
  MeterState s;
  PaintingSink sink(s);
  std::atomic<bool> done{false};
  constexpr int kRounds = 2000;

  std::thread reader([&] {
    const std::uint8_t script[] = {0xA3, 0x81, 0xAD, 0x01, 0x02, 0x03, 0x04, 0xC3, 0x80, 0xCF};
    for (int round = 0; round < kRounds; ++round)
      for (std::uint8_t b : script) ReceiveByte(s, b, sink);
    done = true;
  });

  // The window's thread: ticks and paints until the reader is through.
  int ticks = 0;
  while (!done || ticks < 100) {
    WatchdogTick(s, sink);
    sink.RequestRedraw();
    ++ticks;
  }
  reader.join();

  EXPECT_EQ(s.m_nNetNo, 0x1234);
  EXPECT_EQ(s.m_bHollow, 0);
  EXPECT_EQ(sink.bad, 0) << "a paint saw a level or a status line that cannot be";
  // Every round, the start byte's repaint sees the antenna hollow and the fourth digit's
  // sees the network number: the reader's own writes, whatever the watchdog does.
  EXPECT_GE(sink.saw_hollow, kRounds);
  EXPECT_GE(sink.saw_net, kRounds);
}

// A thread parked on a pipe, with or without a lock held, until the test writes to it.
struct Parked {
  int pipe_fds[2];
  std::mutex* held = nullptr;  // locked for the whole wait, when given
  std::atomic<bool> waiting{false};
  Parked() { EXPECT_EQ(pipe(pipe_fds), 0); }
  ~Parked() {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
  }
  void Release() { EXPECT_EQ(write(pipe_fds[1], "x", 1), 1); }
  void Wait() {
    pollfd p = {pipe_fds[0], POLLIN, 0};
    waiting = true;
    poll(&p, 1, -1);  // a cancellation point
  }
  static void Alone(void* arg) { static_cast<Parked*>(arg)->Wait(); }
  static void HoldingALock(void* arg) {
    auto* self = static_cast<Parked*>(arg);
    std::lock_guard<std::mutex> lock(*self->held);
    self->Wait();
  }
};

TEST(Threads, AJoinWaitsOnAClockNobodySets) {
  Parked parked;
  ThreadHandle t;
  std::uint32_t id;
  ASSERT_TRUE(StartThread(Parked::Alone, &parked, &t, &id));
  ASSERT_TRUE(Eventually([&] { return parked.waiting.load(); }));
  g_realtime_shift = -3600;  // the system's clock set back an hour as the join starts
  std::thread releaser([&] {
    usleep(100 * 1000);
    parked.Release();
  });
  EXPECT_TRUE(JoinThread(t, WaitMs())) << "the join gave up early";
  g_realtime_shift = 0;
  releaser.join();
  CloseThread(t);
}

TEST(Threads, KillNeverEndsAThreadInsideACriticalSection) {
  std::mutex mu;
  Parked parked;
  parked.held = &mu;
  ThreadHandle t;
  std::uint32_t id;
  ASSERT_TRUE(StartThread(Parked::HoldingALock, &parked, &t, &id));
  ASSERT_TRUE(Eventually([&] { return parked.waiting.load(); }));
  EXPECT_FALSE(KillThread(t)) << "ended while it held a lock";
  parked.Release();  // it goes on, lets go of the lock and ends by itself
  EXPECT_TRUE(JoinThread(t, WaitMs()));
  EXPECT_TRUE(mu.try_lock()) << "the lock was left held";
  mu.unlock();
  CloseThread(t);
}

}  // namespace
}  // namespace tovmir
