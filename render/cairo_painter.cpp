#include "render/cairo_painter.h"

#include <cairo.h>
#include <fcntl.h>
#include <pango/pangocairo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "meter/figure.h"
#include "platform/text.h"
#include "platform/whole_file.h"

namespace tovmir {
namespace {

// Japanese faces first; 12 px is a 9-point dialog font at 96 dpi.
constexpr char kFont[] = "IPAPGothic,IPAGothic,Noto Sans CJK JP,Sans";
constexpr int kFontPixels = 12;

// The status line's layout on cr: the dialog font, one line. Measured on any image
// surface, it is the same as drawn on any other (their font options are the same).
PangoLayout* StatusLayout(cairo_t* cr, std::string_view cp932) {
  const std::string utf8 = Utf8FromCp932(cp932);
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string(kFont);
  pango_font_description_set_absolute_size(font, kFontPixels * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_single_paragraph_mode(layout, TRUE);
  pango_layout_set_text(layout, utf8.data(), static_cast<int>(utf8.size()));
  return layout;
}

class CairoSurface final : public FigureSurface {
 public:
  explicit CairoSurface(cairo_t* cr) : cr_(cr) {
    cairo_set_antialias(cr_, CAIRO_ANTIALIAS_NONE);
    cairo_set_line_width(cr_, 1.0);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_MITER);
    cairo_set_line_cap(cr_, CAIRO_LINE_CAP_SQUARE);
  }

  void Polygon(Brush brush, std::span<const Point> points) override {
    // Through pixel centres, so that the one-pixel outline covers the vertices' pixels.
    PolygonPath(points);
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
    PangoLayout* layout = StatusLayout(cr_, cp932);
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    ShowStatus(layout, r.left, r.bottom - h);  // bottom-aligned, not clipped
    g_object_unref(layout);
  }

  // The status line laid out, its logical box's top left at (left, top).
  void ShowStatus(PangoLayout* layout, int left, int top) {
    int w = 0, h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    SetColour(Brush::kFace);
    cairo_rectangle(cr_, left, top, w, h);
    cairo_fill(cr_);
    SetColour(Brush::kBlack);
    cairo_move_to(cr_, left, top);
    pango_cairo_show_layout(cr_, layout);
  }

  // The path of a polygon as Polygon strokes it, to measure.
  void PolygonPath(std::span<const Point> points) {
    for (const Point& p : points) cairo_line_to(cr_, p.x + 0.5, p.y + 0.5);
    cairo_close_path(cr_);
  }

 private:
  void SetColour(Brush b) {
    const Colour c = BrushColour(b);
    cairo_set_source_rgb(cr_, c.red, c.green, c.blue);
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

}  // namespace

std::string WritePng(cairo_surface_t* image, const std::string& path) {
  return WriteWholeFile(path, [image](FILE* file) -> std::string {
    const cairo_status_t st = cairo_surface_write_to_png_stream(image, WriteChunk, file);
    if (st == CAIRO_STATUS_WRITE_ERROR) return std::strerror(errno);
    if (st != CAIRO_STATUS_SUCCESS) return cairo_status_to_string(st);
    return {};
  });
}

std::string WriteMeterPng(const std::string& path, int width, int meter_height, int level,
                          bool hollow, std::string_view status_cp932) {
  const int client_height = meter_height + kStatusBand;
  if (width < 1) return "a window of width 0 has no image to write";
  if (width > kMaxPngSide || client_height > kMaxPngSide)
    return "an image of " + std::to_string(width) + " x " + std::to_string(client_height) +
           " pixels is larger than PNG output allows (" + std::to_string(kMaxPngSide) + " a side)";

  return WriteDrawnPng(width, client_height, path, [&](cairo_t* cr) {
    DrawMeter(cr, width, meter_height, level, hollow, status_cp932);
  });
}

std::string WriteDrawnPng(int width, int height, const std::string& path,
                          const std::function<void(cairo_t*)>& draw) {
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> image(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height), cairo_surface_destroy);
  if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS)
    return std::string("cannot make the image: ") +
           cairo_status_to_string(cairo_surface_status(image.get()));
  cairo_t* cr = cairo_create(image.get());
  draw(cr);
  cairo_destroy(cr);
  return WritePng(image.get(), path);
}

Colour BrushColour(Brush brush) {
  if (brush == Brush::kBlack) return {0, 0, 0};
  return {kFaceRed / 255.0, kFaceGreen / 255.0, kFaceBlue / 255.0};
}

void DrawMeter(cairo_t* cr, int width, int meter_height, int level, bool hollow,
               std::string_view status_cp932) {
  cairo_save(cr);
  // The erased dialog background.
  const Colour face = BrushColour(Brush::kFace);
  cairo_set_source_rgb(cr, face.red, face.green, face.blue);
  cairo_paint(cr);
  CairoSurface surface(cr);
  PaintFigure(ComputeFigure(width, meter_height, level, hollow), status_cp932, surface);
  cairo_restore(cr);
}

// ---- the figure in pieces

// What a piece was drawn for: one drawing call.
struct FigurePieces::Call {
  enum class Kind { kNone, kPolygon, kRectangle, kText } kind = Kind::kNone;
  Brush brush = Brush::kBlack;
  std::vector<Point> points;
  Rect rect{};
  std::string text;
  // The status line: its logical height, and where its image's corner lies from the
  // logical box's top left (its ink may reach out of the box).
  int text_height = 0, text_dx = 0, text_dy = 0;
};

// A call's current piece and the one before it, with what each was drawn for: a bar is
// filled and emptied again, the antenna hollowed and filled, the status line goes back to
// what it said, and the piece is there already.
struct FigurePieces::Kept {
  Call call[2];
  Piece piece[2];
};

void FigurePieces::Drop(Piece& p) {
  if (p.image) cairo_surface_destroy(p.image);
  p = {};
}

// Takes PaintFigure's calls, and draws a piece only for a call unlike the last two made at
// that place in the figure.
class FigurePieces::Recorder final : public FigureSurface {
 public:
  explicit Recorder(FigurePieces& p) : p_(p) {}
  // Pieces of calls the figure no longer makes (the cut-outs of a window grown too small
  // for them) go.
  ~Recorder() {
    for (size_t i = next_; i < p_.kept_.size(); ++i)
      for (Piece& piece : p_.kept_[i].piece) Drop(piece);
    p_.kept_.resize(next_);
    p_.pieces_.resize(next_);
    for (size_t i = 0; i < next_; ++i) p_.pieces_[i] = p_.kept_[i].piece[0];
  }

