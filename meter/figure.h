// figure.h: the meter figure (antenna, 15 bars, status line) for a given client size.
//
// ComputeFigure is pure integer and double arithmetic on the client width W, the meter
// height H (client height minus 20, at least 1), the level and the antenna flag. PaintFigure
// hands the result to a FigureSurface in paint order; every surface (the Windows GDI, the
// Linux PNG renderer, the tool's call listing) draws the same calls. Nothing is kept between
// paints. Any thread may call these.
#pragma once

#include <span>
#include <string_view>

namespace tovmir {

struct Point {
  int x, y;
  bool operator==(const Point&) const = default;
};

// GDI's rectangle convention: columns left..right-1, rows top..bottom-1.
struct Rect {
  int left, top, right, bottom;
  bool operator==(const Rect&) const = default;
};

enum class Brush {
  kBlack,
  kFace,    // the button-face colour: hollow antenna and empty bars
  kCutout,  // the button-face colour again, a brush of its own: the antenna's cut-outs
};

inline constexpr int kBarCount = 15;
inline constexpr int kStatusBand = 20;  // client pixels below the meter for the status line

// Sizes the figure is defined for (a window client area can be no larger).
inline constexpr int kMaxExtent = 32767;

struct MeterFigure {
  Brush antenna_brush;
  Point antenna[6];
  bool cutouts;  // false when the window is too narrow or too low for them
  Point left_cutout[3];
  Point right_cutout[3];
  Brush bar_brush[kBarCount];
  Rect bars[kBarCount];
  Rect status;
};

// W in 0..kMaxExtent, H in 1..kMaxExtent, level in 0..15; values outside are clamped.
MeterFigure ComputeFigure(int width, int height, int level, bool hollow);

// The meter height for a client area: client height minus the status band, at least 1.
int MeterHeight(int client_height);

class FigureSurface {
 public:
  // A closed polygon through every one of the points.
  virtual void Polygon(Brush brush, std::span<const Point> points) = 0;
  virtual void Rectangle(Brush brush, const Rect& r) = 0;
  // One line, left- and bottom-aligned in r, not clipped, on an opaque button-face
  // background, in black; text in code page 932.
  virtual void Text(const Rect& r, std::string_view cp932) = 0;

 protected:
  ~FigureSurface() = default;
};

// Draws the figure: antenna, cut-outs, bars left to right, then the status line.
void PaintFigure(const MeterFigure& figure, std::string_view status_cp932, FigureSurface& out);

}  // namespace tovmir
