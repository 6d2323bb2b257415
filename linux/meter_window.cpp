#include "linux/meter_window.h"

#include <gdk/x11/gdkx.h>

#include <iostream>

#include "platform/text.h"
#include "version.h"

namespace tovmir {
namespace {

constexpr guint kTickMs = 500;  // the watchdog's tick

void ShowAbout(GSimpleAction*, GVariant*, gpointer window) {
  static const char* const kAuthors[] = {"the tovmir project", nullptr};
  gtk_show_about_dialog(GTK_WINDOW(window), "program-name", "tovmir", "version", TOVMIR_VERSION,
                        "comments", "Reception meter of a mobile handset on a serial port",
                        "copyright", "Copyright (C) 2026 the tovmir project", "license-type",
                        GTK_LICENSE_MIT_X11, "logo-icon-name", TOVMIR_APP_ID, "authors", kAuthors,
                        nullptr);
}

// The wake's source: ready when the reader made it so, made unready as it is dispatched.
gboolean DispatchWake(GSource* source, GSourceFunc callback, gpointer data) {
  g_source_set_ready_time(source, -1);
  return callback(data);
}

GSourceFuncs kWakeFuncs = {nullptr, nullptr, DispatchWake, nullptr, nullptr, nullptr};

}  // namespace

MeterWindow::MeterWindow(GtkApplication* app, std::string port, std::string device)
    : port_(std::move(port)),
      wake_(g_source_new(&kWakeFuncs, sizeof(GSource))),
      feed_([this] { g_source_set_ready_time(wake_, 0); }),
      link_(std::move(device)) {
  g_source_set_callback(wake_, &MeterWindow::OnWake, this, nullptr);
  g_source_attach(wake_, nullptr);
  Build(app);
  if (!TryOpen()) retry_ = g_timeout_add_seconds(kReopenSeconds, &MeterWindow::OnRetry, this);
}

MeterWindow::~MeterWindow() { Stop(); }

void MeterWindow::Build(GtkApplication* app) {
  window_ = gtk_application_window_new(app);
  gtk_window_set_title(GTK_WINDOW(window_), "\u30a2\u30f3\u30c6\u30ca");  // アンテナ
  gtk_window_set_icon_name(GTK_WINDOW(window_), TOVMIR_APP_ID);

  GtkWidget* header = gtk_header_bar_new();
  GMenu* menu = g_menu_new();
  g_menu_append(menu, "About tovmir", "win.about");
  GtkWidget* button = gtk_menu_button_new();
  gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(button), "open-menu-symbolic");
  gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(button), G_MENU_MODEL(menu));
  g_object_unref(menu);
  gtk_header_bar_pack_end(GTK_HEADER_BAR(header), button);
  gtk_window_set_titlebar(GTK_WINDOW(window_), header);
  static const GActionEntry kActions[] = {{"about", ShowAbout, nullptr, nullptr, nullptr, {}}};
  g_action_map_add_action_entries(G_ACTION_MAP(window_), kActions, 1, window_);

  // Ours as well as the window's: the window's destroy, where Stop runs, comes after its
  // children are gone.
  area_ = g_object_ref(NewMeterArea([this] { return feed_.View(); }));
  gtk_widget_set_hexpand(area_, TRUE);
  gtk_widget_set_vexpand(area_, TRUE);
  message_ = g_object_ref(gtk_label_new(nullptr));
  gtk_label_set_wrap(GTK_LABEL(message_), TRUE);
  gtk_label_set_xalign(GTK_LABEL(message_), 0);
  gtk_widget_set_margin_start(message_, 6);
  gtk_widget_set_margin_end(message_, 6);
  gtk_widget_set_margin_top(message_, 4);
  gtk_widget_set_margin_bottom(message_, 4);
  gtk_widget_set_visible(message_, FALSE);
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_box_append(GTK_BOX(box), area_);
  gtk_box_append(GTK_BOX(box), message_);
  gtk_window_set_child(GTK_WINDOW(window_), box);

  // The first size is the area's natural one, the Windows program's; the window may then be
  // made smaller. The header bar would rather be wider than that: the width is set outright.
  gtk_window_set_default_size(GTK_WINDOW(window_), kDefaultClientWidth, -1);
  // However the window goes (closed, the application quit), it stops first.
  g_signal_connect(window_, "destroy", G_CALLBACK(&MeterWindow::OnDestroy), this);
  gtk_window_present(GTK_WINDOW(window_));
}

