// tovmir-tool figure: the meter figure's drawing calls for a window size and state, and
// optionally the client area as a PNG.
#include <cstdio>
#include <iostream>
#include <string>

#include "cli/args.h"
#include "cli/tool.h"
#include "commands/commands.h"
#include "meter/figure.h"
#include "platform/text.h"
#include "receiver/receiver.h"
#include "render/cairo_painter.h"

namespace tovmir {
namespace {

const char kFigureHelp[] =
    "usage: tovmir-tool figure W H LEVEL HOLLOW [--status TEXT] [--png FILE]\n"
    "\n"
    "Prints the meter's drawing calls, in paint order, for a client width W (0-32767),\n"
    "a meter height H (1-32767; the window's client height minus 20), a level (0-15) and\n"
    "the antenna flag HOLLOW (0 filled, 1 hollow), one per line:\n"
    "  polygon BRUSH x,y x,y ...\n"
    "  rect BRUSH left,top,right,bottom\n"
    "  text left,top,right,bottom\n"
    "BRUSH is black, face (hollow antenna, empty bars) or cutout (the antenna's cut-outs).\n"
    "\n"
    "--status TEXT  the status line (UTF-8); by default that of a freshly opened window\n"
    "--png FILE     also write the client area, W x (H + 20) pixels, as the window shows it\n"
    "-h, --help     this help; -V, --version the version\n"
    "\n"
    "Exit status: 0 done; 2 bad arguments or the PNG could not be written.\n";

const char* BrushName(Brush b) {
  switch (b) {
    case Brush::kBlack:
      return "black";
    case Brush::kFace:
      return "face";
    case Brush::kCutout:
      return "cutout";
  }
  return "?";
}

class ListingSurface final : public FigureSurface {
 public:
  void Polygon(Brush brush, std::span<const Point> points) override {
    std::cout << "polygon " << BrushName(brush);
    for (const Point& p : points) std::cout << ' ' << p.x << ',' << p.y;
    std::cout << '\n';
  }
  void Rectangle(Brush brush, const Rect& r) override {
    std::cout << "rect " << BrushName(brush) << ' ' << Coords(r) << '\n';
  }
  void Text(const Rect& r, std::string_view) override { std::cout << "text " << Coords(r) << '\n'; }

 private:
  static std::string Coords(const Rect& r) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
    return buf;
  }
};

}  // namespace

int FigureMain(int argc, char** argv) {
  static const Option kOptions[] = {{"status", "TEXT"}, {"png", "FILE"}};
  static const char* const kOperands[] = {"W", "H", "LEVEL", "HOLLOW"};
  CommandLine cl("figure", kFigureHelp);
  if (!cl.Parse(argc, argv, kOptions, kOperands, 4)) return cl.status();
  struct Range {
    int lo, hi;
  };
  const Range ranges[4] = {{0, kMaxExtent}, {1, kMaxExtent}, {0, kBarCount}, {0, 1}};
  int numbers[4] = {};
  for (int i = 0; i < 4; ++i) {
    const std::string& text = cl.operands()[i];
    if (!ParseInt(text, numbers[i]) || numbers[i] < ranges[i].lo || numbers[i] > ranges[i].hi)
      return cl.UsageError(std::string(kOperands[i]) + " takes a whole number from " +
                           std::to_string(ranges[i].lo) + " to " + std::to_string(ranges[i].hi) +
                           ", not '" + text + "'");
  }
  const int W = numbers[0], H = numbers[1], level = numbers[2], hollow = numbers[3];
  const bool have_status = cl.Has("status");
  const std::string status_utf8 = cl.Value("status"), png = cl.Value("png");

  std::string status = kTextPowerOff;  // what a freshly opened window shows
  if (have_status && !Cp932FromUtf8(status_utf8, status))
    return Fail("figure", "the status text is not UTF-8 that code page 932 can hold", 2);

  ListingSurface listing;
  PaintFigure(ComputeFigure(W, H, level, hollow == 1), status, listing);
  if (const int failed = FinishOutput("figure")) return failed;

  if (!png.empty()) {
    const std::string error = WriteMeterPng(png, W, H, level, hollow == 1, status);
    if (!error.empty()) return Fail("figure", error, 2);
  }
  return 0;
}

}  // namespace tovmir
