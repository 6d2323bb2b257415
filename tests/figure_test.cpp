// The meter figure's geometry and paint order.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "meter/figure.h"

namespace tovmir {
namespace {

TEST(Figure, WorkedExampleAt400By180) {
  const MeterFigure f = ComputeFigure(400, 180, 13, false);
  const Point funnel[6] = {{10, 10}, {160, 10}, {90, 90}, {90, 170}, {80, 170}, {80, 90}};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(f.antenna[i], funnel[i]) << i;
  EXPECT_EQ(f.antenna_brush, Brush::kBlack);
  ASSERT_TRUE(f.cutouts);
  EXPECT_EQ(f.left_cutout[0], (Point{33, 20}));
  EXPECT_EQ(f.left_cutout[1], (Point{80, 20}));
  EXPECT_EQ(f.left_cutout[2], (Point{80, 74}));
  EXPECT_EQ(f.right_cutout[0], (Point{136, 20}));
  EXPECT_EQ(f.right_cutout[1], (Point{90, 20}));
  EXPECT_EQ(f.right_cutout[2], (Point{90, 74}));
  EXPECT_EQ(f.bars[0], (Rect{100, 160, 110, 170}));
  EXPECT_EQ(f.bars[14], (Rect{380, 20, 390, 170}));
  EXPECT_EQ(f.status, (Rect{5, 180, 400, 198}));
}

TEST(Figure, CutoutsAppearOnlyWhereTheyFit) {
  const MeterFigure small = ComputeFigure(40, 40, 0, false);
  ASSERT_TRUE(small.cutouts);
  EXPECT_EQ(small.antenna[0], (Point{1, 2}));
  EXPECT_EQ(small.left_cutout[0], (Point{2, 3}));
  EXPECT_EQ(small.right_cutout[0], (Point{14, 3}));
  EXPECT_EQ(small.left_cutout[2].y, 17);

  EXPECT_FALSE(ComputeFigure(100, 10, 5, false).cutouts) << "xl = 23 is not left of x8 = 20";
  EXPECT_FALSE(ComputeFigure(0, 100, 5, false).cutouts);
}

TEST(Figure, DegenerateSizesCollapse) {
  const MeterFigure zero = ComputeFigure(0, 50, 15, true);
  for (const Point& p : zero.antenna) EXPECT_EQ(p.x, 0);
  for (const Rect& b : zero.bars) EXPECT_EQ(b.left, b.right);

  const MeterFigure flat = ComputeFigure(400, 1, 7, false);
  for (const Point& p : flat.antenna) EXPECT_EQ(p.y, 0);
  for (const Rect& b : flat.bars) {
    EXPECT_EQ(b.top, 0);
    EXPECT_EQ(b.bottom, 0);
  }
  EXPECT_EQ(flat.status, (Rect{5, 1, 400, 19}));
}

TEST(Figure, BarsFillUpToTheLevelAndTheAntennaBrushFollowsTheFlag) {
  for (int level = 0; level <= 15; ++level) {
    const MeterFigure f = ComputeFigure(300, 120, level, level % 2 == 1);
    EXPECT_EQ(f.antenna_brush, level % 2 ? Brush::kFace : Brush::kBlack);
    for (int i = 0; i < kBarCount; ++i)
      EXPECT_EQ(f.bar_brush[i], i < level ? Brush::kBlack : Brush::kFace) << level << " " << i;
  }
}

TEST(Figure, StatusLineEndsTwoPixelsAboveTheClientBottom) {
  for (int client : {1, 19, 20, 21, 22, 100, 1000}) {
    const int h = MeterHeight(client);
    EXPECT_EQ(ComputeFigure(200, h, 0, false).status.bottom, client > 21 ? client - 2 : 19)
        << client;
    EXPECT_GE(h, 1);
  }
}

class RecordingSurface : public FigureSurface {
 public:
  void Polygon(Brush b, std::span<const Point> p) override {
    calls.push_back("polygon " + std::to_string(static_cast<int>(b)) + " " +
                    std::to_string(p.size()) + " " + std::to_string(p[0].x));
  }
  void Rectangle(Brush b, const Rect& r) override {
    calls.push_back("rect " + std::to_string(static_cast<int>(b)) + " " + std::to_string(r.left));
  }
  void Text(const Rect&, std::string_view text) override {
    calls.push_back("text " + std::string(text));
  }
  std::vector<std::string> calls;
};

TEST(Figure, PaintOrderIsAntennaCutoutsBarsThenText) {
  RecordingSurface s;
  PaintFigure(ComputeFigure(400, 180, 2, true), "abc", s);
  ASSERT_EQ(s.calls.size(), 19u);
  EXPECT_EQ(s.calls[0], "polygon 1 6 10");
  EXPECT_EQ(s.calls[1], "polygon 2 3 33");
  EXPECT_EQ(s.calls[2], "polygon 2 3 136");
  EXPECT_EQ(s.calls[3], "rect 0 100");
  EXPECT_EQ(s.calls[4], "rect 0 120");
  EXPECT_EQ(s.calls[5], "rect 1 140");
  EXPECT_EQ(s.calls[17], "rect 1 380");
  EXPECT_EQ(s.calls[18], "text abc");

  RecordingSurface narrow;
  PaintFigure(ComputeFigure(100, 10, 0, false), "", narrow);
  EXPECT_EQ(narrow.calls.size(), 17u);
}

// Every size a window can have: the figure stays inside the client area. Under the
// sanitizer presets this also proves the arithmetic free of overflow and bad conversions.
void ExpectInside(int w, int h) {
  const MeterFigure f = ComputeFigure(w, h, 15, false);
  for (const Point& p : f.antenna) ASSERT_TRUE(p.x >= 0 && p.x <= w && p.y >= 0 && p.y <= h);
  if (f.cutouts) {
    for (const Point* c : {f.left_cutout, f.right_cutout})
      for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(c[i].x >= 0 && c[i].x <= w && c[i].y >= 0 && c[i].y <= h)
            << w << "x" << h << " point " << i << " at " << c[i].x << "," << c[i].y;
  }
  for (const Rect& b : f.bars)
    ASSERT_TRUE(b.left >= 0 && b.right <= w && b.top >= 0 && b.top <= b.bottom && b.bottom <= h)
        << w << "x" << h;
}

TEST(Figure, StaysInsideTheWindowForEverySize) {
  for (int w = 0; w <= 1200; ++w)
    for (int h : {1, 2, 17, 18, 19, 40, 180, 1000, kMaxExtent}) ExpectInside(w, h);
  for (int h = 1; h <= 1200; ++h)
    for (int w : {0, 1, 39, 40, 41, 400, 5000, kMaxExtent}) ExpectInside(w, h);
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> side(0, kMaxExtent);
  for (int i = 0; i < 200000; ++i) ExpectInside(side(rng), std::max(1, side(rng)));
  ExpectInside(kMaxExtent, kMaxExtent);
}

TEST(Figure, OutOfRangeInputsAreClamped) {
  const MeterFigure f = ComputeFigure(-5, 0, 99, false);
  EXPECT_EQ(f.bars[0], ComputeFigure(0, 1, 15, false).bars[0]);
  EXPECT_EQ(f.bar_brush[14], Brush::kBlack);
}

}  // namespace
}  // namespace tovmir
