// map_png.h: a session's track drawn as a map, with cairo and Pango, in the look of the
// plot: the way on a local projection (no map tiles: none are needed offline), north up,
// coloured by the level scale (grey and dashed where the handset was silent), the start and
// the end marked, the silences (crosses) and network changes (diamonds) marked, a legend of
// the scale and a scale bar in metres. Single-threaded.
#pragma once

#include <string>

#include "events/log_reader.h"
#include "events/track.h"

namespace tovmir {

// Sizes a map may have.
inline constexpr int kMinMapWidth = 240, kMaxMapWidth = 8000;
inline constexpr int kMinMapHeight = 200, kMaxMapHeight = 8000;

// Where things go on a map of width x height pixels of a track: the area the way is drawn
// in, and metres east and north of the track's middle to pixels.
struct MapLayout {
  int left, top, right, bottom;  // the drawing area
  double lat0 = 0, lon0 = 0;     // the middle of the way's extent
  double pixels_per_metre = 1;
  double XOf(double lon) const;
  double YOf(double lat) const;
};
MapLayout LayoutMap(const Track& track, int width, int height);

// Draws the track and writes it as PNG. Returns "" on success, else what went wrong.
std::string WriteMapPng(const LogSession& session, const Track& track, int width, int height,
                        const std::string& path);

}  // namespace tovmir
