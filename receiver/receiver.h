// receiver.h: the handset's byte decoder, the silence watchdog and the status line.
//
// Pure logic over a MeterState. DecodeByte and ReceiveByte run on the reader thread;
// WatchdogTick and StatusLineText on the window's thread. Each of them asks for at most one
// redraw per call, through the RedrawSink the caller passes.
#pragma once

#include <cstdint>
#include <string>

#include "receiver/meter_state.h"

namespace tovmir {

// Implemented by whatever shows the meter: an immediate, complete repaint that has finished
// when the call returns. May be called from the reader thread.
class RedrawSink {
 public:
  virtual void RequestRedraw() = 0;

 protected:
  ~RedrawSink() = default;
};

// Decodes s.m_byRx, the byte just read.
void DecodeByte(MeterState& s, RedrawSink& sink);

// Forgets a network-number group under way (the mode, the byte counters, the digits
// gathered), so that the bytes of a new connection do not finish what an old one began.
// What the meter shows stays.
void ResetDecoder(MeterState& s);

// What the reader does with each byte it reads: note the traffic (counter reset, receiving
// flag), then decode it.
void ReceiveByte(MeterState& s, std::uint8_t b, RedrawSink& sink);

// One tick of the 500 ms watchdog timer: the fourth tick after the last byte, and every
// tick after it while the line stays silent, clears the receiving flags and advances the
// level by one (the sweep).
void WatchdogTick(MeterState& s, RedrawSink& sink);

// WatchdogTick in its two steps, so that a reader's counter reset can be placed between
// them. WatchdogCount returns the count before this tick; WatchdogTimeout acts on it.
std::int32_t WatchdogCount(MeterState& s);
void WatchdogTimeout(MeterState& s, std::int32_t before, RedrawSink& sink);

// The status line for the current state, in code page 932 (Shift-JIS) like every text the
// program holds.
std::string StatusLineText(const MeterState& s);

// The fixed parts of the status line, code page 932.
extern const char kTextPowerOff[];    // the handset's power is not on
extern const char kTextRestart[];     // switch the handset off and on again
extern const char kTextNetLabel[];    // "network number:"
extern const char kTextNetUnknown[];  // "not known"

}  // namespace tovmir
