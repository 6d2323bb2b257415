// The decoder, the watchdog and the status line, driven as the reader and the timer would.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "receiver/receiver.h"

namespace tovmir {
namespace {

// Records, for each redraw, what a paint would see at that moment.
class RecordingSink : public RedrawSink {
 public:
  explicit RecordingSink(const MeterState& s) : s_(s) {}
  void RequestRedraw() override {
    ++count;
    levels_seen.push_back(s_.m_nLevel);
  }
  int count = 0;
  std::vector<int> levels_seen;

 private:
  const MeterState& s_;
};

class ReceiverTest : public ::testing::Test {
 protected:
  // Returns the redraws the bytes asked for.
  int Feed(std::initializer_list<int> bytes) {
    const int before = sink.count;
    for (int b : bytes) ReceiveByte(s, static_cast<std::uint8_t>(b), sink);
    return sink.count - before;
  }
  int Ticks(int n) {
    const int before = sink.count;
    for (int i = 0; i < n; ++i) WatchdogTick(s, sink);
    return sink.count - before;
  }
  MeterState s;
  RecordingSink sink{s};
};

TEST_F(ReceiverTest, InitialStateIsAFreshWindow) {
  EXPECT_EQ(s.m_nLevel, 13);
  EXPECT_EQ(s.m_nLevelShown, 13);
  EXPECT_EQ(s.m_bHollow, 0);
  EXPECT_EQ(s.m_nNetNo, -1);
  EXPECT_EQ(s.m_nMode, 0);
  EXPECT_EQ(s.m_bReceiving, 0);
  EXPECT_EQ(s.m_nSilentTicks, 0);
  EXPECT_EQ(StatusLineText(s), kTextPowerOff);
}

TEST_F(ReceiverTest, NetworkNumberGroupRedrawsOnceAfterTheFourthDigit) {
  EXPECT_EQ(Feed({0xAD, 0x01, 0x02, 0x03}), 0);
  EXPECT_EQ(s.m_nNetNo, -1);
  EXPECT_EQ(s.m_nMode, kNetLeadIn);
  EXPECT_EQ(Feed({0x04}), 1);
  EXPECT_EQ(s.m_nNetNo, 0x1234);
  EXPECT_EQ(s.m_nMode, 0);
  EXPECT_EQ(s.m_nDigitBytes, 0);
  EXPECT_EQ(s.m_nCodeBytes, 0);
}

TEST_F(ReceiverTest, LevelByteInsideAGroupIsDecodedAndTheGroupCompletes) {
  EXPECT_EQ(Feed({0xAD, 0x0A, 0x0B, 0xC3}), 1);
  EXPECT_EQ(s.m_nLevel, 3);
  EXPECT_EQ(sink.levels_seen.back(), 3);  // the paint already sees the new level
  EXPECT_EQ(s.m_nLevelShown, 3);
  EXPECT_EQ(Feed({0x0C, 0x0D}), 1);
  EXPECT_EQ(s.m_nNetNo, 0xABCD);
}

TEST_F(ReceiverTest, GroupSurvivesEightOtherBytesButNotNine) {
  Feed({0xAD, 0x00, 0x00, 0x00, 0x01});
  ASSERT_EQ(s.m_nNetNo, 1);

  Feed({0xAD, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90});
  EXPECT_EQ(Feed({0x01, 0x02, 0x03, 0x04}), 1);
  EXPECT_EQ(s.m_nNetNo, 0x1234);

  Feed({0xAD, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90});
  EXPECT_EQ(s.m_nMode, 0);
  EXPECT_EQ(Feed({0x05, 0x06, 0x07, 0x08}), 0);
  EXPECT_EQ(s.m_nNetNo, 0x1234);
}

TEST_F(ReceiverTest, NinthCodeByteEndsTheGroupAndIsStillDecoded) {
  Feed({0xAD, 0x01, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90});
  EXPECT_EQ(Feed({0xC2}), 1);  // the ninth: group abandoned, level still taken
  EXPECT_EQ(s.m_nLevel, 2);
  EXPECT_EQ(s.m_nMode, 0);
  EXPECT_EQ(Feed({0x02, 0x03, 0x04}), 0);
  EXPECT_EQ(s.m_nNetNo, -1);
}

TEST_F(ReceiverTest, DigitsWithoutLeadInAndOtherBytesChangeOnlyTheCounters) {
  EXPECT_EQ(Feed({0x01, 0x02, 0x03, 0x04, 0x0F}), 0);
  EXPECT_EQ(Feed({0x10, 0x7F, 0x82, 0xA0, 0xB0, 0xD0, 0xFF}), 0);
  EXPECT_EQ(s.m_nNetNo, -1);
  EXPECT_EQ(s.m_nLevel, 13);
  EXPECT_EQ(s.m_bHollow, 0);
  EXPECT_EQ(s.m_nMode, 0);
  EXPECT_EQ(s.m_nDigitBytes, 5);
  EXPECT_EQ(s.m_nCodeBytes, 7);
}

TEST_F(ReceiverTest, RepeatedLevelOrAntennaBytesRedrawOnce) {
  EXPECT_EQ(Feed({0xC5, 0xC5}), 1);
  EXPECT_EQ(Feed({0x81, 0x81}), 1);
  EXPECT_EQ(s.m_bHollow, 1);
  EXPECT_EQ(Feed({0x80}), 1);
  EXPECT_EQ(s.m_bHollowShown, 0);
}

TEST_F(ReceiverTest, StartByteAlwaysRedrawsAndResetsTheLook) {
  EXPECT_EQ(Feed({0xA3}), 1);
  EXPECT_EQ(Feed({0xA3}), 1);
  EXPECT_EQ(s.m_nLevel, 0);
  EXPECT_EQ(s.m_bHollow, 1);
  EXPECT_EQ(s.m_bStartSeen, 1);
  EXPECT_EQ(Feed({0xC0}), 0);  // level and shown level are both 0
  EXPECT_EQ(Feed({0x80}), 1);  // hollow 1 -> 0
}

TEST_F(ReceiverTest, StartByteInsideAGroupAbandonsIt) {
  Feed({0xAD, 0x01, 0x02, 0x03, 0x04});
  ASSERT_EQ(s.m_nNetNo, 0x1234);
  Feed({0xAD, 0x05, 0xA3});
  EXPECT_EQ(s.m_nNetNo, -1);
  EXPECT_EQ(s.m_nMode, 0);
  EXPECT_EQ(s.m_nCodeBytes, 1) << "counted, and not reset by the start byte";
  EXPECT_EQ(Feed({0x06, 0x07, 0x08}), 0);
  EXPECT_EQ(s.m_nNetNo, -1);
}

TEST_F(ReceiverTest, SecondLeadInRestartsTheGroup) {
  EXPECT_EQ(Feed({0xAD, 0x01, 0x02, 0xAD, 0x03, 0x04, 0x05, 0x06}), 1);
  EXPECT_EQ(s.m_nNetNo, 0x3456);
}

TEST_F(ReceiverTest, WatchdogTimesOutOnTheFourthSilentTick) {
  Feed({0xA3, 0xC7});
  EXPECT_EQ(Ticks(3), 0);
  EXPECT_EQ(s.m_bReceiving, 1);
  EXPECT_EQ(s.m_nSilentTicks, 3);
  EXPECT_EQ(Ticks(1), 1);
  EXPECT_EQ(s.m_bReceiving, 0);
  EXPECT_EQ(s.m_bStartSeen, 0);
  EXPECT_EQ(s.m_nLevel, 8);
  EXPECT_EQ(s.m_nLevelShown, 8);
  EXPECT_EQ(sink.levels_seen.back(), 8);
  EXPECT_EQ(s.m_nSilentTicks, kSilentParked);
}

TEST_F(ReceiverTest, SilenceSweepsOneStepPerTickAndWraps) {
  Feed({0xCF});
  EXPECT_EQ(Ticks(4), 1);
  EXPECT_EQ(s.m_nLevel, 0) << "15 wraps to 0";
  Feed({0xC0});
  EXPECT_EQ(Ticks(20), 17);
  EXPECT_EQ(s.m_nLevel, 17 % 16);
  EXPECT_EQ(s.m_nSilentTicks, kSilentParked);
}

TEST_F(ReceiverTest, AByteStopsTheSweepButTheStartFlagWaitsForAStartByte) {
  Feed({0xA3});
  Ticks(6);
  const int level = s.m_nLevel;
  ASSERT_NE(level, 9);
  EXPECT_EQ(Feed({0xC9}), 1);
  EXPECT_EQ(Ticks(3), 0);
  EXPECT_EQ(s.m_nLevel, 9);
  EXPECT_EQ(StatusLineText(s), kTextRestart);
}

TEST_F(ReceiverTest, WatchdogLeavesTheDecoderAlone) {
  Feed({0x81, 0xAD, 0x01, 0x02});
  Ticks(6);
  EXPECT_EQ(s.m_bHollow, 1);
  Feed({0x03, 0x04});
  EXPECT_EQ(s.m_nNetNo, 0x1234);
}

TEST_F(ReceiverTest, ANewConnectionDoesNotFinishTheOldOnesGroup) {
  Feed({0xA3, 0xAD, 0x0A, 0x0B, 0x0C, 0x0D, 0xC7, 0xAD, 0x01, 0x02});
  ResetDecoder(s);
  EXPECT_EQ(Feed({0x03, 0x04}), 0);
  EXPECT_EQ(s.m_nNetNo, 0xABCD);  // what the meter shows stays
  EXPECT_EQ(s.m_nLevel, 7);
  EXPECT_EQ(Feed({0xAD, 0x01, 0x02, 0x03, 0x04}), 1);  // and new groups work
  EXPECT_EQ(s.m_nNetNo, 0x1234);
}

TEST_F(ReceiverTest, WatchdogWithoutAnyByteSweepsFromTheInitialLevel) {
  EXPECT_EQ(Ticks(4), 1);
  EXPECT_EQ(s.m_nLevel, 14);
}

// A byte whose counter reset lands between the tick's count and its timeout must not be
// lost: the tick gives up, and the meter keeps showing a live handset.
TEST_F(ReceiverTest, ByteArrivingInsideATickWinsOverTheTimeout) {
  Feed({0xA3, 0xC5});
  Ticks(3);
  const std::int32_t before = WatchdogCount(s);
  ASSERT_EQ(before, 3);
  ReceiveByte(s, 0xC6, sink);
  const int redraws = sink.count;
  WatchdogTimeout(s, before, sink);
  EXPECT_EQ(sink.count, redraws);
  EXPECT_EQ(s.m_nSilentTicks, 0);
  EXPECT_EQ(s.m_bReceiving, 1);
  EXPECT_EQ(s.m_bStartSeen, 1);
  EXPECT_EQ(s.m_nLevel, 6);
  EXPECT_EQ(Ticks(3), 0) << "the full grace period starts again from the byte";
}

TEST_F(ReceiverTest, ByteArrivingInsideAParkedTickStopsTheSweep) {
  Ticks(5);
  const std::int32_t before = WatchdogCount(s);
  ASSERT_EQ(before, kSilentParked);
  ReceiveByte(s, 0x90, sink);
  WatchdogTimeout(s, before, sink);
  EXPECT_EQ(s.m_nSilentTicks, 0);
  EXPECT_EQ(s.m_bReceiving, 1);
  EXPECT_EQ(Ticks(3), 0);
}

TEST_F(ReceiverTest, ByteArrivingAfterTheCountOfAQuietTickIsNotOverwritten) {
  Feed({0xC5});
  const std::int32_t before = WatchdogCount(s);
  ReceiveByte(s, 0xC5, sink);
  WatchdogTimeout(s, before, sink);
  EXPECT_EQ(s.m_nSilentTicks, 0);
}

TEST_F(ReceiverTest, StatusLineWording) {
  Feed({0x90});
  EXPECT_EQ(StatusLineText(s), kTextRestart);
  Feed({0xA3});
  EXPECT_EQ(StatusLineText(s), std::string(kTextNetLabel) + kTextNetUnknown);
  Feed({0xAD, 0, 0, 0, 0});
  EXPECT_EQ(StatusLineText(s), std::string(kTextNetLabel) + "0000");
  Feed({0xAD, 0xF, 0xF, 0xF, 0xF});
  EXPECT_EQ(StatusLineText(s), std::string(kTextNetLabel) + "FFFF");
  Feed({0xAD, 0xA, 0xB, 0xC, 0xD});
  EXPECT_EQ(StatusLineText(s), std::string(kTextNetLabel) + "ABCD");
  s.m_bReceiving = 0;  // silence wins even with the start flag set
  EXPECT_EQ(StatusLineText(s), kTextPowerOff);
}

}  // namespace
}  // namespace tovmir
