// The serial link on a real line: the same tests on Linux (a pty) and under Wine (a COM port
// mapped to a pty).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "receiver/receiver.h"
#include "serial/serial_link.h"
#include "tests/link/test_line.h"
#include "tests/support/waits.h"

namespace tovmir::test {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The meter window's part, as the link sees it: every byte goes through the receiver logic.
class TestOwner : public LinkOwner, public RedrawSink {
 public:
  void LinkByte(std::uint8_t b) override {
    const int i = received_.load(std::memory_order_relaxed);
    if (i < static_cast<int>(bytes_.size())) bytes_[i] = b;
    ReceiveByte(state, b, *this);
    received_.store(i + 1, std::memory_order_release);
  }
  void RequestRedraw() override {
    redraws.fetch_add(1);
    receiving_at_redraw = state.m_bReceiving;
    silent_at_redraw = state.m_nSilentTicks;
  }
  void LinkOpenFailed(const std::string& t, const std::string& c, const OsError& why) override {
    text = t;
    caption = c;
    error_code = why.code;
    ++open_failures;
  }
  void LinkEnded(const OsError&) override { ended.store(true); }

  int received() const { return received_.load(std::memory_order_acquire); }
  std::uint8_t byte(int i) const { return bytes_[i]; }

  MeterState state;
  std::atomic<int> redraws{0};
  std::atomic<int> receiving_at_redraw{-1}, silent_at_redraw{-1};
  std::atomic<bool> ended{false};
  std::string text, caption;
  int error_code = 0;
  int open_failures = 0;

 private:
  std::array<std::uint8_t, 4096> bytes_{};
  std::atomic<int> received_{0};
};

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override { line = TestLine::Create("COM1"); }
  void TearDown() override { CloseSerialLink(link); }
  bool Open() { return OpenSerialLink(link, line->PortName().c_str(), owner); }

  std::unique_ptr<TestLine> line;
  TestOwner owner;
  SerialLink link;
};

// On a fresh line, and on one a careless program left with flow control, stripping and
// mapping on: every byte must come through all the same.
class LineLeftBy : public LinkTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    if (GetParam()) line->Spoil();
  }
};

TEST_P(LineLeftBy, TheLineIsSetUpByThePolicyAndPutBackAtClose) {
  const LineSettings before = line->Settings();
  ASSERT_TRUE(Open()) << link.m_error.text;
  EXPECT_NE(link.m_hReader, nullptr);
  const LineSettings s = line->Settings();
  EXPECT_EQ(s.baud, 600);
  EXPECT_EQ(s.data_bits, 8);
  EXPECT_FALSE(s.parity);
  EXPECT_EQ(s.stop_bits, 1);
  EXPECT_FALSE(s.xon_xoff);
  EXPECT_FALSE(s.altered);
  EXPECT_EQ(s.hw_flow, before.hw_flow) << "hardware flow control is the cable's business";
  EXPECT_TRUE(CloseSerialLink(link)) << link.m_error.text;
  EXPECT_TRUE(line->Settings() == before);
}

TEST_P(LineLeftBy, BytesReachTheDecoderUnchangedInOrderAfterTheActivityFields) {
  ASSERT_TRUE(Open()) << link.m_error.text;
  owner.state.m_nSilentTicks = 3;  // as after a second and a half of silence
  line->Write("\xA3");             // a start byte always asks for a redraw
  ASSERT_TRUE(Eventually([&] { return owner.received() == 1; }));
  EXPECT_EQ(owner.receiving_at_redraw, 1);
  EXPECT_EQ(owner.silent_at_redraw, 0);

  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  line->Write(all);
  ASSERT_TRUE(Eventually([&] { return owner.received() == 257; })) << owner.received();
  for (int i = 0; i < 256; ++i) ASSERT_EQ(owner.byte(i + 1), i) << "byte " << i;
  EXPECT_EQ(owner.state.m_nLevel, 15);  // the last level byte was 0xCF
}

INSTANTIATE_TEST_SUITE_P(Link, LineLeftBy, ::testing::Values(false, true),
                         [](const auto& p) { return p.param ? "Careless" : "Fresh"; });

// A port that is not there, and a name that opens but is no serial port: the one message,
// once, and no reader.
class Unusable : public LinkTest, public ::testing::WithParamInterface<std::string (*)()> {};

