// figure_png.h: the meter window's client area drawn on Linux with cairo and Pango, the way
// the Windows GDI draws it: one-pixel black outlines, GDI's rectangle convention, crisp
// pixel edges, the status line on an opaque button-face background; on any cairo context
// (the Linux meter window's) or into a PNG file. Single-threaded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

typedef struct _cairo_surface cairo_surface_t;
typedef struct _cairo cairo_t;

namespace tovmir {

// The button face of the classic Windows look, also the icon's background.
inline constexpr std::uint8_t kFaceRed = 192, kFaceGreen = 192, kFaceBlue = 192;

// Largest image side a PNG is written for (cairo's limit for image surfaces).
inline constexpr int kMaxPngSide = 32767;

// Writes an image surface to a PNG file, whole or not at all (a file that was there stays
// as it was when the picture cannot be written). Returns an empty string on success,
// otherwise what went wrong, with the system's reason.
std::string WritePng(cairo_surface_t* image, const std::string& path);

// Draws a client area W x (H + 20) at cr's origin: the button-face background, the figure
// and the status line.
void DrawMeter(cairo_t* cr, int width, int meter_height, int level, bool hollow,
               std::string_view status_cp932);

// Renders a client area W x (H + 20) (background, figure, status line) and writes it as PNG.
// Returns an empty string on success, otherwise what went wrong.
std::string WriteMeterPng(const std::string& path, int width, int meter_height, int level,
                          bool hollow, std::string_view status_cp932);

}  // namespace tovmir
