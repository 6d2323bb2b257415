// The figure's calls carried out by the Windows GDI, on a bitmap in memory.
#include <windows.h>
#include <gtest/gtest.h>

#include "app/meter_paint.h"

namespace tovmir {
namespace {

TEST(GdiFigureSurface, DrawsAPolygonThroughEveryPointItIsGiven) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 40, 40);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, bitmap);
  PatBlt(dc, 0, 0, 40, 40, WHITENESS);
  {
    CDC cdc(dc);
    GdiFigureSurface surface(cdc);
    // A square with more corners than the figure's own polygons have: without its last two
    // points the outline would cut across it, leaving the lower left corner white.
    const Point square[8] = {{2, 2},   {10, 2},  {18, 2},  {30, 2},
                             {30, 30}, {18, 30}, {10, 30}, {2, 30}};
    surface.Polygon(Brush::kBlack, square);
  }
  EXPECT_EQ(GetPixel(dc, 4, 28), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 28, 4), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, 35, 35), RGB(255, 255, 255));
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
}

}  // namespace
}  // namespace tovmir
