// meter_area.h: the widget the Linux window draws the meter in. The figure's pieces
// (FigurePieces, the cairo painter's) become GTK render nodes, each kept while its piece
// is unchanged, so that GTK redraws only what changed: for a level change, one bar. Its
// natural size is the Windows program's first client size; it may be made as small as a
// pixel.
//
// Threads: the main loop's only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

namespace tovmir {

// What the area draws, read together.
struct MeterView {
  int level = 0;
  bool hollow = false;
  std::string status_cp932;
  bool operator==(const MeterView&) const = default;
};

// The Windows program's first client size (186 x 136 dialog units in its 9-point font).
inline constexpr int kDefaultClientWidth = 326, kDefaultClientHeight = 221;

// A meter area that draws what view returns at each redraw; gtk_widget_queue_draw asks
// for one. view must stay callable as long as the area is in a window.
GtkWidget* NewMeterArea(std::function<MeterView()> view);

}  // namespace tovmir
