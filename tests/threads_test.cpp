// The reader and the window's thread on one MeterState at once, as in the running program.
// Meant for ThreadSanitizer: any unsynchronised access is reported there.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "receiver/receiver.h"

namespace tovmir {
namespace {

// Reads everything a paint reads, on whichever thread asked for the redraw.
class PaintingSink : public RedrawSink {
 public:
  explicit PaintingSink(const MeterState& s) : s_(s) {}
  void RequestRedraw() override {
    const int level = s_.m_nLevel;
    EXPECT_GE(level, 0);
    EXPECT_LE(level, 15);
    painted_chars_ += StatusLineText(s_).size() + static_cast<size_t>(s_.m_bHollow);
    ++paints;
  }
  std::atomic<int> paints{0};

 private:
  const MeterState& s_;
  std::atomic<size_t> painted_chars_{0};
};

TEST(Threads, ReaderAndWatchdogShareTheStateCleanly) {
  MeterState s;
  PaintingSink sink(s);
  std::atomic<bool> done{false};

  std::thread reader([&] {
    const std::uint8_t script[] = {0xA3, 0x81, 0xAD, 0x01, 0x02, 0x03, 0x04, 0xC3, 0x80, 0xCF};
    for (int round = 0; round < 2000; ++round)
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
  EXPECT_GT(sink.paints, 0);
}

}  // namespace
}  // namespace tovmir
