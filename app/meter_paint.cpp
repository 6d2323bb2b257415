#include "app/meter_paint.h"

#include "meter/figure.h"
#include "receiver/receiver.h"

namespace tovmir {
namespace {

// Carries the figure's calls out on a device context: one-pixel black outlines, brushes
// selected per shape, the previous pen and brush put back at the end.
class GdiSurface : public FigureSurface {
 public:
  explicit GdiSurface(CDC& dc)
      : dc_(dc),
        pen_(PS_SOLID, 0, RGB(0, 0, 0)),
        black_(RGB(0, 0, 0)),
        face_(GetSysColor(COLOR_BTNFACE)),
        cutout_(GetSysColor(COLOR_BTNFACE)) {
    dc_.SetBkColor(GetSysColor(COLOR_BTNFACE));
    old_pen_ = dc_.SelectObject(pen_);
  }
  ~GdiSurface() {
    dc_.SelectObject(old_pen_);
    if (old_brush_) dc_.SelectObject(old_brush_);
  }

  void Polygon(Brush brush, const Point* p, int n) override {
    Select(brush);
    POINT pts[6];
    for (int i = 0; i < n && i < 6; ++i) pts[i] = {p[i].x, p[i].y};
    dc_.Polygon(pts, n);
  }
  void Rectangle(Brush brush, const Rect& r) override {
    Select(brush);
    dc_.Rectangle(r.left, r.top, r.right, r.bottom);
  }
  void Text(const Rect& r, std::string_view cp932) override {
    dc_.SetTextColor(RGB(0, 0, 0));
    RECT rc = {r.left, r.top, r.right, r.bottom};
    dc_.DrawText(CString(std::string(cp932)), &rc, DT_SINGLELINE | DT_BOTTOM | DT_NOCLIP);
  }

 private:
  void Select(Brush b) {
    const CBrush& brush = b == Brush::kBlack ? black_ : b == Brush::kFace ? face_ : cutout_;
    HGDIOBJ old = dc_.SelectObject(brush);
    if (!old_brush_) old_brush_ = old;
  }

  CDC& dc_;
  CPen pen_;
  CBrush black_, face_, cutout_;
  HGDIOBJ old_pen_ = nullptr;
  HGDIOBJ old_brush_ = nullptr;
};

}  // namespace

void PaintMeter(CDC& dc, int width, int meter_height, const MeterState& state) {
  GdiSurface surface(dc);
  PaintFigure(ComputeFigure(width, meter_height, state.m_nLevel, state.m_bHollow != 0),
              StatusLineText(state), surface);
}

}  // namespace tovmir
