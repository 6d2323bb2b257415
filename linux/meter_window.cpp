#include "linux/meter_window.h"

#include <gdk/x11/gdkx.h>

#include <iostream>
#include <memory>
#include <new>
#include <string>

#include "linux/meter_area.h"
#include "receiver/receiver.h"
#include "session/meter_session.h"
#include "version.h"

namespace {

// The session's front end in the window: what the reader thread hands on is marked under
// the session's lock and taken on the main loop, woken once until it takes it.
class Front final : public tovmir::SessionFrontEnd {
 public:
  Front(GtkWidget* area, GtkWidget* message) : area_(area), message_(message) {}

  void RedrawNeeded(const tovmir::MeterEvent& e, const tovmir::MeterState&) override {
    if (e.kind == tovmir::MeterEvent::kTick) {  // on the main loop already
      gtk_widget_queue_draw(area_);
      return;
    }
    redraw_ = true;
    Wake();
  }
  void PortFailed() override {
    failed_ = true;
    Wake();
  }
  void Say(const std::string& words, bool trouble) override {
    gtk_label_set_text(GTK_LABEL(message_), trouble ? words.c_str() : "");
    gtk_widget_set_visible(message_, trouble);
    // Also for whoever started it from a terminal (and for the tests), on one line.
    std::string line = words;
    for (char& c : line)
      if (c == '\n') c = ' ';
    std::cerr << "tovmir: " << line << std::endl;
  }
  // What the window shows of an open and a loss is in the words said.
  void Opened(const tovmir::MeterState&, bool) override {}
  void Lost(const tovmir::MeterState&, const std::string&) override {}

  // Main loop, with the session's lock held: what woke it.
  struct Woken {
    bool redraw = false, failed = false;
  };
  Woken Take() {
    const Woken w{redraw_, failed_};
    redraw_ = failed_ = woken_ = false;
    return w;
  }
  void set_wake(GSource* wake) { wake_ = wake; }

 private:
  void Wake() {
    if (woken_) return;
    woken_ = true;
    g_source_set_ready_time(wake_, 0);  // any thread may
  }

  GtkWidget *area_, *message_;
  GSource* wake_ = nullptr;
  bool redraw_ = false, failed_ = false, woken_ = false;  // under the session's lock
};

// The wake's source: ready when the reader made it so, made unready as it is dispatched.
gboolean DispatchWake(GSource* source, GSourceFunc callback, gpointer data) {
  g_source_set_ready_time(source, -1);
  return callback(data);
}

GSourceFuncs kWakeFuncs = {nullptr, nullptr, DispatchWake, nullptr, nullptr, nullptr};

void ShowAbout(GSimpleAction*, GVariant*, gpointer window) {
  static const char* const kAuthors[] = {"the tovmir project", nullptr};
  gtk_show_about_dialog(GTK_WINDOW(window), "program-name", "tovmir", "version", TOVMIR_VERSION,
                        "comments", "Reception meter of a mobile handset on a serial port",
                        "copyright", "Copyright (C) 2026 the tovmir project", "license-type",
                        GTK_LICENSE_MIT_X11, "logo-icon-name", TOVMIR_APP_ID, "authors", kAuthors,
                        nullptr);
}

}  // namespace

struct _TovmirMeterWindow {
  GtkApplicationWindow parent_instance;
  GtkWidget* area;
  std::unique_ptr<Front> front;  // owned; made with the session, gone at finalize
  std::unique_ptr<tovmir::MeterSession> session;
  GSource* wake;
  guint tick;
};

G_DEFINE_FINAL_TYPE(TovmirMeterWindow, tovmir_meter_window, GTK_TYPE_APPLICATION_WINDOW)

namespace {

gboolean OnWake(gpointer p) {
  auto* self = static_cast<TovmirMeterWindow*>(p);
  const Front::Woken woken =
      self->session->WithState([&](const tovmir::MeterState&) { return self->front->Take(); });
  if (woken.redraw) gtk_widget_queue_draw(self->area);
  if (woken.failed) self->session->TakeFailure();
  return G_SOURCE_CONTINUE;
}

gboolean OnTick(gpointer p) {
  static_cast<TovmirMeterWindow*>(p)->session->Tick();
  return G_SOURCE_CONTINUE;
}

tovmir::MeterView ViewOf(const tovmir::MeterState& s) {
  return {s.m_nLevel, s.m_bHollow != 0, tovmir::StatusLineText(s)};
}

}  // namespace

