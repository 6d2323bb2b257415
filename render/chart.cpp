#include "render/chart.h"

#include <pango/pangocairo.h>

#include <cmath>

#include "render/cairo_painter.h"

namespace tovmir {
namespace {
constexpr char kFont[] = "Sans";
}  // namespace

void SetColour(cairo_t* cr, unsigned rgb) {
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                       (rgb & 0xFF) / 255.0);
}

int Label(cairo_t* cr, const std::string& text, double x, double y, double align) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string(kFont);
  pango_font_description_set_absolute_size(font, kChartFontPixels * PANGO_SCALE);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  cairo_move_to(cr, std::round(x - align * w), y);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
  return w;
}

std::string WriteChart(int width, int height, const std::string& path,
                       const std::function<void(cairo_t*)>& draw) {
  return WriteDrawnPng(width, height, path, [&](cairo_t* cr) {
    SetColour(cr, kChartGround);
    cairo_paint(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    draw(cr);
  });
}

}  // namespace tovmir
