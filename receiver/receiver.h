// receiver.h: the handset's byte decoder, the silence watchdog and the status line.
//
// Pure logic over a MeterState. What every front end keeps to (each front end's main
// header says how; CONTRIBUTING.md, "One byte's way"):
//  - Bytes go through ReceiveByte one at a time, in the order they came, from one thread at
//    a time (the reader's, where it runs); WatchdogTick once every 500 ms, from one thread
//    at a time. The two may run at once on two threads: every field is read and written
//    whole (meter_state.h), and the one race between them, a byte's reset of the silence
//    count falling inside a tick, is settled by the tick in the byte's favour. A front end
//    may also run both under one lock of its own.
//  - Each call asks for at most one redraw, through the RedrawSink the caller passes,
//    after the new value is stored and before the shown copy is updated.
//  - StatusLineText and the painter read the state on the painting thread; a paint may see
//    a state a byte is changing, and the redraw that byte asks for corrects it.
#pragma once

#include <cstdint>
#include <string>

#include "receiver/meter_state.h"

namespace tovmir {

// The watchdog's period: WatchdogTick once every this many milliseconds.
inline constexpr int kWatchdogMs = 500;

// Implemented by whatever shows the meter, called from the thread that decoded the byte or
// ran the tick: a repaint of the whole meter, showing the state as it is then or later. It
// may be done before the call returns (the Windows program: RedrawWindow with
// RDW_UPDATENOW, the reader waiting for the window's thread) or only asked for and done
// soon after (the Linux window's next frame, monitor's printed line); what a front end
// must not do is drop it.
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

// WatchdogTick in its two steps. WatchdogCount returns the count before this tick;
// WatchdogTimeout acts on it. Apart only so that a test can put a byte's counter reset
// between them: the race they settle cannot be timed from outside.
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