TEST_P(Unusable, PortIsReportedOnce) {
  const std::string name = GetParam()();
  EXPECT_FALSE(OpenSerialLink(link, name.c_str(), owner));
  EXPECT_EQ(owner.open_failures, 1);
  EXPECT_EQ(owner.text, name + "\x82\xaa\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1");  // が開けません
  EXPECT_EQ(owner.caption, "\x83\x47\x83\x89\x81\x5b");                              // エラー
  EXPECT_FALSE(link.m_error.text.empty());
  EXPECT_TRUE(link.m_hComm == kPortOpenFailed || link.m_hComm == nullptr);
  EXPECT_EQ(link.m_hReader, nullptr);
  EXPECT_TRUE(CloseSerialLink(link));
  EXPECT_TRUE(CloseSerialLink(link));
}

INSTANTIATE_TEST_SUITE_P(Link, Unusable,
                         ::testing::Values(&TestLine::MissingPort, &TestLine::UnusablePort),
                         [](const auto& p) { return p.index ? "OpensButIsNoPort" : "Missing"; });

TEST_F(LinkTest, ASecondOpenOfThePortFails) {
  if (!TestLine::ExclusiveOpenEnforced()) GTEST_SKIP() << "share mode is not enforced here";
  ASSERT_TRUE(Open());
  TestOwner other;
  SerialLink second;
  EXPECT_FALSE(OpenSerialLink(second, line->PortName().c_str(), other));
  EXPECT_EQ(other.open_failures, 1);
  CloseSerialLink(second);
}

TEST_F(LinkTest, ClosesPromptlyWhileTheLineIsSilent) {
  ASSERT_TRUE(Open());
  line->Write("\xC3");
  ASSERT_TRUE(Eventually([&] { return owner.received() == 1; }));
  const auto start = Clock::now();
  CloseSerialLink(link);
  EXPECT_LT(MsSince(start), Bound(200));
  EXPECT_EQ(link.m_hReader, nullptr);
  EXPECT_EQ(link.m_hComm, nullptr);
}

struct Streamer {
  TestLine* line;
  std::atomic<bool> stop{false};
  std::atomic<int> chunks{0};
  static void Run(void* arg) {
    auto* self = static_cast<Streamer*>(arg);
    const std::string chunk = "\xC1\xC2\xC3\xC4\x81\x80\xAD\x01\x02\x03\x04";
    while (!self->stop.load()) {
      self->line->Write(chunk);
      self->chunks.fetch_add(1);
      PauseMs(1);
    }
  }
};

TEST_F(LinkTest, ClosesPromptlyWhileBytesStream) {
  ASSERT_TRUE(Open());
  Streamer streamer{line.get()};
  ThreadHandle writer;
  std::uint32_t id;
  ASSERT_TRUE(StartThread(Streamer::Run, &streamer, &writer, &id));
  ASSERT_TRUE(Eventually([&] { return owner.received() > 100; }));
  const auto start = Clock::now();
  CloseSerialLink(link);
  EXPECT_LT(MsSince(start), Bound(200));
  const int after_close = owner.received();
  PauseMs(20);
  EXPECT_EQ(owner.received(), after_close) << "the reader went on after the close";
  streamer.stop = true;
  ASSERT_TRUE(JoinThread(writer, WaitMs()));
  CloseThread(writer);
}

TEST_F(LinkTest, AnUnpluggedAdapterEndsTheReader) {
  line = TestLine::Create("COM3");  // a line of its own: an unplugged one stays unplugged
  ASSERT_TRUE(Open());
  line->Write("\xC5");
  ASSERT_TRUE(Eventually([&] { return owner.received() == 1; }));
  line->Unplug();
  ASSERT_TRUE(Eventually([&] { return owner.ended.load(); }));
  // Ended, not spinning: the thread is gone.
  EXPECT_TRUE(JoinThread(link.m_hReader, WaitMs()));
  EXPECT_EQ(owner.received(), 1);
}

TEST(Link, OpensAPortNumberedAboveNine) {
  auto line = TestLine::Create("COM12");
  TestOwner owner;
  SerialLink link;
  EXPECT_TRUE(OpenSerialLink(link, line->PortName().c_str(), owner)) << link.m_error.text;
  line->Write("\xC9");
  EXPECT_TRUE(Eventually([&] { return owner.received() == 1; }));
  CloseSerialLink(link);
}

}  // namespace
}  // namespace tovmir::test
