// Arbitrary streams of bytes and ticks through the receiver logic, checking the state's
// invariants after every token. Input: pairs of bytes; an even first byte of a pair means a
// received byte (the second), an odd one a watchdog tick.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "receiver/receiver.h"

namespace {

class CountingSink : public tovmir::RedrawSink {
 public:
  void RequestRedraw() override { ++count; }
  int count = 0;
};

void Require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tovmir::MeterState s;
  CountingSink sink;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    sink.count = 0;
    if (data[i] & 1)
      tovmir::WatchdogTick(s, sink);
    else
      tovmir::ReceiveByte(s, data[i + 1], sink);
    Require(s.m_nLevel >= 0 && s.m_nLevel <= 15);
    Require(s.m_nLevelShown >= 0 && s.m_nLevelShown <= 15);
    Require(s.m_nNetNo == -1 || (s.m_nNetNo >= 0 && s.m_nNetNo <= 0xFFFF));
    Require(s.m_nMode == 0 || s.m_nMode == tovmir::kNetLeadIn);
    Require(s.m_bHollow <= 1 && s.m_bHollowShown <= 1);
    Require(sink.count <= 1);
    Require(!tovmir::StatusLineText(s).empty());
  }
  return 0;
}
