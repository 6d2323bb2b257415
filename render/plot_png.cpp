#include "render/plot_png.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "render/cairo_painter.h"
#include "render/chart.h"

namespace tovmir {
namespace {

constexpr int kFontPixels = kChartFontPixels;
constexpr int kBandHeight = 8;    // the antenna band above the plot area
constexpr int kBandGap = 14;      // between the band and the plot area, for the top level's label
constexpr int kTickSpacing = 90;  // the fewest pixels between two time ticks
constexpr int kTickLength = 4;
constexpr int kLabelGap = 6;    // between a label and what it names
constexpr int kLabelSpace = 8;  // between two labels side by side
constexpr int kLevelStep = 5;   // a grid line and a label every fifth level
// The margins around the plot area: the title and the band above, the level labels to the
// left, the time labels below.
constexpr int kLeftMargin = 56, kRightMargin = 16, kTitleHeight = 30, kBottomMargin = 8;

// Colours, 0xRRGGBB, beside the ones a test looks for (plot_png.h).
constexpr unsigned kText = kChartText, kGrid = 0xDDDDDD, kAntennaFilled = 0x404040,
                   kAntennaHollow = 0xFFFFFF, kNetwork = 0x008C00;

// The first tick step, in seconds, that leaves room between labels.
double TickStep(double seconds, int pixels) {
  static const double kSteps[] = {1,   2,   5,    10,   15,   30,    60,    120,   300,
                                  600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
  for (double step : kSteps)
    if (seconds / step * kTickSpacing <= pixels) return step;
  return 86400 * std::ceil(seconds / 86400 * kTickSpacing / pixels);
}

// The time axis, ticked at round clock times. Where the clock was set, its ticks go on
// from the new reading, and a line marks the step.
void DrawTimeAxis(cairo_t* cr, const LogSession& s, const PlotLayout& at) {
  const double step = TickStep(s.end, at.right - at.left);
  SetColour(cr, kText);
  cairo_move_to(cr, at.left, at.bottom + 0.5);
  cairo_line_to(cr, at.right, at.bottom + 0.5);
  cairo_stroke(cr);
  double free_from = at.left - kTickSpacing;  // labels do not overlap across a step
  for (size_t k = 0; k < s.clock.size(); ++k) {
    const ClockMark& mark = s.clock[k];
    const bool last = k + 1 == s.clock.size();
    const double until = last ? s.end : s.clock[k + 1].t;
    if (k > 0) {
      const ClockMark& before = s.clock[k - 1];
      const bool back = mark.clock < before.clock + (mark.t - before.t);
      const double x = std::round(at.XOf(mark.t)) + 0.5;
      SetColour(cr, kPlotClockStep);
      cairo_move_to(cr, x, at.top);
      cairo_line_to(cr, x, at.bottom + kTickLength);
      cairo_stroke(cr);
      Label(cr, back ? "clock set back" : "clock set forward", x + 2, at.top + 2);
    }
    SetColour(cr, kText);
    for (double clock = std::ceil(mark.clock / step) * step;; clock += step) {
      const double t = clock - mark.clock + mark.t;
      if (t > until || (t == until && !last)) break;  // the next mark's clock goes on from there
      const double x = std::round(at.XOf(t)) + 0.5;
      cairo_move_to(cr, x, at.bottom);
      cairo_line_to(cr, x, at.bottom + kTickLength);
      cairo_stroke(cr);
      if (x - free_from < kTickSpacing * 0.6) continue;
      Label(cr, ClockOfDay(clock, step < 60), x, at.bottom + kLabelGap, 0.5);
      free_from = x;
    }
  }
}

// Where the sample i holds, up to the next sample or the session's end.
double Until(const LogSession& s, size_t i) {
  return i + 1 < s.samples.size() ? s.samples[i + 1].t : s.end;
}

// The silent stretches, shaded under everything else.
void DrawSilences(cairo_t* cr, const LogSession& s, const PlotLayout& at) {
  SetColour(cr, kPlotSilence);
  for (size_t i = 0; i < s.samples.size(); ++i) {
    if (s.samples[i].receiving) continue;
    const double x = at.XOf(s.samples[i].t);
    cairo_rectangle(cr, x, at.top, at.XOf(Until(s, i)) - x, at.bottom - at.top);
  }
  cairo_fill(cr);
}

// The level axis: a grid line and a label for every fifth level.
void DrawLevelAxis(cairo_t* cr, const PlotLayout& at) {
  for (int level = 0; level <= PlotLayout::kTopLevel; level += kLevelStep) {
    const double y = std::round(at.YOf(level)) + 0.5;
    SetColour(cr, kGrid);
    cairo_move_to(cr, at.left, y);
    cairo_line_to(cr, at.right, y);
    cairo_stroke(cr);
    SetColour(cr, kText);
    Label(cr, std::to_string(level), at.left - kLabelGap, at.YOf(level) - kFontPixels * 0.7, 1);
  }
}

// The antenna: a dark band while filled, an outlined one while hollow.
void DrawAntennaBand(cairo_t* cr, const LogSession& s, const PlotLayout& at, double top) {
  for (size_t i = 0; i < s.samples.size(); ++i) {
    const double x = at.XOf(s.samples[i].t);
    SetColour(cr, s.samples[i].hollow ? kAntennaHollow : kAntennaFilled);
    cairo_rectangle(cr, x, top, at.XOf(Until(s, i)) - x, kBandHeight);
    cairo_fill(cr);
  }
  SetColour(cr, kAntennaFilled);
  cairo_rectangle(cr, at.left + 0.5, top + 0.5, at.right - at.left - 1, kBandHeight - 1);
  cairo_stroke(cr);
  Label(cr, "antenna", at.left - kLabelGap, top + kBandHeight / 2.0 - kFontPixels * 0.7, 1);
}

// Network-number changes: a dashed line, and the new number above the band where there is
// room for it.
void DrawNetworkMarks(cairo_t* cr, const LogSession& s, const PlotLayout& at, double band_top) {
  double free_from = at.left;
  int net = -1;
  for (const LogSample& p : s.samples) {
    if (p.net == net) continue;
    net = p.net;
    if (net < 0) continue;
    const double x = std::round(at.XOf(p.t)) + 0.5;
    SetColour(cr, kNetwork);
    const double dash = 3;
    cairo_set_dash(cr, &dash, 1, 0);
    cairo_move_to(cr, x, at.top);
    cairo_line_to(cr, x, at.bottom);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
    char text[16];
    std::snprintf(text, sizeof text, "%04X", net);
    if (x >= free_from)
      free_from = x + Label(cr, text, x + 2, band_top - kFontPixels - kLabelGap) + kLabelSpace;
  }
}

// The level, held from each line to the next.
void DrawLevelLine(cairo_t* cr, const LogSession& s, const PlotLayout& at) {
  SetColour(cr, kPlotLine);
  cairo_set_line_width(cr, 2);
  for (size_t i = 0; i < s.samples.size(); ++i) {
    const double y = std::round(at.YOf(s.samples[i].level));
    const double x = std::round(at.XOf(s.samples[i].t));
    if (i == 0)
      cairo_move_to(cr, x, y);
    else
      cairo_line_to(cr, x, y);
    cairo_line_to(cr, std::round(at.XOf(Until(s, i))), y);
  }
  cairo_stroke(cr);
  cairo_set_line_width(cr, 1);
}

void Draw(cairo_t* cr, const LogSession& s, int width, int height) {
  const PlotLayout at = LayoutPlot(width, height, s.end);
  cairo_set_line_width(cr, 1);
  const double band_top = at.top - kBandHeight - kBandGap;
  DrawSilences(cr, s, at);
  DrawLevelAxis(cr, at);
  DrawTimeAxis(cr, s, at);
  DrawAntennaBand(cr, s, at, band_top);
  DrawNetworkMarks(cr, s, at, band_top);
  DrawLevelLine(cr, s, at);
  SetColour(cr, kText);
  Label(cr,
        "tovmir reception, " + s.date + " " + ClockOfDay(s.clock.front().clock, true) +
            "  (level 0-" + std::to_string(PlotLayout::kTopLevel) + "; shaded: handset silent)",
        8, 4);
}

}  // namespace

PlotLayout LayoutPlot(int width, int height, double seconds) {
  // Room for the title and the antenna band above, the level labels to the left and the
  // time labels below.
  return {kLeftMargin, kTitleHeight + 2 * kFontPixels + kBandHeight + kBandGap,
          width - kRightMargin, height - 2 * kFontPixels - kBottomMargin, seconds};
}

std::string WritePlotPng(const LogSession& session, int width, int height,
                         const std::string& path) {
  return WriteChart(width, height, path, [&](cairo_t* cr) { Draw(cr, session, width, height); });
}

}  // namespace tovmir
