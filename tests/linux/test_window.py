#!/usr/bin/env python3
"""The Linux meter window (build/host/linux/tovmir) as a user sees it, under an Xvfb of its
own with GTK's cairo renderer: screenshots with pixel probes at the coordinates the figure's
geometry gives (from `tovmir-tool figure`), ports that are missing, unplugged and back,
and closing under traffic.

    test_window.py --tovmir build/host/linux/tovmir --tool build/host/tovmir-tool

What the window says about its port it also writes on standard error, one line a change;
the tests wait for those lines, then look at the screen. GLib's warnings are fatal
(G_DEBUG=fatal-warnings), and a program that ends by a sanitizer's report, a warning or a
crash fails the test that ran it: the same tests run the AddressSanitizer build too.
"""

import argparse
import ctypes
import fcntl
import grp
import os
import pty
import queue
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time
import tty
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from waits import WAIT, bound, wait_for  # noqa: E402
from xvfb import start_xvfb  # noqa: E402

OPTS = None
DISPLAY = None
XVFB = None
GREY = b"\xc0\xc0\xc0"
BLACK = b"\x00\x00\x00"
POWER_OFF = "携帯の電源が入ってません"


# ---- the X side: screenshots, and the messages a window manager would send

class NoMeter(AssertionError):
    pass


class Shot:
    def __init__(self):
        ppm = subprocess.run(["import", "-display", DISPLAY, "-window", "root", "-depth", "8",
                              "ppm:-"], capture_output=True, check=True, timeout=30).stdout
        m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
        self.width, self.height = int(m.group(1)), int(m.group(2))
        self.data = ppm[m.end():]

    def pixel(self, x, y):
        at = (y * self.width + x) * 3
        return self.data[at:at + 3]

    def area(self):
        """The meter's drawing area: the box of the button-face grey its figure is drawn on."""
        box = None
        for y in range(self.height):
            row = self.data[y * self.width * 3:(y + 1) * self.width * 3]
            first = next((i // 3 for i in _find_all(row, GREY) if i % 3 == 0), None)
            if first is None:
                continue
            last = max(i // 3 for i in _find_all(row, GREY) if i % 3 == 0)
            box = [first, y, last, y] if box is None else [min(box[0], first), box[1],
                                                           max(box[2], last), y]
        if box is None:
            raise NoMeter("no meter on the screen")
        return box[0], box[1], box[2] - box[0] + 1, box[3] - box[1] + 1


def _find_all(row, what):
    i = row.find(what)
    while i != -1:
        yield i
        i = row.find(what, i + 1)


class X:
    """Enough of Xlib to resize a window and ask it to close, as a window manager would."""

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("l", ctypes.c_long * 5),
                    ("pad", ctypes.c_long * 19)]

    def __init__(self, display):
        self.display = display
        self.lib = ctypes.CDLL("libX11.so.6")
        self.lib.XOpenDisplay.restype = ctypes.c_void_p
        self.lib.XInternAtom.restype = ctypes.c_ulong
        self.lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.lib.XResizeWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_uint,
                                           ctypes.c_uint]
        self.lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                        ctypes.c_long, ctypes.c_void_p]
        self.lib.XFlush.argtypes = [ctypes.c_void_p]
        self.dpy = self.lib.XOpenDisplay(display.encode())

    def window(self, pid):
        """The meter's top-level window: the one of that title, of that process."""
        tree = subprocess.run(["xwininfo", "-display", self.display, "-root", "-children"],
                              capture_output=True, text=True).stdout
        for wid in re.findall(r"^\s+(0x[0-9a-f]+) \"アンテナ\"", tree, re.M):
            props = subprocess.run(["xprop", "-display", self.display, "-id", wid, "_NET_WM_PID"],
                                   capture_output=True, text=True).stdout
            if props.strip().endswith("= %d" % pid):
                return int(wid, 16)
        return None

    def destroy(self, wid):
        """The window destroyed by another client, as xdotool windowclose does."""
        self.lib.XDestroyWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.lib.XDestroyWindow(self.dpy, wid)
        self.lib.XFlush(self.dpy)

    def resize(self, wid, width, height):
        self.lib.XResizeWindow(self.dpy, wid, width, height)
        self.lib.XFlush(self.dpy)

    def close(self, wid):
        ev = self.ClientMessage(type=33, window=wid, format=32,
                                message_type=self.lib.XInternAtom(self.dpy, b"WM_PROTOCOLS", 0))
        ev.l[0] = self.lib.XInternAtom(self.dpy, b"WM_DELETE_WINDOW", 0)
        self.lib.XSendEvent(self.dpy, wid, 0, 0, ctypes.byref(ev))
        self.lib.XFlush(self.dpy)


