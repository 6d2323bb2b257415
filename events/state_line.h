// state_line.h: what replay and monitor print of the meter after each event: a line of
// key=value pairs, or the same as a JSON object (one per line: JSON Lines), the log's
// format (log_reader.h reads it back). Pure.
#pragma once

#include <cstdint>
#include <string>

#include "events/position.h"
#include "receiver/meter_event.h"
#include "receiver/receiver.h"

namespace tovmir {

// Where and when an event happened, for monitor's JSON.
struct EventStamp {
  std::string time;     // RFC 3339 with milliseconds
  double elapsed = -1;  // seconds since monitor started, on a clock nobody sets
  std::string port;     // as the user named it
  std::string reason;   // why the port was lost (kLost), what the position source said (kGps)
  const Position* position = nullptr;  // where the meter was, when positions are asked for
};

// "WHAT level=.. shown=.. ... redraws=N status=TEXT" (WHAT: init, byte C7, tick, position
// or gps), the status line in UTF-8, then the position's pairs when one is given; no
// newline.
std::string StateLine(const MeterEvent& e, const MeterState& s, const Position* position = nullptr);

// {"time":...,"elapsed":12.345,"port":"/dev/ttyUSB0","event":"byte","byte":"C7","level":7,
//  "antenna":"filled","net":"1234","receiving":true,"start":true,"status":"...",
//  "redraws":1,"fix":"3d","lat":...}: time, elapsed and port only when the stamp has them,
// byte only for a byte, reason only when the port was lost or for the position source, net
// null when not known, the position (position.h) when the stamp has one.
std::string StateJson(const MeterEvent& e, const MeterState& s, const EventStamp& stamp = {});

}  // namespace tovmir
