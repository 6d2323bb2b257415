// meter_window.h: the meter as a GTK 4 window on Linux, the window itself the object: a
// final GtkApplicationWindow that owns its meter session (session/meter_session.h) and is
// that session's front end. The figure fills a meter area, painted as the Windows program
// paints it (the same geometry, the cairo painter); a line under it says what is wrong
// with the port; the about dialog is in the header bar's menu. The session's reader thread
// decodes the bytes as they arrive and wakes the main loop only when the meter is to be
// redrawn or the port failed; the session's tick (watchdog, retries) is a timer of the
// window's. What the window adds to the main loop goes with it: its dispose stops the
// session (the port's settings put back) and removes its sources, whichever way it ends.
//
// Threads: the main loop's, but the session's calls on its reader thread, which only
// mark what is to be done and wake the main loop.
#pragma once

#include <gtk/gtk.h>

G_BEGIN_DECLS

G_DECLARE_FINAL_TYPE(TovmirMeterWindow, tovmir_meter_window, TOVMIR, METER_WINDOW,
                     GtkApplicationWindow)

// A meter window of app for port (as the user named it: a path, or COMn), shown.
TovmirMeterWindow* tovmir_meter_window_new(GtkApplication* app, const char* port);

// Stops its session: the reader ended, the port's settings put back; nothing of the window
// runs from the main loop any more. Makes no request of the display, so that Xlib's error
// handlers may call it. Safe twice.
void tovmir_meter_window_stop(TovmirMeterWindow* self);

// Whether xid is the X window it is shown in.
gboolean tovmir_meter_window_shown_in(TovmirMeterWindow* self, unsigned long xid);

G_END_DECLS
