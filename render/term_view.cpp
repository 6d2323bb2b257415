#include "render/term_view.h"

#include <algorithm>

#include "meter/figure.h"
#include "platform/text.h"
#include "receiver/receiver.h"
#include "render/raster.h"

namespace tovmir {
namespace {

// What a figure pixel holds: black-brush shapes are solid, button-face shapes shaded (an
// outline alone would fill a bar two pixels wide), the cut-outs clear.
enum : std::uint8_t { kClear = 0, kSolid = 1, kShade = 2 };

std::uint8_t ValueOf(Brush b) {
  return b == Brush::kBlack ? kSolid : b == Brush::kFace ? kShade : kClear;
}

class RasterSurface final : public FigureSurface {
 public:
  explicit RasterSurface(Raster& r) : r_(r) {}
  void Polygon(Brush b, std::span<const Point> p) override {
    r_.Polygon(p, ValueOf(b), ValueOf(b));
  }
  void Rectangle(Brush b, const Rect& rect) override { r_.Rectangle(rect, ValueOf(b), ValueOf(b)); }
  void Text(const Rect&, std::string_view) override {}  // the status line is a line of its own

 private:
  Raster& r_;
};

const char* Cell(std::uint8_t top, std::uint8_t bottom, bool utf8) {
  if (top == kSolid && bottom == kSolid) return utf8 ? "\u2588" : "#";
  if (top == kSolid) return utf8 ? "\u2580" : "'";
  if (bottom == kSolid) return utf8 ? "\u2584" : ".";
  if (top == kShade || bottom == kShade) return utf8 ? "\u2591" : ":";
  return " ";
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::string AsciiStatus(const MeterState& s) {
  const std::string text = StatusLineText(s);
  if (text == kTextPowerOff) return "handset is off";
  if (text == kTextRestart) return "switch the handset off and on again";
  if (StartsWith(text, kTextNetLabel)) {
    const std::string number = text.substr(std::string(kTextNetLabel).size());
    return "network number: " + (number == kTextNetUnknown ? std::string("unknown") : number);
  }
  return text;
}

std::string RenderMeterText(const MeterState& s, int columns, int rows, bool utf8) {
  columns = std::clamp(columns, 1, kMaxExtent);
  rows = std::clamp(rows, 2, kMaxExtent / 2);
  const int figure_rows = rows - 1;  // the last line is the status line
  Raster raster(columns, 2 * figure_rows, kClear);
  RasterSurface surface(raster);
  PaintFigure(ComputeFigure(columns, 2 * figure_rows, s.m_nLevel, s.m_bHollow != 0), "", surface);

  std::string out;
  for (int row = 0; row < figure_rows; ++row) {
    std::string line;
    for (int x = 0; x < columns; ++x)
      line += Cell(raster.at(x, 2 * row), raster.at(x, 2 * row + 1), utf8);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + '\n';
  }
  std::string status = utf8 ? Utf8FromCp932(StatusLineText(s)) : AsciiStatus(s);
  if (!utf8 && static_cast<int>(status.size()) > columns) status.resize(columns);
  return out + status;
}

}  // namespace tovmir
