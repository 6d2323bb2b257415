#include "linux/meter_area.h"

#include <cairo.h>

#include <array>
#include <cstdint>
#include <vector>

#include "meter/figure.h"
#include "render/cairo_painter.h"

namespace tovmir {
namespace {

graphene_rect_t Rect(double x, double y, double width, double height) {
  graphene_rect_t r;
  graphene_rect_init(&r, static_cast<float>(x), static_cast<float>(y), static_cast<float>(width),
                     static_cast<float>(height));
  return r;
}

// What the widget keeps from one redraw to the next.
class MeterArt final {
 public:
  explicit MeterArt(std::function<MeterView()> view) : view_(std::move(view)) {}
  ~MeterArt() {
    for (auto& kept : kept_)
      for (Kept& k : kept) Drop(k);
    Drop(background_);
  }
  MeterArt(const MeterArt&) = delete;
  MeterArt& operator=(const MeterArt&) = delete;

  void Snapshot(GtkWidget* widget, GtkSnapshot* snapshot);
  // The window's first size is the Windows program's: the area asks for that much until it
  // has had it once, and for a pixel after.
  int Minimum(int natural) const { return sized_ ? 1 : natural; }
  void Allocated(GtkWidget* widget) {
    if (sized_) return;
    sized_ = true;
    gtk_widget_queue_resize(widget);
  }

 private:
  // A node and what it was made for: a piece (its serial and place), or the background
  // (its size).
  struct Kept {
    std::uint64_t serial = 0;
    int x = 0, y = 0;
    GskRenderNode* node = nullptr;
  };
  static void Drop(Kept& k) {
    if (k.node) gsk_render_node_unref(k.node);
    k = {};
  }
  static GskRenderNode* PieceNode(const FigurePieces::Piece& p);

  std::function<MeterView()> view_;
  FigurePieces pieces_;
  // For each piece, the nodes of its current picture and of the one before, as the pieces
  // keep them.
  std::vector<std::array<Kept, 2>> kept_;
  Kept background_;  // x, y: the size
  bool sized_ = false;
};

// A piece's image, painted into a cairo node at its place. (Not a texture: GTK 4.8's cairo
// renderer converts every texture pixel by pixel at every redraw, even one outside what is
// redrawn.) The node keeps a snapshot of the image, which the pieces never draw into again.
GskRenderNode* MeterArt::PieceNode(const FigurePieces::Piece& p) {
  double scale_x = 1, scale_y = 1;
  cairo_surface_get_device_scale(p.image, &scale_x, &scale_y);
  const graphene_rect_t bounds = Rect(p.x, p.y, cairo_image_surface_get_width(p.image) / scale_x,
                                      cairo_image_surface_get_height(p.image) / scale_y);
  GskRenderNode* node = gsk_cairo_node_new(&bounds);
  cairo_t* cr = gsk_cairo_node_get_draw_context(node);
  cairo_set_source_surface(cr, p.image, p.x, p.y);
  cairo_paint(cr);
  cairo_destroy(cr);
  return node;
}

void MeterArt::Snapshot(GtkWidget* widget, GtkSnapshot* snapshot) {
  const int width = gtk_widget_get_width(widget), height = gtk_widget_get_height(widget);
  if (width <= 0 || height <= 0) return;
  const MeterView v = view_();
  const int scale = gtk_widget_get_scale_factor(widget);
  const std::vector<FigurePieces::Piece>& pieces =
      pieces_.Paint(width, MeterHeight(height), v.level, v.hollow, v.status_cp932, scale);

  const graphene_rect_t area = Rect(0, 0, width, height);
  // The status line may reach below a window lower than the figure; the area ends there.
  gtk_snapshot_push_clip(snapshot, &area);
  if (!background_.node || background_.x != width || background_.y != height) {
    Drop(background_);
    const Colour c = BrushColour(Brush::kFace);
    const GdkRGBA face = {static_cast<float>(c.red), static_cast<float>(c.green),
                          static_cast<float>(c.blue), 1};
    background_ = {0, width, height, gsk_color_node_new(&face, &area)};
  }
  gtk_snapshot_append_node(snapshot, background_.node);
  // The same node for an unchanged piece: GTK finds nothing to redraw there.
  for (size_t i = pieces.size(); i < kept_.size(); ++i)
    for (Kept& k : kept_[i]) Drop(k);
  kept_.resize(pieces.size());
  for (size_t i = 0; i < pieces.size(); ++i) {
    const FigurePieces::Piece& p = pieces[i];
    if (!p.image) continue;  // the call draws nothing
    auto same = [&](const Kept& k) {
      return k.node && k.serial == p.serial && k.x == p.x && k.y == p.y;
    };
    std::array<Kept, 2>& kept = kept_[i];
    if (!same(kept[0])) {
      std::swap(kept[0], kept[1]);
      if (!same(kept[0])) {
        Drop(kept[0]);
        kept[0] = {p.serial, p.x, p.y, PieceNode(p)};
      }
    }
    gtk_snapshot_append_node(snapshot, kept[0].node);
  }
  gtk_snapshot_pop(snapshot);
}

}  // namespace
}  // namespace tovmir

// The GObject type of the widget: a GtkWidget that hands its snapshot to its MeterArt.
G_DECLARE_FINAL_TYPE(TovmirMeterArea, tovmir_meter_area, TOVMIR, METER_AREA, GtkWidget)

struct _TovmirMeterArea {
  GtkWidget parent_instance;
  tovmir::MeterArt* art;  // owned
};

G_DEFINE_FINAL_TYPE(TovmirMeterArea, tovmir_meter_area, GTK_TYPE_WIDGET)

static void tovmir_meter_area_init(TovmirMeterArea*) {}

static void tovmir_meter_area_finalize(GObject* object) {
  delete TOVMIR_METER_AREA(object)->art;
  G_OBJECT_CLASS(tovmir_meter_area_parent_class)->finalize(object);
}

static void tovmir_meter_area_snapshot(GtkWidget* widget, GtkSnapshot* snapshot) {
  TOVMIR_METER_AREA(widget)->art->Snapshot(widget, snapshot);
}

static void tovmir_meter_area_measure(GtkWidget* widget, GtkOrientation orientation, int,
                                      int* minimum, int* natural, int*, int*) {
  *natural = orientation == GTK_ORIENTATION_HORIZONTAL ? tovmir::kDefaultClientWidth
                                                       : tovmir::kDefaultClientHeight;
  *minimum = TOVMIR_METER_AREA(widget)->art->Minimum(*natural);
}

static void tovmir_meter_area_size_allocate(GtkWidget* widget, int, int, int) {
  TOVMIR_METER_AREA(widget)->art->Allocated(widget);
}

static void tovmir_meter_area_class_init(TovmirMeterAreaClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = tovmir_meter_area_finalize;
  GTK_WIDGET_CLASS(klass)->snapshot = tovmir_meter_area_snapshot;
  GTK_WIDGET_CLASS(klass)->measure = tovmir_meter_area_measure;
  GTK_WIDGET_CLASS(klass)->size_allocate = tovmir_meter_area_size_allocate;
}

namespace tovmir {

GtkWidget* NewMeterArea(std::function<MeterView()> view) {
  auto* area = static_cast<TovmirMeterArea*>(g_object_new(tovmir_meter_area_get_type(), nullptr));
  area->art = new MeterArt(std::move(view));
  return GTK_WIDGET(area);
}

}  // namespace tovmir