  void Polygon(Brush brush, std::span<const Point> points) override {
    Use(
        [&](const Call& c) {
          return c.kind == Call::Kind::kPolygon && c.brush == brush &&
                 std::equal(points.begin(), points.end(), c.points.begin(), c.points.end());
        },
        [&](Call& c, Piece& piece) {
          c.kind = Call::Kind::kPolygon;
          c.brush = brush;
          c.points.assign(points.begin(), points.end());
          CairoSurface(p_.measure_).PolygonPath(points);
          double x1, y1, x2, y2;
          cairo_stroke_extents(p_.measure_, &x1, &y1, &x2, &y2);
          cairo_new_path(p_.measure_);
          // A pixel is drawn when its centre is covered: within the extents, and one more
          // to be sure.
          const int left = static_cast<int>(std::floor(x1)) - 1;
          const int top = static_cast<int>(std::floor(y1)) - 1;
          Draw(piece, left, top, static_cast<int>(std::ceil(x2)) + 1 - left,
               static_cast<int>(std::ceil(y2)) + 1 - top,
               [&](CairoSurface& s) { s.Polygon(brush, points); });
        });
  }

  void Rectangle(Brush brush, const Rect& r) override {
    Use(
        [&](const Call& c) {
          return c.kind == Call::Kind::kRectangle && c.brush == brush && c.rect == r;
        },
        [&](Call& c, Piece& piece) {
          c.kind = Call::Kind::kRectangle;
          c.brush = brush;
          c.rect = r;
          // Everything it draws lies inside the box.
          Draw(piece, r.left, r.top, r.right - r.left, r.bottom - r.top,
               [&](CairoSurface& s) { s.Rectangle(brush, r); });
        });
  }