# ---- the figure as the geometry gives it

def figure(width, meter_height, level, hollow):
    """The drawing calls for that size and state, from tovmir-tool figure."""
    out = subprocess.run([OPTS.tool, "figure", str(width), str(meter_height), str(level),
                          str(int(hollow))], capture_output=True, text=True, check=True).stdout
    calls = {"bars": [], "antenna": None, "status": None}
    for line in out.splitlines():
        kind, *rest = line.split()
        if kind == "rect":
            calls["bars"].append((rest[0], tuple(map(int, rest[1].split(",")))))
        elif kind == "polygon" and calls["antenna"] is None:
            calls["antenna"] = (rest[0], [tuple(map(int, p.split(","))) for p in rest[1:]])
        elif kind == "text":
            calls["status"] = tuple(map(int, rest[0].split(",")))
    return calls


_references = {}


def reference(width, meter_height, level, hollow, status, path):
    """The client area as the cairo painter draws it, for comparing the status band."""
    key = (width, meter_height, level, hollow, status)
    if key not in _references:
        _references[key] = _render(width, meter_height, level, hollow, status, path)
    return _references[key]


def _render(width, meter_height, level, hollow, status, path):
    subprocess.run([OPTS.tool, "figure", str(width), str(meter_height), str(level),
                    str(int(hollow)), "--status", status, "--png", path],
                   capture_output=True, check=True)
    ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], capture_output=True,
                         check=True).stdout
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)
    return int(m.group(1)), ppm[m.end():]


