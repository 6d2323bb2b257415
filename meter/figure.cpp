// The meter figure's geometry. Every coordinate is a fixed fraction of the width or of the
// meter height, so the figure scales with the window.
#include "meter/figure.h"

#include <algorithm>
#include <cmath>

namespace tovmir {
namespace {

// Truncation toward zero, held inside int so that no size can make the conversion undefined.
int Trunc(double v) {
  constexpr double kLimit = 2147483520.0;  // below INT_MAX, exactly representable
  if (!(v == v)) return 0;
  return static_cast<int>(std::clamp(v, -kLimit, kLimit));
}

}  // namespace

int MeterHeight(int client_height) {
  const int h = client_height - kStatusBand;
  return h > 0 ? h : 1;
}

MeterFigure ComputeFigure(int width, int height, int level, bool hollow) {
  const int W = std::clamp(width, 0, kMaxExtent);
  const int H = std::clamp(height, 1, kMaxExtent);
  level = std::clamp(level, 0, kBarCount);

  const int u = W / 40;  // stroke width
  const int x8 = (8 * W) / 40;
  const int x9 = (9 * W) / 40;
  const int x16 = (16 * W) / 40;
  const int y1 = H / 18;
  const int yMid = H / 2;
  const int y17 = (17 * H) / 18;

  MeterFigure f{};
  f.antenna_brush = hollow ? Brush::kFace : Brush::kBlack;
  const Point funnel[6] = {{u, y1}, {x16, y1}, {x9, yMid}, {x9, y17}, {x8, y17}, {x8, yMid}};
  std::copy(std::begin(funnel), std::end(funnel), f.antenna);

  // The cut-outs leave a top bar u thick, two slanted arms and the mast between them. The
  // constants are the figure's own, 1.5707965 included (it is not quite pi/2).
  const double a = std::atan((W * 0.375) / (H * 0.4444444444444444));
  const double d = (std::tan(a) + std::cos(a)) * (W * 0.025);
  const int xl = Trunc(u + d);
  const int xr = Trunc(x16 - d);
  const int yt = u + y1;
  const int yb = Trunc(yMid - ((std::tan(1.5707965 - a) + 1) * W) * 0.025);
  f.cutouts = xl < x8 && yt < yb;
  if (f.cutouts) {
    const Point left[3] = {{xl, yt}, {x8, yt}, {x8, yb}};
    const Point right[3] = {{xr, yt}, {x9, yt}, {x9, yb}};
    std::copy(std::begin(left), std::end(left), f.left_cutout);
    std::copy(std::begin(right), std::end(right), f.right_cutout);
  }

  const int bar_width = (W + 39) / 40;
  for (int i = 0; i < kBarCount; ++i) {
    const int left = (2 * W * (i + 5)) / 40;
    f.bar_brush[i] = i < level ? Brush::kBlack : Brush::kFace;
    f.bars[i] = {left, ((16 - i) * H) / 18, left + bar_width, y17};
  }

  f.status = {5, H, W, H + 18};
  return f;
}

void PaintFigure(const MeterFigure& f, std::string_view status_cp932, FigureSurface& out) {
  out.Polygon(f.antenna_brush, f.antenna);
  if (f.cutouts) {
    out.Polygon(Brush::kCutout, f.left_cutout);
    out.Polygon(Brush::kCutout, f.right_cutout);
  }
  for (int i = 0; i < kBarCount; ++i) out.Rectangle(f.bar_brush[i], f.bars[i]);
  out.Text(f.status, status_cp932);
}

}  // namespace tovmir
