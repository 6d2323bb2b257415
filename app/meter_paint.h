// meter_paint.h: the meter figure drawn through the Windows GDI, on the window's thread.
#pragma once

#include "platform/win32/gdi.h"
#include "receiver/meter_state.h"

namespace tovmir {

// Draws the antenna, the bars and the status line for a client width and meter height.
// The pen and brushes are made for this paint and released before it returns.
void PaintMeter(CDC& dc, int width, int meter_height, const MeterState& state);

}  // namespace tovmir
