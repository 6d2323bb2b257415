// term_view.h: the meter drawn with text, for a terminal: the antenna and the 15 bars at
// two figure pixels per character cell (half blocks), the status line below them. Plain
// ASCII when the terminal cannot show UTF-8. Pure function of the state; any thread.
#pragma once

#include <string>

#include "receiver/meter_state.h"

namespace tovmir {

// rows lines of at most columns cells each, without control sequences, joined by '\n'.
std::string RenderMeterText(const MeterState& s, int columns, int rows, bool utf8);

// The status line in words a plain ASCII terminal can show.
std::string AsciiStatus(const MeterState& s);

}  // namespace tovmir
