// raster.h: a small grid of pixel values with the meter figure's shapes drawn the way GDI
// draws them (interiors by pixel centres, one-pixel outlines through the vertices). For the
// icon generator and the terminal view. Single-threaded.
#pragma once

#include <cstdint>
#include <vector>

#include "meter/figure.h"

namespace tovmir {

class Raster {
 public:
  Raster(int width, int height, std::uint8_t background)
      : width_(width), height_(height), px_(static_cast<size_t>(width) * height, background) {}
  int width() const { return width_; }
  int height() const { return height_; }
  std::uint8_t at(int x, int y) const { return px_[static_cast<size_t>(y) * width_ + x]; }
  void Set(int x, int y, std::uint8_t v);

  // The interior in `fill`, then the outline in `outline`.
  void Polygon(std::span<const Point> p, std::uint8_t fill, std::uint8_t outline);
  // Columns left..right-1, rows top..bottom-1.
  void Fill(const Rect& r, std::uint8_t v);
  // GDI's Rectangle: the box in `fill`, its one-pixel edge, inside the box, in `outline`.
  void Rectangle(const Rect& r, std::uint8_t fill, std::uint8_t outline);

 private:
  void Line(Point a, Point b, std::uint8_t v);
  int width_, height_;
  std::vector<std::uint8_t> px_;
};

}  // namespace tovmir
