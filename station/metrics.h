// metrics.h: what monitor --listen serves at /metrics: each port's meter and counters in
// Prometheus' text exposition format (version 0.0.4), with the names and units of
// Prometheus' conventions and `port` as the label. Pure; any thread.
#pragma once

#include <span>
#include <string>

#include "events/position.h"

namespace tovmir {

// One port as a scrape finds it.
struct PortMetrics {
  std::string port;  // as the user named it
  bool up = false;   // the port is open
  int level = 0;     // 0-15
  bool antenna_filled = false;
  bool receiving = false;   // bytes came in the last two seconds
  bool start_seen = false;  // the handset announced a fresh start since it last fell silent
  int net = -1;             // the network number, -1 when not known
  long long bytes = 0;      // received since monitor started
  long long silences = 0;   // times the handset fell silent
  long long reopens = 0;    // times the port was opened again after it was lost
  double last_byte = 0;     // when the last byte came, seconds since 1970; 0: none yet
};

// position: where the station is, when it reads positions (monitor --gps): its fix, and
// with one its place, height, error and age.
std::string MetricsText(std::span<const PortMetrics> ports, const std::string& version,
                        const Position* position = nullptr);

}  // namespace tovmir
