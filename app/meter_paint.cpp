#include "app/meter_paint.h"

#include <vector>

#include "receiver/receiver.h"

namespace tovmir {

GdiFigureSurface::GdiFigureSurface(CDC& dc)
    : dc_(dc),
      pen_(PS_SOLID, 0, RGB(0, 0, 0)),
      black_(RGB(0, 0, 0)),
      face_(GetSysColor(COLOR_BTNFACE)),
      cutout_(GetSysColor(COLOR_BTNFACE)) {
  dc_.SetBkColor(GetSysColor(COLOR_BTNFACE));
  old_pen_ = dc_.SelectObject(pen_);
}

GdiFigureSurface::~GdiFigureSurface() {
  dc_.SelectObject(old_pen_);
  if (old_brush_) dc_.SelectObject(old_brush_);
}

void GdiFigureSurface::Polygon(Brush brush, std::span<const Point> points) {
  Select(brush);
  std::vector<POINT> pts;  // as many as were given: GDI reads exactly these
  for (const Point& p : points) pts.push_back({p.x, p.y});
  dc_.Polygon(pts.data(), static_cast<int>(pts.size()));
}

void GdiFigureSurface::Rectangle(Brush brush, const Rect& r) {
  Select(brush);
  dc_.Rectangle(r.left, r.top, r.right, r.bottom);
}

void GdiFigureSurface::Text(const Rect& r, std::string_view cp932) {
  dc_.SetTextColor(RGB(0, 0, 0));
  RECT rc = {r.left, r.top, r.right, r.bottom};
  dc_.DrawText(CString(std::string(cp932)), &rc, DT_SINGLELINE | DT_BOTTOM | DT_NOCLIP);
}

void GdiFigureSurface::Select(Brush b) {
  const CBrush& brush = b == Brush::kBlack ? black_ : b == Brush::kFace ? face_ : cutout_;
  HGDIOBJ old = dc_.SelectObject(brush);
  if (!old_brush_) old_brush_ = old;
}

void PaintMeter(CDC& dc, int width, int meter_height, const MeterState& state) {
  GdiFigureSurface surface(dc);
  PaintFigure(ComputeFigure(width, meter_height, state.m_nLevel, state.m_bHollow != 0),
              StatusLineText(state), surface);
}

}  // namespace tovmir
