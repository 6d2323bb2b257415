// state_line.h: what replay and monitor print of the meter after each event: a line of
// key=value pairs, or the same as a JSON object (one per line: JSON Lines); and a
// RedrawSink that counts requests. Single-threaded helpers.
#pragma once

#include <cstdint>
#include <string>

#include "receiver/receiver.h"

namespace tovmir {

// What happened to the meter: its start, a received byte, or a tick of the watchdog.
struct MeterEvent {
  enum Kind { kInit, kByte, kTick } kind = kInit;
  std::uint8_t byte = 0;  // kByte only
  int redraws = 0;        // the repaints it asked for
};

// "WHAT level=.. shown=.. ... redraws=N status=TEXT" (WHAT: init, byte C7 or tick), the
// status line in UTF-8, no newline.
std::string StateLine(const MeterEvent& e, const MeterState& s);

// {"time":...,"elapsed":12.345,"event":"byte","byte":"C7","level":7,"antenna":"filled",
//  "net":"1234","receiving":true,"start":true,"status":"...","redraws":1}: time (RFC 3339
// with milliseconds) only when given, elapsed (seconds) only when not negative, byte only
// for a byte, net null when not known.
std::string StateJson(const MeterEvent& e, const MeterState& s, const std::string& time = {},
                      double elapsed = -1);

class CountingSink : public RedrawSink {
 public:
  void RequestRedraw() override { ++count; }
  int count = 0;
};

}  // namespace tovmir
