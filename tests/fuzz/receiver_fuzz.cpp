// Arbitrary streams of bytes and ticks through the receiver logic, checking the state's
// invariants after every token. Input: pairs of bytes; an even first byte of a pair means a
// received byte (the second), an odd one a watchdog tick.
#include <cstddef>
#include <cstdint>

#include "receiver/receiver.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

class CountingSink : public tovmir::RedrawSink {
 public:
  void RequestRedraw() override { ++count; }
  int count = 0;
};

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
    FUZZ_CHECK(s.m_nLevel >= 0 && s.m_nLevel <= 15);
    FUZZ_CHECK(s.m_nLevelShown >= 0 && s.m_nLevelShown <= 15);
    FUZZ_CHECK(s.m_nNetNo == -1 || (s.m_nNetNo >= 0 && s.m_nNetNo <= 0xFFFF));
    FUZZ_CHECK(s.m_nMode == 0 || s.m_nMode == tovmir::kNetLeadIn);
    FUZZ_CHECK(s.m_bHollow <= 1 && s.m_bHollowShown <= 1);
    FUZZ_CHECK(sink.count <= 1);
    FUZZ_CHECK(!tovmir::StatusLineText(s).empty());
  }
  return 0;
}
