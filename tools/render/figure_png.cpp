#include "tools/render/figure_png.h"

#include <cairo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <pango/pangocairo.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "meter/figure.h"
#include "platform/text.h"

namespace tovmir {
namespace {

// Japanese faces first; 12 px is a 9-point dialog font at 96 dpi.
constexpr char kFont[] = "IPAPGothic,IPAGothic,Noto Sans CJK JP,Sans";
constexpr int kFontPixels = 12;

class CairoSurface : public FigureSurface {
 public:
  explicit CairoSurface(cairo_t* cr) : cr_(cr) {
    cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
    cairo_set_line_width(cr_, 1.0);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_SQUARE);
  }

  void Polygon(Brush brush, std::span<const Point> points) override {
    // Through pixel centres, so that the one-pixel outline covers the vertices' pixels.
    for (const Point& p : points) cairo_line_to(cr_, p.x + 0.5, p.y + 0.5);
    cairo_close_path(cr_);
    SetColour(brush);
    cairo_fill_preserve(cr_);
    SetColour(Brush::kBlack);
    cairo_stroke(cr_);
  }

  void Rectangle(Brush brush, const Rect& r) override {
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return;  // GDI draws nothing for an empty box
    // The outline lies inside the box; a box three pixels or less across is all outline.
    const bool solid = w <= 2 || h <= 2;
    SetColour(solid ? Brush::kBlack : brush);
    cairo_rectangle(cr_, r.left, r.top, w, h);
    cairo_fill(cr_);
    if (solid) return;
    SetColour(Brush::kBlack);
    cairo_rectangle(cr_, r.left + 0.5, r.top + 0.5, w - 1, h - 1);
    cairo_stroke(cr_);
  }

  void Text(const Rect& r, std::string_view cp932) override {
    const std::string utf8 = Utf8FromCp932(cp932);
    PangoLayout* layout = pango_cairo_create_layout(cr_);
    PangoFontDescription* font = pango_font_description_from_string(kFont);
    pango_font_description_set_absolute_size(font, kFontPixels * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_single_paragraph_mode(layout, TRUE);
    pango_layout_set_text(layout, utf8.data(), static_cast<int>(utf8.size()));
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    const int top = r.bottom - h;  // bottom-aligned, not clipped
    SetColour(Brush::kFace);
    cairo_rectangle(cr_, r.left, top, w, h);
    cairo_fill(cr_);
    SetColour(Brush::kBlack);
    cairo_move_to(cr_, r.left, top);
    pango_cairo_show_layout(cr_, layout);
    g_object_unref(layout);
  }

 private:
  void SetColour(Brush b) {
    if (b == Brush::kBlack)
      cairo_set_source_rgb(cr_, 0, 0, 0);
    else
      cairo_set_source_rgb(cr_, kFaceRed / 255.0, kFaceGreen / 255.0, kFaceBlue / 255.0);
  }
  cairo_t* cr_;
};

// Writes through a file of our own rather than cairo's, so that a failure comes with the
// system's reason.
cairo_status_t WriteChunk(void* file, const unsigned char* data, unsigned int length) {
  return std::fwrite(data, 1, length, static_cast<FILE*>(file)) == length
             ? CAIRO_STATUS_SUCCESS
             : CAIRO_STATUS_WRITE_ERROR;
}

// Writes the picture to file, which it closes (nullptr: it could not be opened).
std::string WritePngStream(cairo_surface_t* image, const std::string& path, FILE* file) {
  if (!file) return "cannot open '" + path + "': " + std::strerror(errno);
  const cairo_status_t st = cairo_surface_write_to_png_stream(image, WriteChunk, file);
  const int write_errno = errno;
  const bool closed = std::fclose(file) == 0;
  if (st == CAIRO_STATUS_WRITE_ERROR || !closed)
    return "cannot write '" + path + "': " +
           std::strerror(st == CAIRO_STATUS_WRITE_ERROR ? write_errno : errno);
  if (st != CAIRO_STATUS_SUCCESS) return "cannot write '" + path + "': " + cairo_status_to_string(st);
  return {};
}

}  // namespace

std::string WritePng(cairo_surface_t* image, const std::string& path) {
  // A device or a pipe (/dev/stdout) is written as it is. A file is written under a name of
  // its own beside the one it replaces (links followed), then renamed over it: the picture
  // is there whole, or the old file is untouched.
  struct stat st;
  const bool exists = stat(path.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) return WritePngStream(image, path, std::fopen(path.c_str(), "wb"));
  std::string target = path;
  if (char* real = exists ? realpath(path.c_str(), nullptr) : nullptr) {
    target = real;
    std::free(real);
  }
  const size_t slash = target.rfind('/');
  const size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::string temporary = target.substr(0, base) + "." + target.substr(base) + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return "cannot open '" + path + "': " + std::strerror(errno);
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, exists ? st.st_mode & 07777 : 0666 & ~mask);
  std::string error = WritePngStream(image, path, fdopen(fd, "wb"));
  if (error.empty() && rename(temporary.c_str(), target.c_str()) != 0)
    error = "cannot write '" + path + "': " + std::strerror(errno);
  if (!error.empty()) unlink(temporary.c_str());
  return error;
}

std::string WriteMeterPng(const std::string& path, int width, int meter_height, int level,
                          bool hollow, std::string_view status_cp932) {
  const int client_height = meter_height + kStatusBand;
  if (width < 1) return "a window of width 0 has no image to write";
  if (width > kMaxPngSide || client_height > kMaxPngSide)
    return "an image of " + std::to_string(width) + " x " + std::to_string(client_height) +
           " pixels is larger than PNG output allows (" + std::to_string(kMaxPngSide) +
           " a side)";

  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> image(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, client_height),
      cairo_surface_destroy);
  if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS)
    return std::string("cannot make the image: ") +
           cairo_status_to_string(cairo_surface_status(image.get()));
  cairo_t* cr = cairo_create(image.get());
  DrawMeter(cr, width, meter_height, level, hollow, status_cp932);
  cairo_destroy(cr);

  return WritePng(image.get(), path);
}

void DrawMeter(cairo_t* cr, int width, int meter_height, int level, bool hollow,
               std::string_view status_cp932) {
  cairo_save(cr);
  // The erased dialog background.
  cairo_set_source_rgb(cr, kFaceRed / 255.0, kFaceGreen / 255.0, kFaceBlue / 255.0);
  cairo_paint(cr);
  CairoSurface surface(cr);
  PaintFigure(ComputeFigure(width, meter_height, level, hollow), status_cp932, surface);
  cairo_restore(cr);
}

}  // namespace tovmir
