// meter_window.h: the meter as a GTK 4 window on Linux. The figure fills a meter area,
// painted as the Windows program paints it (the same geometry, the cairo painter); a line
// under it says what is wrong with the port; the about dialog is in the header bar's menu.
// The serial link's reader thread decodes the bytes as they arrive (MeterFeed) and wakes
// the main loop only when the meter is to be redrawn or the port failed; the 500 ms
// watchdog runs on the main loop. A port that cannot be opened is tried again once a
// second; one that fails while open (unplugged) shows the silent meter, and is opened again
// as soon as it is back.
//
// Threads: everything on the main loop's thread, but LinkByte and LinkEnded, which the
// reader calls and which only reach the MeterFeed.
#pragma once

#include <gtk/gtk.h>

#include <optional>
#include <string>

#include "linux/meter_area.h"
#include "linux/meter_feed.h"
#include "serial/reopening_link.h"

namespace tovmir {

class MeterWindow final : public LinkOwner {
 public:
  // port: as the user named it (shown in messages); device: the path it stands for.
  MeterWindow(GtkApplication* app, std::string port, std::string device);
  ~MeterWindow();
  MeterWindow(const MeterWindow&) = delete;
  MeterWindow& operator=(const MeterWindow&) = delete;

  void LinkByte(std::uint8_t b) override { feed_.Put(b); }
  void LinkOpenFailed(const std::string& text, const std::string& caption,
                      const OsError& why) override;
  void LinkEnded(const OsError& why) override;

  // Stops the link (the port's settings put back), removes every source and handler the
  // window added: the window is going, and it may go before or after the main loop ends.
  // Makes no request of the display (it may be called from Xlib's error handlers).
  void Stop();
  // Whether id is the X window the meter's window is shown in (false once stopped).
  bool HasXWindow(unsigned long id) const;

 private:
  void Build(GtkApplication* app);
  // Tries to open the port (under each name it may have come back as); true when open.
  bool TryOpen();
  void Lost(const std::string& why);
  void Say(const std::string& message);
  // The port failed and is waited for; hint: what to do, on a line of its own, or "".
  void SayLost(const std::string& why, const std::string& hint = "");

  static gboolean OnTick(gpointer self);
  static gboolean OnRetry(gpointer self);
  static gboolean OnWake(gpointer self);
  static void OnDestroy(GtkWidget* window, gpointer self);

  std::string port_;
  // Made ready by the reader (g_source_set_ready_time may be called from any thread): the
  // feed's way to wake the main loop. Destroyed with the window; the feed is detached first.
  GSource* wake_ = nullptr;
  MeterFeed feed_;
  ReopeningLink link_;
  std::optional<std::string> said_;  // what the window said last
  guint tick_ = 0, retry_ = 0;
  GtkWidget* window_ = nullptr;
  GtkWidget* area_ = nullptr;
  GtkWidget* message_ = nullptr;
};

}  // namespace tovmir
