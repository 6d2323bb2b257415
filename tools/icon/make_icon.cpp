// make_icon: writes the program's icon (res/tovmir.ico): the meter's own antenna beside
// three bars of rising height, black on light grey, at 32 x 32 and 16 x 16 in 16 colours,
// with no transparent pixels; or the same drawing at another size as a PNG picture on a
// transparent ground (the Linux meter's icon).
//   make_icon OUTPUT.ico
//   make_icon --png SIZE OUTPUT.png
#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "meter/figure.h"
#include "render/raster.h"

namespace tovmir {
namespace {

constexpr std::uint8_t kBlack = 0, kGrey = 7;  // indices in the standard 16-colour palette

const std::uint8_t kPalette[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};

// The antenna as the meter draws it for a window 1.5 icons wide, so that it takes the left
// three fifths; three bars rise on the right, standing on the mast's foot.
Raster Draw(int s) {
  Raster c(s, s, kGrey);
  const MeterFigure f = ComputeFigure(s * 3 / 2, s + 1, 0, false);
  c.Polygon(f.antenna, kBlack, kBlack);
  if (f.cutouts && s >= 32) {  // at 16 pixels the cut-outs would be specks
    c.Polygon(f.left_cutout, kGrey, kBlack);
    c.Polygon(f.right_cutout, kGrey, kBlack);
  }
  const int foot = f.antenna[3].y + 1, top = f.antenna[0].y;
  const int width = s / 10 > 1 ? s / 10 : 1, gap = s >= 32 ? 1 : 0;
  const int right_edge = s - (s >= 32 ? 1 : 0);
  for (int k = 0; k < 3; ++k) {
    const int right = right_edge - (2 - k) * (width + 1 + gap);
    const int height = (foot - top) * (k + 1) / 3;
    c.Fill({right - width, foot - height, right, foot}, kBlack);
  }
  return c;
}

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// One icon image: a BITMAPINFOHEADER of twice the height, the palette, the 4-bit colour
// rows bottom-up, then an all-zero AND mask (every pixel opaque).
std::vector<std::uint8_t> Image(const Raster& c) {
  const int s = c.width();
  const int colour_stride = ((s * 4 + 31) / 32) * 4, mask_stride = ((s + 31) / 32) * 4;
  std::vector<std::uint8_t> out;
  Put32(out, 40);
  Put32(out, s);
  Put32(out, 2 * s);
  Put16(out, 1);
  Put16(out, 4);
  Put32(out, 0);  // BI_RGB
  Put32(out, (colour_stride + mask_stride) * s);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 16);
  Put32(out, 0);
  for (const auto& rgb : kPalette) {
    out.push_back(rgb[2]);
    out.push_back(rgb[1]);
    out.push_back(rgb[0]);
    out.push_back(0);
  }
  for (int y = s - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(colour_stride, 0);
    for (int x = 0; x < s; ++x) row[x / 2] |= c.at(x, y) << (x % 2 ? 0 : 4);
    out.insert(out.end(), row.begin(), row.end());
  }
  out.insert(out.end(), static_cast<size_t>(mask_stride * s), 0);
  return out;
}

std::vector<std::uint8_t> IconFile() {
  const std::vector<std::uint8_t> images[2] = {Image(Draw(32)), Image(Draw(16))};
  const int sizes[2] = {32, 16};
  std::vector<std::uint8_t> out;
  Put16(out, 0);
  Put16(out, 1);  // an icon
  Put16(out, 2);
  std::uint32_t offset = 6 + 2 * 16;
  for (int i = 0; i < 2; ++i) {
    out.push_back(static_cast<std::uint8_t>(sizes[i]));
    out.push_back(static_cast<std::uint8_t>(sizes[i]));
    out.push_back(16);  // colours
    out.push_back(0);
    Put16(out, 1);  // planes
    Put16(out, 4);  // bits per pixel
    Put32(out, static_cast<std::uint32_t>(images[i].size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(images[i].size());
  }
  for (const auto& img : images) out.insert(out.end(), img.begin(), img.end());
  return out;
}

// The drawing at size x size as a PNG, its grey ground (and the cut-outs, which show the
// ground) transparent, so that it sits on any panel or dock; false when it could not be
// written.
bool WritePng(int size, const char* path) {
  const Raster c = Draw(size);
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_surface_flush(image);
  unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const std::uint8_t* rgb = kPalette[c.at(x, y)];
      reinterpret_cast<std::uint32_t*>(data + y * stride)[x] =
          c.at(x, y) == kGrey ? 0 : 0xFF000000u | rgb[0] << 16 | rgb[1] << 8 | rgb[2];
    }
  cairo_surface_mark_dirty(image);
  const bool ok = cairo_surface_write_to_png(image, path) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(image);
  return ok;
}

}  // namespace
}  // namespace tovmir

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--png") {
    const int size = std::atoi(argv[2]);
    if (size < 16 || size > 1024) {
      std::cerr << "make_icon: a size from 16 to 1024, not " << argv[2] << "\n";
      return 2;
    }
    if (!tovmir::WritePng(size, argv[3])) {
      std::cerr << "make_icon: cannot write " << argv[3] << "\n";
      return 1;
    }
    return 0;
  }
  if (argc != 2) {
    std::cerr << "usage: make_icon OUTPUT.ico\n       make_icon --png SIZE OUTPUT.png\n";
    return 2;
  }
  const std::vector<std::uint8_t> bytes = tovmir::IconFile();
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "make_icon: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
