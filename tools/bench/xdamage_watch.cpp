// xdamage_watch TITLE [SECONDS]
//
// Waits up to SECONDS (default 30) for a viewable top-level X window whose title contains
// TITLE (UTF-8), prints "window ID WIDTH HEIGHT", then one line per damaged rectangle of
// it, "damage NS X Y W H", NS being CLOCK_MONOTONIC in nanoseconds when the event was read
// (the clock Python's time.monotonic_ns reads). Ends when standard input closes or the
// window goes away. Build: c++ xdamage_watch.cpp -lXdamage -lX11
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

// steady_clock is CLOCK_MONOTONIC on Linux, as is Python's time.monotonic_ns.
static long long now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The window's title, from _NET_WM_NAME (UTF-8) or else WM_NAME; free with XFree.
static char* title_of(Display* d, Window w) {
  Atom net_name = XInternAtom(d, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long n, rest;
  unsigned char* data = NULL;
  if (XGetWindowProperty(d, w, net_name, 0, 1024, False, utf8, &type, &format, &n, &rest, &data) ==
          Success &&
      data && n > 0)
    return (char*)data;
  if (data) XFree(data);
  char* name = NULL;
  return XFetchName(d, w, &name) ? name : NULL;
}

static Window find_window(Display* d, const char* title) {
  Window root_ret, parent, *kids = NULL, found = 0;
  unsigned int n = 0;
  if (!XQueryTree(d, DefaultRootWindow(d), &root_ret, &parent, &kids, &n)) return 0;
  for (unsigned int i = 0; i < n && !found; ++i) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, kids[i], &a) || a.map_state != IsViewable) continue;
    char* t = title_of(d, kids[i]);
    if (t && strstr(t, title)) found = kids[i];
    if (t) XFree(t);
  }
  if (kids) XFree(kids);
  return found;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s TITLE [SECONDS]\n", argv[0]);
    return 2;
  }
  const double seconds = argc > 2 ? atof(argv[2]) : 30;
  Display* d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "xdamage_watch: cannot open display %s\n", XDisplayName(NULL));
    return 1;
  }
  int damage_event, damage_error;
  if (!XDamageQueryExtension(d, &damage_event, &damage_error)) {
    fprintf(stderr, "xdamage_watch: the X server has no DAMAGE extension\n");
    return 1;
  }

  // Map and title changes on the root's children wake the search; the poll's timeout
  // only bounds the wait.
  XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask | PropertyChangeMask);
  const long long deadline = now_ns() + (long long)(seconds * 1e9);
  Window w;
  while (!(w = find_window(d, argv[1]))) {
    const long long left = deadline - now_ns();
    if (left <= 0) {
      fprintf(stderr, "xdamage_watch: no window titled \"%s\" within %g s\n", argv[1], seconds);
      return 1;
    }
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
    }
    struct pollfd p = {ConnectionNumber(d), POLLIN, 0};
    poll(&p, 1, left / 1000000 < 100 ? (int)(left / 1000000) + 1 : 100);
  }
  XSelectInput(d, DefaultRootWindow(d), 0);
  XSelectInput(d, w, StructureNotifyMask);

  XWindowAttributes a;
  XGetWindowAttributes(d, w, &a);
  // Raw rectangles: one event per drawing that reached the window, none merged away.
  XDamageCreate(d, w, XDamageReportRawRectangles);
  XSync(d, False);
  printf("window 0x%lx %d %d\n", (unsigned long)w, a.width, a.height);
  fflush(stdout);

  for (;;) {
    while (XPending(d)) {
      XEvent e;
      XNextEvent(d, &e);
      const long long t = now_ns();
      if (e.type == damage_event + XDamageNotify) {
        const XDamageNotifyEvent* de = (const XDamageNotifyEvent*)&e;
        printf("damage %lld %d %d %d %d\n", t, de->area.x, de->area.y, de->area.width,
               de->area.height);
      } else if (e.type == DestroyNotify || e.type == UnmapNotify) {
        printf("gone %lld\n", t);
        fflush(stdout);
        return 0;
      }
    }
    if (fflush(stdout) == EOF) return 0;
    struct pollfd p[2] = {{ConnectionNumber(d), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    if (poll(p, 2, -1) < 0) return 1;
    if (p[1].revents) return 0;  // the runner closed our input: done
  }
}
