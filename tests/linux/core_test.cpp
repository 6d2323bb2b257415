// The Linux meter's part that needs no window: the reader's hand-over of bytes to the main
// loop (meant for ThreadSanitizer too).
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "linux/byte_handover.h"

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
};

TEST(ByteHandover, EveryByteReachesTheMainLoopInOrderWithAWakeForEachTake) {
  Loop loop;
  ByteHandover handover([&] { loop.Wake(); });
  constexpr int kBytes = 100000;
  std::thread reader([&] {
    for (int i = 0; i < kBytes; ++i) handover.Put(static_cast<std::uint8_t>(i));
  });
  std::vector<std::uint8_t> got;
  int takes = 0;
  while (static_cast<int>(got.size()) < kBytes) {
    {
      // Woken, or the watchdog's tick (which takes whatever is there) comes round.
      std::unique_lock<std::mutex> lock(loop.mu);
      loop.cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return loop.woken; });
      loop.woken = false;
    }
    const std::vector<std::uint8_t> batch = handover.Take();
    got.insert(got.end(), batch.begin(), batch.end());
    ++takes;
  }
  reader.join();
  for (int i = 0; i < kBytes; ++i) ASSERT_EQ(got[i], static_cast<std::uint8_t>(i)) << i;
  EXPECT_LE(loop.wakes, takes + 1) << "one wake for each take, not one for each byte";
}

TEST(ByteHandover, OnlyABytesThatMayChangeTheMeterWakesTheMainLoop) {
  int wakes = 0;
  ByteHandover handover([&] { ++wakes; });
  for (int b : {0x90, 0x10, 0xAD, 0xFF, 0x82}) handover.Put(static_cast<std::uint8_t>(b));
  EXPECT_EQ(wakes, 0) << "counted and taken at the next tick, without a wake";
  handover.Put(0xC5);
  EXPECT_EQ(wakes, 1);
  handover.Put(0x81);  // a wake is on its way already
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(handover.Take().size(), 7u);
  handover.Put(0x03);  // a digit may finish a group
  EXPECT_EQ(wakes, 2);
}

TEST(ByteHandover, ClearDropsWhatAnEndedConnectionLeft) {
  int wakes = 0;
  ByteHandover handover([&] { ++wakes; });
  handover.Put(0xAD);
  handover.Put(0x01);
  handover.Clear();
  EXPECT_TRUE(handover.Take().empty());
  handover.Put(0xC5);
  EXPECT_EQ(handover.Take(), std::vector<std::uint8_t>{0xC5});
  EXPECT_EQ(wakes, 2);  // the digit and the level byte
}

}  // namespace
}  // namespace tovmir
