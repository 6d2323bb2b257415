#include "render/map_png.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "render/cairo_painter.h"
#include "render/chart.h"
#include "render/level_scale.h"

namespace tovmir {
namespace {

constexpr double kEarthRadius = 6371008.8;  // metres, the mean radius
constexpr double kRadians = M_PI / 180;
constexpr double kLeast = 50;  // metres: the least extent a map shows (a handset that stayed)
constexpr int kMargin = 24, kTitleHeight = 30, kLegendWidth = 70;
constexpr int kLegendSwatch = 12;
constexpr int kWayWidth = 4;
constexpr unsigned kStart = 0x00A000, kEnd = 0x000000, kSilentMark = 0x000000,
                   kNetworkMark = 0x0040C0, kScaleBar = 0x000000;

unsigned Rgb24(Rgb c) { return (c.r << 16) | (c.g << 8) | c.b; }

// A length of 1, 2 or 5 times a power of ten, in metres, of at most `most`.
double RoundLength(double most) {
  const double decade = std::pow(10, std::floor(std::log10(most)));
  for (double f : {5.0, 2.0, 1.0})
    if (f * decade <= most) return f * decade;
  return decade;
}

std::string LengthText(double metres) {
  char buf[32];
  if (metres >= 1000)
    std::snprintf(buf, sizeof buf, "%g km", metres / 1000);
  else
    std::snprintf(buf, sizeof buf, "%g m", metres);
  return buf;
}

void Way(cairo_t* cr, const MapLayout& at, const Stretch& s) {
  SetColour(cr, Rgb24(s.receiving ? kLevelScale[s.level] : kSilentColour));
  if (s.points.size() == 1) {
    const Position& p = s.points[0].position;
    cairo_rectangle(cr, std::round(at.XOf(p.lon)) - kWayWidth / 2.0,
                    std::round(at.YOf(p.lat)) - kWayWidth / 2.0, kWayWidth, kWayWidth);
    cairo_fill(cr);
    return;
  }
  const double dash[] = {6, 4};
  cairo_set_dash(cr, dash, s.receiving ? 0 : 2, 0);
  for (size_t i = 0; i < s.points.size(); ++i) {
    const Position& p = s.points[i].position;
    (i ? cairo_line_to : cairo_move_to)(cr, std::round(at.XOf(p.lon)), std::round(at.YOf(p.lat)));
  }
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
}

void MarkAt(cairo_t* cr, const MapLayout& at, const Mark& m) {
  const double x = std::round(at.XOf(m.at.position.lon)), y = std::round(at.YOf(m.at.position.lat));
  const double r = 5;
  cairo_set_line_width(cr, 2);
  if (m.kind == Mark::kSilent) {  // a cross
    SetColour(cr, kSilentMark);
    cairo_move_to(cr, x - r, y - r);
    cairo_line_to(cr, x + r, y + r);
    cairo_move_to(cr, x - r, y + r);
    cairo_line_to(cr, x + r, y - r);
  } else {  // a diamond
    SetColour(cr, kNetworkMark);
    cairo_move_to(cr, x, y - r);
    cairo_line_to(cr, x + r, y);
    cairo_line_to(cr, x, y + r);
    cairo_line_to(cr, x - r, y);
    cairo_close_path(cr);
  }
  cairo_stroke(cr);
}

// The way's ends: a ring where it began, a square where it ended, each named.
void Ends(cairo_t* cr, const MapLayout& at, const Track& track) {
  const Position& a = track.stretches.front().points.front().position;
  const Position& b = track.stretches.back().points.back().position;
  cairo_set_line_width(cr, 2);
  SetColour(cr, kStart);
  cairo_arc(cr, std::round(at.XOf(a.lon)), std::round(at.YOf(a.lat)), 7, 0, 2 * M_PI);
  cairo_stroke(cr);
  SetColour(cr, kChartText);
  Label(cr, "start", at.XOf(a.lon) + 9, at.YOf(a.lat) - kChartFontPixels);
  SetColour(cr, kEnd);
  cairo_rectangle(cr, std::round(at.XOf(b.lon)) - 6, std::round(at.YOf(b.lat)) - 6, 12, 12);
  cairo_stroke(cr);
  Label(cr, "end", at.XOf(b.lon) + 9, at.YOf(b.lat));
}

void Legend(cairo_t* cr, int x, int top) {
  SetColour(cr, kChartText);
  Label(cr, "level", x, top);
  for (int level = 15; level >= 0; --level) {
    const int y = top + kChartFontPixels + 6 + (15 - level) * (kLegendSwatch + 2);
    SetColour(cr, Rgb24(kLevelScale[level]));
    cairo_rectangle(cr, x, y, kLegendSwatch, kLegendSwatch);
    cairo_fill(cr);
    SetColour(cr, kChartText);
    Label(cr, std::to_string(level), x + kLegendSwatch + 6, y);
  }
  const int y = top + kChartFontPixels + 6 + 16 * (kLegendSwatch + 2) + 4;
  SetColour(cr, Rgb24(kSilentColour));
  cairo_rectangle(cr, x, y, kLegendSwatch, kLegendSwatch);
  cairo_fill(cr);
  SetColour(cr, kChartText);
  Label(cr, "silent", x + kLegendSwatch + 6, y);
}

// A bar of a round length, bottom left, and north.
void ScaleAndNorth(cairo_t* cr, const MapLayout& at) {
  const double metres = RoundLength((at.right - at.left) / 4.0 / at.pixels_per_metre);
  const double length = std::round(metres * at.pixels_per_metre);
  const double x = at.left, y = at.bottom - 6.5;
  SetColour(cr, kScaleBar);
  cairo_set_line_width(cr, 1);
  cairo_move_to(cr, x, y - 4);
  cairo_line_to(cr, x, y);
  cairo_line_to(cr, x + length, y);
  cairo_line_to(cr, x + length, y - 4);
  cairo_stroke(cr);
  Label(cr, LengthText(metres), x + length / 2, y - 4 - kChartFontPixels - 4, 0.5);
  const double nx = at.right - 10, ny = at.top + 4;  // an arrow, and N under it
  cairo_move_to(cr, nx, ny);
  cairo_line_to(cr, nx + 5, ny + 12);
  cairo_line_to(cr, nx - 5, ny + 12);
  cairo_close_path(cr);
  cairo_fill(cr);
  Label(cr, "N", nx, ny + 14, 0.5);
}

}  // namespace

double MapLayout::XOf(double lon) const {
  const double east = std::remainder(lon - lon0, 360);  // the short way round
  return (left + right) / 2.0 +
         east * kRadians * kEarthRadius * std::cos(lat0 * kRadians) * pixels_per_metre;
}

double MapLayout::YOf(double lat) const {
  return (top + bottom) / 2.0 - (lat - lat0) * kRadians * kEarthRadius * pixels_per_metre;
}

MapLayout LayoutMap(const Track& track, int width, int height) {
  MapLayout at{kMargin, kTitleHeight + kMargin, width - kMargin - kLegendWidth, height - kMargin};
  double south = 90, north = -90, west = 180, east = -180;
  for (const Stretch& s : track.stretches)
    for (const TrackPoint& p : s.points) {
      south = std::min(south, p.position.lat);
      north = std::max(north, p.position.lat);
      west = std::min(west, p.position.lon);
      east = std::max(east, p.position.lon);
    }
  // A way across the 180th meridian is taken the short way round.
  if (east - west > 180) {
    west = 180, east = -180;
    for (const Stretch& s : track.stretches)
      for (const TrackPoint& p : s.points) {
        const double lon = p.position.lon < 0 ? p.position.lon + 360 : p.position.lon;
        west = std::min(west, lon);
        east = std::max(east, lon);
      }
  }
  at.lat0 = (south + north) / 2;
  at.lon0 = std::remainder((west + east) / 2, 360);
  const double wide =
      std::max(kLeast, (east - west) * kRadians * kEarthRadius * std::cos(at.lat0 * kRadians));
  const double high = std::max(kLeast, (north - south) * kRadians * kEarthRadius);
  at.pixels_per_metre = std::min((at.right - at.left) / wide, (at.bottom - at.top) / high);
  return at;
}

std::string WriteMapPng(const LogSession& session, const Track& track, int width, int height,
                        const std::string& path) {
  return WriteChart(width, height, path, [&](cairo_t* cr) {
    const MapLayout at = LayoutMap(track, width, height);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_width(cr, kWayWidth);
    for (const Stretch& s : track.stretches) Way(cr, at, s);
    for (const Mark& m : track.marks) MarkAt(cr, at, m);
    Ends(cr, at, track);
    ScaleAndNorth(cr, at);
    Legend(cr, width - kMargin - kLegendWidth + 16, at.top);
    SetColour(cr, kChartText);
    Label(cr,
          "tovmir reception map, " + session.date + " " + ClockOfDay(session.clock.front().clock) +
              "  (level 0-15; grey: handset silent; x: went silent; diamond: new network)",
          8, 4);
  });
}

}  // namespace tovmir
