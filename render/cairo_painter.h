// cairo_painter.h: the meter window's client area drawn on Linux with cairo and Pango, the way
// the Windows GDI draws it: one-pixel black outlines, GDI's rectangle convention, crisp
// pixel edges, the status line on an opaque button-face background; on any cairo context,
// into a PNG file, or in pieces a window lays over its background (the Linux meter
// window's). Single-threaded.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "meter/figure.h"

typedef struct _cairo_surface cairo_surface_t;
typedef struct _cairo cairo_t;

namespace tovmir {

// The button face of the classic Windows look, also the icon's background.
inline constexpr std::uint8_t kFaceRed = 192, kFaceGreen = 192, kFaceBlue = 192;

// A brush's colour, 0 to 1 each.
struct Colour {
  double red, green, blue;
};
Colour BrushColour(Brush brush);

// Largest image side a PNG is written for (cairo's limit for image surfaces).
inline constexpr int kMaxPngSide = 32767;

// Writes an image surface to a PNG file, whole or not at all (a file that was there stays
// as it was when the picture cannot be written). Returns an empty string on success,
// otherwise what went wrong, with the system's reason.
std::string WritePng(cairo_surface_t* image, const std::string& path);
// A width x height RGB picture made by draw, written as PNG to path (as WritePng). "" or
// what went wrong.
std::string WriteDrawnPng(int width, int height, const std::string& path,
                          const std::function<void(cairo_t*)>& draw);

// Draws a client area W x (H + 20) at cr's origin: the button-face background, the figure
// and the status line.
void DrawMeter(cairo_t* cr, int width, int meter_height, int level, bool hollow,
               std::string_view status_cp932);

// The figure in pieces, for a window that lays them over the button-face background itself
// (GTK's render nodes): each drawing call of the figure (the antenna and its cut-outs, each
// bar, the status line) drawn into an image of its own, as large as what the call draws,
// on a transparent ground. Laid over the background in order, they are pixel for pixel
// what DrawMeter draws. The last two pieces made for each call are kept, and a call the
// same as one of theirs gets that piece back as it was (the same image and serial): a level
// that moves by one draws nothing new, and the status line is laid out only when it says
// something new.
class FigurePieces final {
 public:
  struct Piece {
    int x = 0, y = 0;  // where the image goes in the client area
    // ARGB32, premultiplied, its device scale the scale asked for; none: the call draws
    // nothing.
    cairo_surface_t* image = nullptr;
    std::uint64_t serial = 0;  // another serial, another picture
  };

  FigurePieces();
  ~FigurePieces();
  FigurePieces(const FigurePieces&) = delete;
  FigurePieces& operator=(const FigurePieces&) = delete;

  // The pieces of a client area W x (H + 20) in paint order, the background left out.
  // scale: device pixels to a client pixel (a HiDPI screen's 2); the images have that many
  // times the pixels, x and y stay in client pixels.
  const std::vector<Piece>& Paint(int width, int meter_height, int level, bool hollow,
                                  std::string_view status_cp932, int scale = 1);

 private:
  struct Call;
  struct Kept;
  class Recorder;
  static void Drop(Piece& p);

  std::vector<Kept> kept_;     // for each call of the figure
  std::vector<Piece> pieces_;  // what Paint returns: the current piece of each
  int scale_ = 0;
  std::uint64_t serials_ = 0;
  cairo_t* measure_;  // where paths and text are measured before their piece is made
};

// Renders a client area W x (H + 20) (background, figure, status line) and writes it as PNG.
// Returns an empty string on success, otherwise what went wrong.
std::string WriteMeterPng(const std::string& path, int width, int meter_height, int level,
                          bool hollow, std::string_view status_cp932);

}  // namespace tovmir