  void Text(const Rect& r, std::string_view cp932) override {
    Kept& k = Use([&](const Call& c) { return c.kind == Call::Kind::kText && c.text == cp932; },
                  [&](Call& c, Piece& piece) {
                    c.kind = Call::Kind::kText;
                    c.text = cp932;
                    PangoLayout* layout = StatusLayout(p_.measure_, cp932);
                    PangoRectangle ink, logical;
                    pango_layout_get_pixel_extents(layout, &ink, &logical);
                    c.text_height = logical.height;
                    // The logical box is at (0, 0) of the layout; the piece covers it and
                    // the ink.
                    c.text_dx = std::min(0, ink.x);
                    c.text_dy = std::min(0, ink.y);
                    const int right = std::max(logical.width, ink.x + ink.width);
                    const int bottom = std::max(logical.height, ink.y + ink.height);
                    Draw(piece, c.text_dx, c.text_dy, right - c.text_dx, bottom - c.text_dy,
                         [&](CairoSurface& s) { s.ShowStatus(layout, 0, 0); });
                    g_object_unref(layout);
                  });
    // Where the text goes depends on the box; what it looks like does not.
    k.piece[0].x = r.left + k.call[0].text_dx;
    k.piece[0].y = r.bottom - k.call[0].text_height + k.call[0].text_dy;
  }

 private:
  // The next call's place: its current piece if it was drawn for the same call, else the
  // one before if that was, else a new piece made by make(call, piece), the current one
  // kept as the one before.
  template <class Same, class Make>
  Kept& Use(Same same, Make make) {
    if (p_.kept_.size() <= next_) p_.kept_.resize(next_ + 1);
    Kept& k = p_.kept_[next_++];
    if (same(k.call[0])) return k;
    std::swap(k.call[0], k.call[1]);
    std::swap(k.piece[0], k.piece[1]);
    if (same(k.call[0])) return k;
    k.call[0] = Call{};
    Drop(k.piece[0]);
    make(k.call[0], k.piece[0]);
    return k;
  }

  // Draws a piece: an image of w x h client pixels at (left, top).
  template <class F>
  void Draw(Piece& piece, int left, int top, int w, int h, F draw) {
    piece = {left, top, nullptr, ++p_.serials_};
    if (w <= 0 || h <= 0) return;  // nothing to draw
    const int scale = p_.scale_;
    piece.image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w * scale, h * scale);
    cairo_surface_set_device_scale(piece.image, scale, scale);
    cairo_t* cr = cairo_create(piece.image);
    cairo_translate(cr, -left, -top);
    CairoSurface surface(cr);
    draw(surface);
    cairo_destroy(cr);
    cairo_surface_flush(piece.image);
  }

  FigurePieces& p_;
  size_t next_ = 0;
};

FigurePieces::FigurePieces() {
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
  measure_ = cairo_create(image);
  cairo_surface_destroy(image);          // the context keeps it
  CairoSurface line_settings(measure_);  // strokes measured as they are drawn
}

FigurePieces::~FigurePieces() {
  for (Kept& k : kept_)
    for (Piece& p : k.piece) Drop(p);
  cairo_destroy(measure_);
}

const std::vector<FigurePieces::Piece>& FigurePieces::Paint(int width, int meter_height, int level,
                                                            bool hollow,
                                                            std::string_view status_cp932,
                                                            int scale) {
  if (scale != scale_) {  // every piece again, at the new scale
    for (Kept& k : kept_)
      for (Piece& p : k.piece) Drop(p);
    kept_.clear();
    scale_ = scale;
  }
  {
    Recorder recorder(*this);
    PaintFigure(ComputeFigure(width, meter_height, level, hollow), status_cp932, recorder);
  }
  return pieces_;
}

}  // namespace tovmir