void MeterWindow::Say(const std::string& message) {
  if (said_ && message == *said_) return;
  said_ = message;
  if (message_) {
    gtk_label_set_text(GTK_LABEL(message_), message.c_str());
    gtk_widget_set_visible(message_, !message.empty());
  }
  // Also for whoever started it from a terminal (and for the tests).
  std::string line = message.empty() ? link_.device() + ": open" : message;
  for (char& c : line)
    if (c == '\n') c = ' ';
  std::cerr << "tovmir: " << line << std::endl;
}

void MeterWindow::LinkOpenFailed(const std::string&, const std::string&, const OsError&) {}

bool MeterWindow::TryOpen() {
  // The decoder starts afresh before the new reader's first byte: nothing of an earlier
  // connection goes on into this one.
  if (feed_.WithState([this](MeterState& s) { return link_.TryOpen(*this, s); })) {
    if (!tick_) tick_ = g_timeout_add(kTickMs, &MeterWindow::OnTick, this);
    Say("");
    return true;
  }
  const std::string& device = link_.device();
  const std::string hint = link_.hint().empty() ? "" : "\n" + link_.hint();
  if (link_.lost())
    SayLost(link_.error().text, hint);
  else
    Say(Utf8FromCp932(std::string(port_) + kTextCannotOpen) + "\n" + device + ": " +
        link_.error().text + " (trying again every second)" + hint);
  return false;
}

void MeterWindow::LinkEnded(const OsError& why) { feed_.Ended(why.text); }

void MeterWindow::SayLost(const std::string& why, const std::string& hint) {
  Say(link_.device() + ": the port was lost; waiting for it to come back (" + why + ")" + hint);
}

void MeterWindow::Lost(const std::string& why) {
  if (!link_.is_open()) return;
  link_.Lost();  // the reader has ended, its last bytes decoded
  SayLost(why);
  if (!retry_) retry_ = g_timeout_add_seconds(kReopenSeconds, &MeterWindow::OnRetry, this);
}

gboolean MeterWindow::OnWake(gpointer p) {
  auto* self = static_cast<MeterWindow*>(p);
  const MeterFeed::Woken woken = self->feed_.Take();
  if (woken.redraw && self->area_) gtk_widget_queue_draw(self->area_);
  if (woken.ended && self->window_) self->Lost(*woken.ended);
  return G_SOURCE_CONTINUE;
}

gboolean MeterWindow::OnTick(gpointer p) {
  auto* self = static_cast<MeterWindow*>(p);
  if (self->feed_.Tick() && self->area_) gtk_widget_queue_draw(self->area_);
  return G_SOURCE_CONTINUE;
}

gboolean MeterWindow::OnRetry(gpointer p) {
  auto* self = static_cast<MeterWindow*>(p);
  if (!self->TryOpen()) return G_SOURCE_CONTINUE;
  self->retry_ = 0;
  return G_SOURCE_REMOVE;
}

void MeterWindow::OnDestroy(GtkWidget*, gpointer p) { static_cast<MeterWindow*>(p)->Stop(); }

bool MeterWindow::HasXWindow(unsigned long id) const {
  if (!window_) return false;
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window_));
  return surface && GDK_IS_X11_SURFACE(surface) && gdk_x11_surface_get_xid(surface) == id;
}

void MeterWindow::Stop() {
  feed_.Detach();  // a reader still running wakes nothing from now on
  for (guint* source : {&tick_, &retry_})
    if (*source) {
      g_source_remove(*source);
      *source = 0;
    }
  if (wake_) {
    g_source_destroy(wake_);
    g_source_unref(wake_);
    wake_ = nullptr;
  }
  link_.Close();
  // The widgets may outlive this object (the display lost, the loop ended first): nothing
  // of theirs calls back into it any more.
  if (window_) g_signal_handlers_disconnect_by_data(window_, this);
  if (area_) SetMeterView(area_, [view = feed_.View()] { return view; });
  for (GtkWidget* held : {area_, message_})
    if (held) g_object_unref(held);
  window_ = area_ = message_ = nullptr;
}

}  // namespace tovmir
