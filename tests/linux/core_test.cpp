// The Linux meter's part that needs no window: the meter's state between the reader
// thread, which decodes, and the main loop, which it wakes only for what shows (meant for
// ThreadSanitizer too).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "linux/meter_feed.h"

namespace tovmir {
namespace {

// A main loop of the test's own: a wake only marks that it should take.
struct Loop {
  std::mutex mu;
  std::condition_variable cv;
  bool woken = false;
  int wakes = 0;
  void Wake() {
    std::lock_guard<std::mutex> lock(mu);
    woken = true;
    ++wakes;
    cv.notify_one();
  }
  // Waits for a wake, or for the watchdog's tick to come round.
  void WaitForWakeOrTick() {
    std::unique_lock<std::mutex> lock(mu);
    cv.wait_for(lock, std::chrono::milliseconds(5), [&] { return woken; });
    woken = false;
  }
};

bool ViewIsWhole(const MeterView& v) {
  static const std::set<std::string> kTexts = {kTextPowerOff, kTextRestart,
                                               std::string(kTextNetLabel) + kTextNetUnknown,
                                               std::string(kTextNetLabel) + "1234"};
  return v.level >= 0 && v.level <= 15 && kTexts.count(v.status_cp932);
}

// The reader decodes a handset's stream while the main loop ticks, takes and paints, as in
// the window: every view is whole, the stream's last state is what shows at the end, and
// the main loop is woken at most once for each take.
TEST(MeterFeed, TheReaderDecodesWhileTheMainLoopTicksAndPaints) {
  Loop loop;
  MeterFeed feed([&] { loop.Wake(); });
  constexpr int kRounds = 5000;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    const std::uint8_t script[] = {0xA3, 0x81, 0xAD, 0x01, 0x02, 0x03, 0x04, 0xC3, 0x80, 0xCF};
    for (int round = 0; round < kRounds; ++round)
      for (std::uint8_t b : script) feed.Put(b);
    done = true;
  });
  int takes = 0, bad = 0;
  while (!done) {
    loop.WaitForWakeOrTick();
    if (feed.Take().redraw) ++takes;
    feed.Tick();
    bad += !ViewIsWhole(feed.View());
  }
  reader.join();
  EXPECT_EQ(bad, 0);
  const MeterView end = feed.View();
  EXPECT_EQ(end.level, 15);
  EXPECT_FALSE(end.hollow);
  EXPECT_EQ(end.status_cp932, std::string(kTextNetLabel) + "1234");
  EXPECT_LE(loop.wakes, takes + 1) << "one wake for each take, not one for each byte";
}

TEST(MeterFeed, OnlyWhatChangesTheScreenWakesTheMainLoop) {
  int wakes = 0;
  MeterFeed feed([&] { ++wakes; });
  for (int b : {0xA3, 0x80, 0xC5}) feed.Put(static_cast<std::uint8_t>(b));
  EXPECT_EQ(wakes, 1) << "one wake until the main loop takes";
  EXPECT_TRUE(feed.Take().redraw);

  for (int i = 0; i < 100; ++i) feed.Put(0xC5);
  EXPECT_EQ(wakes, 1) << "a level byte repeating the level shown";
  for (int b : {0x80, 0x90, 0x10, 0xFF, 0xAD, 0x01, 0x02, 0x03})
    feed.Put(static_cast<std::uint8_t>(b));
  EXPECT_EQ(wakes, 1) << "the antenna as shown, bytes that are only counted, a group under way";
  EXPECT_FALSE(feed.Take().redraw);

  feed.Put(0x04);  // the group's last digit: the network number shows
  EXPECT_EQ(wakes, 2);
  EXPECT_EQ(feed.View().status_cp932, std::string(kTextNetLabel) + "1234");
  feed.Take();
  feed.Put(0xC6);
  EXPECT_EQ(wakes, 3) << "a level change";
  feed.Take();
  feed.Put(0x81);
  EXPECT_EQ(wakes, 4) << "an antenna change";
  EXPECT_TRUE(feed.Take().redraw);
}

TEST(MeterFeed, TheWatchdogTicksOnTheMainLoopWithoutAWake) {
  int wakes = 0;
  MeterFeed feed([&] { ++wakes; });
  feed.Put(0xC5);
  feed.Take();
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(feed.Tick()) << "still counts as traffic";
  EXPECT_TRUE(feed.Tick()) << "the silence: the text changes, the sweep starts";
  EXPECT_EQ(feed.View().status_cp932, kTextPowerOff);
  EXPECT_EQ(feed.View().level, 6);
  EXPECT_EQ(wakes, 1);
}

TEST(MeterFeed, AFailedPortWakesTheMainLoopWithItsReasonOnce) {
  int wakes = 0;
  MeterFeed feed([&] { ++wakes; });
  feed.Put(0xC5);  // a redraw not taken yet
  feed.Ended("Input/output error");
  EXPECT_EQ(wakes, 1);
  const MeterFeed::Woken w = feed.Take();
  EXPECT_TRUE(w.redraw);
  EXPECT_EQ(w.ended, "Input/output error");
  EXPECT_FALSE(feed.Take().ended);
}

TEST(MeterFeed, NothingWakesTheMainLoopOnceDetached) {
  int wakes = 0;
  MeterFeed feed([&] { ++wakes; });
  feed.Detach();
  feed.Put(0xC5);
  feed.Ended("gone");
  EXPECT_EQ(wakes, 0);
}

// Opening a link starts its reader at once. Its first bytes wait for the lock the opening
// holds, so the decoder is reset before them: they do not finish the group an ended
// connection began.
TEST(MeterFeed, ANewReadersBytesComeAfterTheOpeningsReset) {
  int wakes = 0;
  MeterFeed feed([&] { ++wakes; });
  for (int b : {0xA3, 0xAD, 0x0A, 0x0B}) feed.Put(static_cast<std::uint8_t>(b));
  feed.Take();
  std::thread reader;
  std::atomic<bool> put{false};
  feed.WithState([&](MeterState& s) {
    reader = std::thread([&] {
      for (int b : {0x0C, 0x0D, 0xC7}) feed.Put(static_cast<std::uint8_t>(b));
      put = true;
    });
    // Time for a reader that was not held back to run ahead of the reset.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
    while (!put && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    ResetDecoder(s);
    return true;
  });
  reader.join();
  const MeterView v = feed.View();
  EXPECT_EQ(v.level, 7);
  EXPECT_EQ(v.status_cp932, std::string(kTextNetLabel) + kTextNetUnknown);
}

}  // namespace
}  // namespace tovmir
