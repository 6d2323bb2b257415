#include "render/raster.h"

#include <cstdlib>

namespace tovmir {
namespace {

bool Inside(const Point* p, int n, double x, double y) {
  bool in = false;
  for (int i = 0, j = n - 1; i < n; j = i++) {
    if ((p[i].y > y) != (p[j].y > y) &&
        x < (p[j].x - p[i].x) * (y - p[i].y) / double(p[j].y - p[i].y) + p[i].x)
      in = !in;
  }
  return in;
}

}  // namespace

void Raster::Set(int x, int y, std::uint8_t v) {
  if (x >= 0 && y >= 0 && x < width_ && y < height_) px_[static_cast<size_t>(y) * width_ + x] = v;
}

void Raster::Polygon(std::span<const Point> p, std::uint8_t fill, std::uint8_t outline) {
  const int n = static_cast<int>(p.size());
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x)
      if (Inside(p.data(), n, x + 0.5, y + 0.5)) Set(x, y, fill);
  for (int i = 0; i < n; ++i) Line(p[i], p[(i + 1) % n], outline);
}

void Raster::Fill(const Rect& r, std::uint8_t v) {
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) Set(x, y, v);
}

void Raster::Rectangle(const Rect& r, std::uint8_t fill, std::uint8_t outline) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  Fill(r, outline);
  Fill({r.left + 1, r.top + 1, r.right - 1, r.bottom - 1}, fill);
}

void Raster::Line(Point a, Point b, std::uint8_t v) {
  const int dx = std::abs(b.x - a.x), dy = -std::abs(b.y - a.y);
  const int sx = a.x < b.x ? 1 : -1, sy = a.y < b.y ? 1 : -1;
  for (int err = dx + dy;;) {
    Set(a.x, a.y, v);
    if (a.x == b.x && a.y == b.y) break;
    const int e2 = 2 * err;
    if (e2 >= dy) err += dy, a.x += sx;
    if (e2 <= dx) err += dx, a.y += sy;
  }
}

}  // namespace tovmir
