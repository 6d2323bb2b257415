// plot_png.h: a monitor session drawn as a picture, with cairo and Pango: the reception
// level over time as a step line on a 0-15 axis, the stretches when the handset was silent
// shaded, the antenna's state as a band above, network-number changes marked, and a time
// axis with ticks at round clock times. Single-threaded.
#pragma once

#include <string>
#include <vector>

#include "events/log_reader.h"
#include "meter/figure.h"
#include "render/chart.h"

namespace tovmir {

// Where things go on a picture of width x height pixels for a session of `seconds`.
struct PlotLayout {
  int left, top, right, bottom;  // the plot area: level 0 at the bottom, kTopLevel at the top
  double seconds;
  static constexpr int kTopLevel = kBarCount;  // every bar filled
  double XOf(double t) const { return left + (right - left) * (seconds > 0 ? t / seconds : 0); }
  double YOf(double level) const { return bottom - (bottom - top) * level / kTopLevel; }
};
PlotLayout LayoutPlot(int width, int height, double seconds);

// Colours, 0xRRGGBB: the picture's ground, the level line, the silent stretches, a step of
// the clock.
inline constexpr unsigned kPlotGround = kChartGround, kPlotLine = 0x005AC8, kPlotSilence = 0xFFE0B2,
                          kPlotClockStep = 0xC80000;

// Sizes a picture may have.
inline constexpr int kMinPlotWidth = 200, kMaxPlotWidth = 8000;
inline constexpr int kMinPlotHeight = 120, kMaxPlotHeight = 4000;

// Draws the session and writes it as PNG. Returns an empty string on success, otherwise
// what went wrong.
std::string WritePlotPng(const LogSession& session, int width, int height, const std::string& path);

}  // namespace tovmir
