// tovmir for Linux: the meter in a native GTK 4 window.
//   tovmir [PORT]    PORT a device path, or COMn for /dev/ttyS(n-1); without one, the first
//                    USB serial adapter found, else /dev/ttyS0
//
// Threads: GTK's main loop runs everything, the stop signals included (read from a
// signalfd), but the meter session's reader, which decodes the bytes (meter_window.h).
#include <gdk/x11/gdkx.h>
#include <getopt.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "linux/meter_window.h"
#include "platform/port_names.h"
#include "platform/stop_signals.h"
#include "version.h"

namespace {

const char kHelp[] =
    "usage: tovmir [PORT]\n"
    "\n"
    "Shows, in a window, how well the mobile handset on the serial port PORT receives: an\n"
    "antenna, 15 bars filled up to the reception level, and the handset's network number\n"
    "or that it is off. PORT is a device path (/dev/ttyUSB0, a /dev/serial/by-id/ name), or\n"
    "COMn for /dev/ttyS(n-1); without it the first USB serial adapter found, else\n"
    "/dev/ttyS0. A port that cannot be opened is tried again every second; one that is\n"
    "unplugged is opened again when it comes back.\n"
    "\n"
    "-h, --help     this help\n"
    "-V, --version  the version\n";

// Icons beside the program (a build that is not installed) come before the theme's.
void FindOwnIcons() {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return;
  std::string dir(exe, static_cast<size_t>(n));
  dir = dir.substr(0, dir.rfind('/')) + "/icons";
  if (access(dir.c_str(), F_OK) == 0)
    gtk_icon_theme_add_search_path(gtk_icon_theme_get_for_display(gdk_display_get_default()),
                                   dir.c_str());
}

// The stop signals close the window as the user would, so that the port is left as it was
// found.
gboolean OnStopSignal(int fd, GIOCondition, gpointer gtk_app) {
  signalfd_siginfo info;
  if (read(fd, &info, sizeof info) != sizeof info) return G_SOURCE_CONTINUE;
  if (GtkWindow* w = gtk_application_get_active_window(GTK_APPLICATION(gtk_app)))
    gtk_window_close(w);
  else
    g_application_quit(G_APPLICATION(gtk_app));
  return G_SOURCE_CONTINUE;
}

// The renderer. The window draws a flat figure in a few small pieces, which GTK's cairo
// renderer draws for less CPU than its GL renderer, and with GL not even loaded; on a
// machine without a GPU, GL is Mesa's software GL at many times the cost of both (README,
// "The Linux meter window"). A renderer the user chose with GSK_RENDERER is kept, and so
// are GL and the user's GDK_DEBUG when it is not cairo.
void ChooseRenderer() {
  const char* chosen = g_getenv("GSK_RENDERER");
  if (chosen && std::strcmp(chosen, "cairo") != 0) return;
  g_setenv("GSK_RENDERER", "cairo", TRUE);
  g_setenv("GDK_DEBUG", "gl-disable", FALSE);
}

// When the display is lost (the X server ended, the connection cut), or a window is
// destroyed by another client (xdotool windowclose), GDK ends the process on the spot from
// its I/O or X error handler, past every clean-up. Ours run first and put the port back.
// Xlib's handlers carry no data of ours: the meters are found as the application's windows.
// (GDK on Wayland leaves no such hook.)
XIOErrorHandler g_gdk_io_error = nullptr;
XErrorHandler g_gdk_error = nullptr;

// The application's meter windows.
std::vector<TovmirMeterWindow*> Meters() {
  std::vector<TovmirMeterWindow*> meters;
  if (GApplication* app = g_application_get_default())
    for (GList* w = gtk_application_get_windows(GTK_APPLICATION(app)); w; w = w->next)
      if (TOVMIR_IS_METER_WINDOW(w->data)) meters.push_back(TOVMIR_METER_WINDOW(w->data));
  return meters;
}

int OnDisplayLost(Display* display) {
  for (TovmirMeterWindow* meter : Meters()) tovmir_meter_window_stop(meter);
  return g_gdk_io_error ? g_gdk_io_error(display) : 1;
}

gboolean Quit(gpointer) {
  if (GApplication* app = g_application_get_default()) g_application_quit(app);
  return G_SOURCE_REMOVE;
}

// GDK's error traps install its own handler while they last, so what reaches ours is an
// error GDK did not ask for. One about a meter's window means that the window is gone: the
// meter stops there (no X request may be made here), and should GDK go on, the program
// ends.
int OnXError(Display* display, XErrorEvent* error) {
  for (TovmirMeterWindow* meter : Meters())
    if (tovmir_meter_window_shown_in(meter, error->resourceid)) {
      tovmir_meter_window_stop(meter);
      g_idle_add(Quit, nullptr);
    }
  return g_gdk_error ? g_gdk_error(display, error) : 0;
}

void PutPortBackIfDisplayLost() {
  if (!GDK_IS_X11_DISPLAY(gdk_display_get_default()) || g_gdk_io_error) return;
  g_gdk_io_error = XSetIOErrorHandler(OnDisplayLost);
  g_gdk_error = XSetErrorHandler(OnXError);
}

void Activate(GtkApplication* gtk_app, gpointer port) {
  if (gtk_application_get_windows(gtk_app)) return;
  // Before the port is opened: a display lost at any moment after must find them.
  PutPortBackIfDisplayLost();
  FindOwnIcons();
  gtk_window_set_default_icon_name(TOVMIR_APP_ID);
  tovmir_meter_window_new(gtk_app, static_cast<const char*>(port));
}

// What was asked for on standard output; a failure to write it is an error.
int Printed(const std::string& text) {
  std::cout << text << std::flush;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout) return 0;
  std::cerr << "tovmir: cannot write to standard output: " << std::strerror(errno) << '\n';
  return 1;
}

int UsageError(const std::string& what) {
  std::cerr << "tovmir: " << what << "\nTry 'tovmir --help'.\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  static const option kOptions[] = {{"help", no_argument, nullptr, 'h'},
                                    {"version", no_argument, nullptr, 'V'},
                                    {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, "hV", kOptions, nullptr)) != -1;) {
    if (c == 'h') return Printed(kHelp);
    if (c == 'V') return Printed(std::string("tovmir ") + TOVMIR_VERSION + "\n");
    return UsageError(std::string("unknown option '") + argv[optind - 1] + "'");
  }
  if (argc - optind > 1)
    return UsageError(std::string("unexpected argument '") + argv[optind + 1] + "'");

  const std::string port = optind < argc ? argv[optind] : tovmir::DefaultPort();
  if (port.empty()) return UsageError("the port's name is empty");

  // Before GTK starts a thread of its own, so that every thread leaves the signals to us.
  const int stop_fd = tovmir::StopSignals();
  if (stop_fd < 0) {
    std::cerr << "tovmir: cannot set up signal handling: " << std::strerror(errno) << '\n';
    return 1;
  }
  ChooseRenderer();
  GtkApplication* gtk_app = gtk_application_new(TOVMIR_APP_ID, G_APPLICATION_NON_UNIQUE);
  g_signal_connect(gtk_app, "activate", G_CALLBACK(Activate), const_cast<char*>(port.c_str()));
  const guint stop_source = g_unix_fd_add(stop_fd, G_IO_IN, OnStopSignal, gtk_app);
  char* no_args[] = {argv[0], nullptr};  // the port is ours, not GApplication's
  const int status = g_application_run(G_APPLICATION(gtk_app), 1, no_args);
  g_source_remove(stop_source);
  g_object_unref(gtk_app);
  return status;
}