class Look:
    """What the screen shows of the meter: its level, its antenna, its status band."""

    def __init__(self, shot):
        self.shot = shot
        self.x, self.y, self.width, self.height = shot.area()
        self.meter_height = max(self.height - 20, 1)
        self.calls = figure(self.width, self.meter_height, 15, False)

    def at(self, x, y):
        return self.shot.pixel(self.x + x, self.y + y)

    def level(self):
        filled = []
        for _, (l, t, r, b) in self.calls["bars"]:
            inside = self.at((l + r) // 2, (t + b) // 2)
            if inside not in (BLACK, GREY):
                return None
            filled.append(inside == BLACK)
        n = filled.count(True)
        return n if filled == [True] * n + [False] * (15 - n) else None

    def hollow(self):
        (u, y1), (x16, _), (x9, y_mid), (_, y17), (x8, _), _ = self.calls["antenna"][1]
        inside = self.at((x8 + x9) // 2, (y_mid + y17) // 2)  # the mast
        return {GREY: True, BLACK: False}.get(inside)

    def status_is(self, text, tmpdir):
        """Whether the status band is, pixel for pixel, the painter's drawing of text."""
        ref_width, ref = reference(self.width, self.meter_height, 0, False, text,
                                   os.path.join(tmpdir, "ref.png"))
        l, t, r, b = self.calls["status"]
        for y in range(t, b):
            for x in range(l, r):
                at = (y * ref_width + x) * 3
                if self.at(x, y) != ref[at:at + 3]:
                    return False
        return True

    def message_shown(self):
        """Whether a line of text stands under the meter, on the window's own background."""
        for y in range(self.y + self.height, min(self.y + self.height + 40, self.shot.height)):
            row = [sum(self.shot.pixel(x, y)) for x in range(self.x, self.x + self.width)]
            light = sum(1 for v in row if v > 600)
            if light > len(row) * 0.6 and any(v < 200 for v in row):
                return True
        return False


# ---- the program

class Meter:
    def __init__(self, test, port, display=None, as_user=None, end_timed=False):
        display = display or DISPLAY
        env = dict(os.environ, DISPLAY=display, GSK_RENDERER="cairo", GTK_A11Y="none",
                   NO_AT_BRIDGE="1", LANG="C.UTF-8", LC_ALL="C.UTF-8",
                   G_DEBUG="fatal-warnings")
        if end_timed:
            # The time to the end is the program's own, without LeakSanitizer's scan of the
            # whole heap at exit, which a busy machine can stretch to seconds; the other tests
            # keep checking for leaks.
            env["ASAN_OPTIONS"] = ":".join(filter(None, (env.get("ASAN_OPTIONS"),
                                                         "detect_leaks=0")))
        argv = [OPTS.tovmir, port]
        if as_user is not None:  # a copy of the program that user may run, run as that user
            copy = os.path.join(test.tmp.name, "tovmir")
            shutil.copy(OPTS.tovmir, copy)
            os.chmod(test.tmp.name, 0o755)
            argv = ["setpriv", "--reuid=%d" % as_user, "--regid=%d" % as_user, "--clear-groups",
                    copy, port]
            env["HOME"] = test.tmp.name
        self.proc = subprocess.Popen(argv, env=env, stderr=subprocess.PIPE, text=True)
        self.said = queue.Queue()  # (when it came, the line)
        self.all_said = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        test.addCleanup(self.finish)
        self.x = X(display)
        self.wid = wait_for(lambda: self.x.window(self.proc.pid), "the meter's window")

    def _read(self):
        for line in self.proc.stderr:
            self.said.put((time.monotonic(), line.rstrip("\n")))
            self.all_said.append(line.rstrip("\n"))

    def wait_said(self, text):
        """The line of standard error that says text, and when it came."""
        deadline = time.monotonic() + WAIT
        while True:
            try:
                when, line = self.said.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                raise AssertionError("the meter did not say %r within %g s" % (text, WAIT))
            if text in line:
                return line, when

    def ended(self, statuses=(0,), warning=None):
        """Waits for the program's end; fails unless it ended with one of statuses and
        without a sanitizer's report, a GLib warning or critical (but the one that says
        warning)."""
        status = self.proc.wait(timeout=WAIT)
        self.reader.join(WAIT)
        self.proc.stderr.close()
        bad = [line for line in self.all_said
               if re.search(r"Sanitizer|runtime error:|-(WARNING|CRITICAL) \*\*", line)
               and not (warning and warning in line)]
        if status not in statuses or bad:
            raise AssertionError("the meter ended with status %d, saying:\n%s"
                                 % (status, "\n".join(self.all_said)))
        return status

    def look(self):
        return Look(Shot())

    def wait_look(self, want, what):
        def matches():
            try:
                look = self.look()
            except NoMeter:
                return None  # not drawn yet (a first start may build the font cache first)
            return look if want(look) else None
        return wait_for(matches, what)

    def close(self, handset=None):
        """Closes the window as a window manager's close button does; how long it took to
        put the port back (given the handset whose port it is) and to end."""
        start = time.monotonic()
        self.x.close(self.wid)
        released = None
        if handset:
            wait_for(lambda: not handset.exclusive(), "the port put back", interval=0.001)
            released = time.monotonic() - start
        self.proc.wait(timeout=WAIT)
        ended = time.monotonic() - start
        self.ended()
        return released, ended

    def finish(self):
        """At the test's end: a meter still running is closed and must end cleanly."""
        if self.proc.poll() is None:
            try:
                self.x.close(self.wid)
                self.ended()
            finally:
                if self.proc.poll() is None:
                    self.proc.kill()
                    self.proc.wait()


class Handset:
    """A pty whose other end the meter opens, under a path of the test's choosing."""

    def __init__(self, path):
        self.path = path
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        if os.path.lexists(path):
            os.unlink(path)
        os.symlink(os.ttyname(self.slave), path)

    def send(self, data):
        os.write(self.master, bytes(data))

    def unplug(self):
        # The link goes first, as udev's does: left, it would name the pty number that the
        # next openpty hands out (in a test running beside this one), and the meter trying
        # again every second would take that pty.
        os.unlink(self.path)
        for fd in (self.master, self.slave):
            os.close(fd)

    def settings(self):
        return termios.tcgetattr(self.slave)

    def exclusive(self):
        """Whether the port is marked for one opener only (TIOCGEXCL)."""
        got = fcntl.ioctl(self.slave, 0x80045440, struct.pack("i", 0))
        return struct.unpack("i", got)[0] != 0


START = [0xA3, 0x80, 0xC9, 0xAD, 0x01, 0x02, 0x03, 0x04]  # level 9, filled, 網番号:1234


class Window(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.port = os.path.join(self.tmp.name, "handset")

    def test_the_figure_at_two_sizes_fed_by_the_simulator(self):
        script = os.path.join(self.tmp.name, "script")
        with open(script, "w") as f:
            # The level byte again every half second changes nothing on the screen but keeps
            # the watchdog's silence from changing it while the test looks, however slowly.
            f.write("a3 81 c9 ad 01 02 03 04\n" + "wait 0.5 c9\n" * int(4 * WAIT))
        sim = subprocess.Popen([OPTS.tool, "sim", script], stdout=subprocess.PIPE, text=True)
        self.addCleanup(lambda: (sim.kill(), sim.wait(), sim.stdout.close()))
        device = sim.stdout.readline().strip()
        m = Meter(self, device)
        m.wait_said(": open")
        # The simulator paces its bytes: the network number comes after the level.
        first = m.wait_look(lambda k: k.level() == 9 and k.status_is("網番号:1234", self.tmp.name),
                            what="level 9 and the network number")
        self.assertEqual((first.width, first.height), (326, 221), "the Windows program's size")
        self.assertTrue(first.hollow())
        m.x.resize(m.wid, 520, 330)
        second = m.wait_look(lambda k: k.width > 400 and k.level() == 9, what="the new size")
        self.assertTrue(second.hollow())
        self.assertTrue(second.status_is("網番号:1234", self.tmp.name))
        m.close()

    def test_silence_sweeps(self):
        handset = Handset(self.port)
        m = Meter(self, self.port)
        m.wait_said(": open")
        handset.send(START)
        m.wait_look(lambda k: k.level() == 9, what="level 9")
        # Two seconds on, the meter says the handset is off and the bars sweep.
        looks = []
        wait_for(lambda: looks.append(m.look())
                 or len({k.level() for k in looks[-20:]} - {None}) >= 3, "the sweep")
        self.assertTrue(looks[-1].status_is(POWER_OFF, self.tmp.name))
        handset.unplug()

    def test_a_port_that_is_not_there_yet(self):
        m = Meter(self, self.port)
        said, _ = m.wait_said("が開けません")
        self.assertIn(self.port + "が開けません", said)
        self.assertIn("No such file or directory", said)
        shown = m.wait_look(lambda k: k.message_shown(), what="the message")
        self.assertTrue(shown.message_shown())
        handset = Handset(self.port)
        start = time.monotonic()
        _, opened = m.wait_said(": open")
        self.assertLess(opened - start, bound(2.0), "tried every second")
        handset.send(START)
        m.wait_look(lambda k: k.level() == 9 and not k.message_shown()
                    and k.status_is("網番号:1234", self.tmp.name), what="the meter")
        handset.unplug()

    def test_a_port_of_a_group_the_user_is_not_in(self):
        """Which group owns the device and how to join it, under the meter, read from the
        device itself."""
        if os.geteuid() != 0:
            print("NOTE: not tried: it takes root to give a port to a group and open it as "
                  "another user", file=sys.stderr)
            return
        handset = Handset(self.port)
        os.chown(os.ttyname(handset.slave), 0, grp.getgrnam("dialout").gr_gid)
        os.chmod(os.ttyname(handset.slave), 0o660)
        m = Meter(self, self.port, as_user=65534)
        said, _ = m.wait_said("Permission denied")
        self.assertIn("belongs to the group dialout, which you are not in. To join it: "
                      "sudo usermod -aG dialout $USER, then log out and in again.", said)
        shown = m.wait_look(lambda k: k.message_shown(), what="the message")
        self.assertTrue(shown.message_shown())
        handset.unplug()

    def test_unplugged_and_back(self):
        handset = Handset(self.port)
        m = Meter(self, self.port)
        m.wait_said(": open")
        handset.send(START)
        m.wait_look(lambda k: k.level() == 9, what="level 9")
        handset.unplug()
        self.assertIn("the port was lost", m.wait_said("lost")[0])
        look = m.wait_look(lambda k: k.message_shown() and k.status_is(POWER_OFF, self.tmp.name),
                           what="the silent look and the message")
        self.assertIsNotNone(look.level())
        # A new device at the same path.
        handset = Handset(self.port)
        start = time.monotonic()
        _, opened = m.wait_said(": open")
        self.assertLess(opened - start, bound(2.0), "tried every second")
        handset.send([0xC5])
        m.wait_look(lambda k: k.level() == 5 and not k.message_shown(), what="level 5")
        handset.unplug()

    def test_the_port_put_back_on_every_way_out(self):
        """The settings the port had, and no exclusive mark, whatever ends the meter; and
        nothing touched on the way out that is gone already."""
        for way in ("SIGHUP", "SIGQUIT", "SIGTERM", "SIGINT", "the close button",
                    "destroyed from outside", "the display lost"):
            with self.subTest(way):
                handset = Handset(self.port)
                before = handset.settings()
                display, xvfb = start_xvfb() if way == "the display lost" else (None, None)
                m = Meter(self, self.port, display)
                m.wait_said(": open")
                handset.send(START)  # a meter with something to show
                if not xvfb:
                    m.wait_look(lambda k: k.level() == 9, "level 9")
                self.assertNotEqual(handset.settings(), before)  # 600 baud, raw
                self.assertTrue(handset.exclusive())
                statuses, warning = (0,), None
                if xvfb:
                    xvfb.stop(kill=True)
                    statuses = (1,)  # GDK ends the program once ours has put the port back
                elif way == "the close button":
                    m.x.close(m.wid)
                elif way == "destroyed from outside":
                    m.x.destroy(m.wid)
                    # GDK warns of the X error that the window's going causes and ends the
                    # program (at once: its warnings are fatal here), once ours has put the
                    # port back.
                    statuses = (1, -signal.SIGTRAP)
                    warning = "received an X Window System error"
                else:
                    m.proc.send_signal(getattr(signal, way))
                m.ended(statuses, warning)
                self.assertEqual(handset.settings(), before)
                self.assertFalse(handset.exclusive())
                handset.unplug()

    def test_help_and_version_that_cannot_be_written_are_errors(self):
        for redirect in ("--help > /dev/full", "--version >&-"):
            r = subprocess.run("exec %s %s" % (OPTS.tovmir, redirect), shell=True,
                               capture_output=True, text=True, timeout=WAIT)
            self.assertEqual(r.returncode, 1, redirect)
            self.assertIn("cannot write to standard output", r.stderr)

    def test_closing_under_full_rate_traffic_twenty_times(self):
        """The port is put back at once, and the program ends soon after."""
        released, ended = [], []
        for _ in range(20):
            handset = Handset(self.port)
            stop = threading.Event()

            def stream():
                data = bytes([0xC1, 0xC2, 0xC3, 0x81, 0x80, 0x90] * 10)
                while not stop.is_set():
                    try:
                        handset.send(data)
                    except OSError:
                        return
                    time.sleep(1 / 60)
            writer = threading.Thread(target=stream)
            writer.start()
            m = Meter(self, self.port, end_timed=True)
            m.wait_said(": open")
            took = m.close(handset)
            stop.set()
            writer.join()
            handset.unplug()
            released.append(took[0])
            ended.append(took[1])
        print("closing: the port back after %.0f-%.0f ms, the end after %.0f-%.0f ms"
              % (1000 * min(released), 1000 * max(released), 1000 * min(ended),
                 1000 * max(ended)), file=sys.stderr)
        self.assertLess(max(released), bound(0.2))
        self.assertLess(max(ended), bound(1))


def setUpModule():
    global DISPLAY, XVFB
    DISPLAY, XVFB = start_xvfb()


def tearDownModule():
    XVFB.stop()


def main():
    global OPTS
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--tovmir", required=True)
    ap.add_argument("--tool", required=True)
    OPTS, rest = ap.parse_known_args()
    OPTS.tovmir, OPTS.tool = os.path.abspath(OPTS.tovmir), os.path.abspath(OPTS.tool)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