static void tovmir_meter_window_init(TovmirMeterWindow* self) {
  // The members a C++ object would construct: GObject gives zeroed memory.
  new (&self->front) std::unique_ptr<Front>();
  new (&self->session) std::unique_ptr<tovmir::MeterSession>();
  GtkWindow* window = GTK_WINDOW(self);
  gtk_window_set_title(window, "\u30a2\u30f3\u30c6\u30ca");  // アンテナ
  gtk_window_set_icon_name(window, TOVMIR_APP_ID);

  GtkWidget* header = gtk_header_bar_new();
  GMenu* menu = g_menu_new();
  g_menu_append(menu, "About tovmir", "win.about");
  GtkWidget* button = gtk_menu_button_new();
  gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(button), "open-menu-symbolic");
  gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(button), G_MENU_MODEL(menu));
  g_object_unref(menu);
  gtk_header_bar_pack_end(GTK_HEADER_BAR(header), button);
  gtk_window_set_titlebar(window, header);
  static const GActionEntry kActions[] = {{"about", ShowAbout, nullptr, nullptr, nullptr, {}}};
  g_action_map_add_action_entries(G_ACTION_MAP(self), kActions, 1, self);

  // The area reads the state through the window, which outlives it (its children go in its
  // dispose, the session at its finalize).
  self->area = tovmir::NewMeterArea(
      [self] { return self->session ? self->session->WithState(ViewOf) : tovmir::MeterView{}; });
  gtk_widget_set_hexpand(self->area, TRUE);
  gtk_widget_set_vexpand(self->area, TRUE);
  GtkWidget* message = gtk_label_new(nullptr);
  gtk_label_set_wrap(GTK_LABEL(message), TRUE);
  gtk_label_set_xalign(GTK_LABEL(message), 0);
  gtk_widget_set_margin_start(message, 6);
  gtk_widget_set_margin_end(message, 6);
  gtk_widget_set_margin_top(message, 4);
  gtk_widget_set_margin_bottom(message, 4);
  gtk_widget_set_visible(message, FALSE);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_append(GTK_BOX(box), self->area);
  gtk_box_append(GTK_BOX(box), message);
  gtk_window_set_child(window, box);
  // The first size is the area's natural one, the Windows program's; the window may then be
  // made smaller. The header bar would rather be wider than that: the width is set outright.
  gtk_window_set_default_size(window, tovmir::kDefaultClientWidth, -1);

  self->front = std::make_unique<Front>(self->area, message);
  self->wake = g_source_new(&kWakeFuncs, sizeof(GSource));
  self->front->set_wake(self->wake);
  g_source_set_callback(self->wake, OnWake, self, nullptr);
  g_source_attach(self->wake, nullptr);
}

void tovmir_meter_window_stop(TovmirMeterWindow* self) {
  if (self->session) self->session->Close();  // the reader ends: nothing wakes us after it
  if (self->tick) g_source_remove(self->tick);
  self->tick = 0;
  if (self->wake) {
    g_source_destroy(self->wake);
    g_source_unref(self->wake);
    self->wake = nullptr;
  }
}

gboolean tovmir_meter_window_shown_in(TovmirMeterWindow* self, unsigned long xid) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(self));
  return surface && GDK_IS_X11_SURFACE(surface) && gdk_x11_surface_get_xid(surface) == xid;
}

// However the window goes (closed, destroyed, the application quit), before its children.
static void tovmir_meter_window_dispose(GObject* object) {
  tovmir_meter_window_stop(TOVMIR_METER_WINDOW(object));
  G_OBJECT_CLASS(tovmir_meter_window_parent_class)->dispose(object);
}

static void tovmir_meter_window_finalize(GObject* object) {
  auto* self = TOVMIR_METER_WINDOW(object);
  self->session.~unique_ptr();
  self->front.~unique_ptr();
  G_OBJECT_CLASS(tovmir_meter_window_parent_class)->finalize(object);
}

static void tovmir_meter_window_class_init(TovmirMeterWindowClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = tovmir_meter_window_dispose;
  G_OBJECT_CLASS(klass)->finalize = tovmir_meter_window_finalize;
}

TovmirMeterWindow* tovmir_meter_window_new(GtkApplication* app, const char* port) {
  auto* self = static_cast<TovmirMeterWindow*>(
      g_object_new(tovmir_meter_window_get_type(), "application", app, nullptr));
  self->session = std::make_unique<tovmir::MeterSession>(port, *self->front);
  self->session->Start();
  self->tick = g_timeout_add(tovmir::kWatchdogMs, OnTick, self);
  gtk_window_present(GTK_WINDOW(self));
  return self;
}
