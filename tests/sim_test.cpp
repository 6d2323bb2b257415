// The simulated handset's session and the meter drawn as text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "receiver/receiver.h"
#include "render/term_view.h"
#include "sim/sim_session.h"

namespace tovmir {
namespace {

class NullSink : public RedrawSink {
 public:
  void RequestRedraw() override {}
};

TEST(SimSession, StartsLikeAHandsetThatWasJustSwitchedOn) {
  SimSession session(7);
  std::vector<int> first;
  for (int i = 0; i < 7; ++i) {
    const SimStep s = session.Next();
    ASSERT_EQ(s.kind, SimStep::kByte);
    first.push_back(s.byte);
  }
  EXPECT_EQ(first[0], 0xA3);
  EXPECT_TRUE(first[1] == 0x80 || first[1] == 0x81);
  EXPECT_EQ(first[2], 0xAD);
  for (int i = 3; i < 7; ++i) EXPECT_LT(first[i], 0x10);
}

TEST(SimSession, IsRepeatableFromItsSeed) {
  SimSession a(42), b(42), c(43);
  bool differs = false;
  for (int i = 0; i < 5000; ++i) {
    const SimStep x = a.Next(), y = b.Next(), z = c.Next();
    ASSERT_EQ(x.kind, y.kind);
    ASSERT_EQ(x.byte, y.byte);
    differs |= x.byte != z.byte;
  }
  EXPECT_TRUE(differs);
}

// Ten minutes of the session through the meter's logic, a watchdog tick every 30 byte
// slots: the meter shows a live handset with a network number most of the time, and each
// switch-off (3 to 5 s, about once a minute) makes it report the handset off, then start
// afresh.
TEST(SimSession, TenMinutesLookLikeARealHandset) {
  SimSession session(2026);
  MeterState s;
  NullSink sink;
  double seconds = 0, next_tick = 0.5;
  int switch_offs = 0, timeouts_seen = 0, slots_with_number = 0, slots = 0;
  std::vector<int> levels_seen(16, 0);
  while (seconds < 600) {
    const SimStep step = session.Next();
    const double until = seconds + (step.kind == SimStep::kByte ? 1.0 / 60 : step.seconds);
    if (step.kind == SimStep::kSilence) {
      ++switch_offs;
      EXPECT_GE(step.seconds, 3.0);
      EXPECT_LE(step.seconds, 5.0);
    }
    for (; next_tick <= until; next_tick += 0.5) {
      WatchdogTick(s, sink);
      timeouts_seen += s.m_nSilentTicks == kSilentParked;
    }
    seconds = until;
    if (step.kind != SimStep::kByte) continue;
    ReceiveByte(s, step.byte, sink);
    ++slots;
    slots_with_number += s.m_bStartSeen && s.m_nNetNo >= 0;
    ++levels_seen[s.m_nLevel];
  }
  EXPECT_GE(switch_offs, 7);
  EXPECT_LE(switch_offs, 13);
  EXPECT_GT(timeouts_seen, switch_offs) << "every switch-off is long enough to time out";
  EXPECT_GT(slots_with_number, slots * 9 / 10);
  int distinct = 0;
  for (int n : levels_seen) distinct += n > 0;
  EXPECT_GE(distinct, 5) << "the level wanders";
}

void Feed(MeterState& s, std::initializer_list<int> bytes) {
  NullSink sink;
  for (int b : bytes) ReceiveByte(s, static_cast<std::uint8_t>(b), sink);
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  lines.push_back(text.substr(start));
  return lines;
}

// The character at a column, counting each UTF-8 sequence as one.
std::string CellAt(const std::string& line, int column) {
  size_t i = 0;
  for (int c = 0; i < line.size(); ++c) {
    size_t len = 1;
    while (i + len < line.size() && (static_cast<unsigned char>(line[i + len]) & 0xC0) == 0x80)
      ++len;
    if (c == column) return line.substr(i, len);
    i += len;
  }
  return " ";
}

TEST(TermView, BarsFillUpToTheLevel) {
  // 80 columns: bar i spans columns 4*(i+5) and the next. The third line above the status
  // line is the lowest that every bar covers whole.
  MeterState s;
  Feed(s, {0xA3, 0x80, 0xC5});
  const auto lines = Split(RenderMeterText(s, 80, 24, true));
  ASSERT_EQ(lines.size(), 24u);
  const std::string& foot = lines[lines.size() - 4];
  for (int i = 0; i < 15; ++i)
    EXPECT_EQ(CellAt(foot, 4 * (i + 5)), i < 5 ? "\u2588" : "\u2591") << "bar " << i;
  EXPECT_EQ(lines.back(), "網番号:不明");
}

TEST(TermView, HollowAntennaIsShadedAndAsciiHasWords) {
  MeterState hollow;
  Feed(hollow, {0xA3, 0xAD, 1, 2, 3, 4});
  const auto utf8 = Split(RenderMeterText(hollow, 80, 24, true));
  const auto ascii = Split(RenderMeterText(hollow, 80, 24, false));
  // The mast stands at columns 16..18 (8/40 to 9/40 of the width).
  EXPECT_EQ(CellAt(utf8[15], 17), "\u2591");
  EXPECT_EQ(CellAt(ascii[15], 17), ":");
  EXPECT_EQ(utf8.back(), "網番号:1234");
  EXPECT_EQ(ascii.back(), "network number: 1234");
  for (const std::string& line : ascii)
    for (char c : line) ASSERT_TRUE(c >= 0x20 && c < 0x7F) << line;

  MeterState filled;
  Feed(filled, {0x90});
  EXPECT_EQ(CellAt(Split(RenderMeterText(filled, 80, 24, true))[15], 17), "\u2588");
  EXPECT_EQ(AsciiStatus(filled), "switch the handset off and on again");
  const MeterState fresh;
  EXPECT_EQ(AsciiStatus(fresh), "handset is off");
}

TEST(TermView, TinyAndHugeTerminalsStillRender) {
  for (auto [cols, rows] : {std::pair{1, 1}, {2, 2}, {10, 3}, {500, 200}}) {
    const MeterState fresh;
    const auto lines = Split(RenderMeterText(fresh, cols, rows, false));
    EXPECT_EQ(static_cast<int>(lines.size()), std::max(rows, 2)) << cols << "x" << rows;
  }
}

}  // namespace
}  // namespace tovmir
