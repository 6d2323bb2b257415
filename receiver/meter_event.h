// meter_event.h: what happens to a meter, as its front ends report it (a line printed, a
// log written, a window redrawn): its start, a received byte, a tick of the watchdog, its
// port lost or opened, and where it was; and a RedrawSink that counts what the logic asks
// for. Pure.
#pragma once

#include <cstdint>

#include "receiver/receiver.h"

namespace tovmir {

struct MeterEvent {
  // kGps and kPosition are monitor's: its source of positions said something (connected,
  // lost), and a new position came.
  enum Kind { kInit, kByte, kTick, kLost, kOpen, kGps, kPosition } kind = kInit;
  std::uint8_t byte = 0;  // kByte only
  int redraws = 0;        // the repaints it asked for
};

class CountingSink final : public RedrawSink {
 public:
  void RequestRedraw() override { ++count; }
  int count = 0;
};

}  // namespace tovmir
