// The silence watchdog.
#include "receiver/receiver.h"

namespace tovmir {
namespace {
// Ticks after the last byte that still count as traffic; the next one times out.
constexpr std::int32_t kQuietTicks = 3;
}  // namespace

std::int32_t WatchdogCount(MeterState& s) { return s.m_nSilentTicks.FetchAdd(1); }

void WatchdogTimeout(MeterState& s, std::int32_t before, RedrawSink& sink) {
  if (before < kQuietTicks) return;
  // Park the counter only if no byte reset it since this tick counted; otherwise the byte
  // wins and this tick is not a timeout.
  if (!s.m_nSilentTicks.CompareExchange(before + 1, kSilentParked)) return;
  s.m_bReceiving = 0;
  s.m_bStartSeen = 0;
  s.m_nLevel = (s.m_nLevel + 1) & 0x0F;
  sink.RequestRedraw();
  s.m_nLevelShown = s.m_nLevel;
}

void WatchdogTick(MeterState& s, RedrawSink& sink) { WatchdogTimeout(s, WatchdogCount(s), sink); }

}  // namespace tovmir
