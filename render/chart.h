// chart.h: the look the session's pictures share (the plot, the map): the font and its
// size, colours given as 0xRRGGBB, labels placed by a corner, the ground and the PNG. Called while
// drawing one picture, on its thread.
#pragma once

#include <cairo.h>

#include <functional>
#include <string>

namespace tovmir {

inline constexpr int kChartFontPixels = 11;
inline constexpr unsigned kChartGround = 0xFFFFFF, kChartText = 0x000000;

void SetColour(cairo_t* cr, unsigned rgb);
// Text with its top left at (x, y); align 0 left, 0.5 centred, 1 right of x. Returns its
// width.
int Label(cairo_t* cr, const std::string& text, double x, double y, double align = 0);

// A picture of width x height pixels, on the ground, made by draw (crisp edges, exact
// colours) and written as PNG to path, whole or not at all. "" or what went wrong.
std::string WriteChart(int width, int height, const std::string& path,
                       const std::function<void(cairo_t*)>& draw);

}  // namespace tovmir
