// meter_paint.h: the meter figure drawn through the Windows GDI, on the window's thread.
#pragma once

#include <span>
#include <string_view>

#include "meter/figure.h"
#include "platform/afx/gdi.h"
#include "receiver/meter_state.h"

namespace tovmir {

// Draws the antenna, the bars and the status line for a client width and meter height.
// The pen and brushes are made for this paint and released before it returns.
void PaintMeter(CDC& dc, int width, int meter_height, const MeterState& state);

// The figure's calls carried out on a device context: one-pixel black outlines, brushes
// selected per shape, the previous pen and brush put back when it goes.
class GdiFigureSurface final : public FigureSurface {
 public:
  explicit GdiFigureSurface(CDC& dc);
  ~GdiFigureSurface();

  void Polygon(Brush brush, std::span<const Point> points) override;
  void Rectangle(Brush brush, const Rect& r) override;
  void Text(const Rect& r, std::string_view cp932) override;

 private:
  void Select(Brush b);

  CDC& dc_;
  CPen pen_;
  CBrush black_, face_, cutout_;
  HGDIOBJ old_pen_ = nullptr;
  HGDIOBJ old_brush_ = nullptr;
};

}  // namespace tovmir
