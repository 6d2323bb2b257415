#!/usr/bin/env python3
"""End-to-end tests of the real tovmir.exe: started under Wine in a virtual desktop, fed
handset bytes through pty-backed COM ports, looked at in screenshots and through probe.exe.

    test_meter.py --exe build/win32/tovmir.exe --probe build/win32/tests/e2e_probe.exe
                  --version VERSION [--prefix DIR] [--locale NAME] [--screenshot-dir DIR]
                  [unittest options and test names]

With --screenshot-dir, the meter at 400 x 200 showing network number 1234 is saved there
as tovmir.png (the whole window, frame included).

One Wine session (tools/wine/harness.py) serves every test; each test starts its own
tovmir.exe. Under --locale (Japanese unless given) Wine has that locale's ANSI code page;
the program converts its code page 932 texts itself, so the windows read the same under
any locale. Python standard library only; screenshots come from ImageMagick's import as PPM.
"""

import argparse
import os
import re
import select
import subprocess
import sys
import threading
import time
import unittest
from collections import namedtuple

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "wine"))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from harness import (DEFAULT_LOCALE, HarnessError, WineSession, program_arch,  # noqa: E402
                     win_path)
from waits import WAIT, TimedOut, bound, wait_for  # noqa: E402
import driver  # noqa: E402
from driver import Probe, desktop_offset, reset_line  # noqa: E402

OPTS = None      # the command line, set by main()
SESSION = None   # the WineSession, for the whole run
PROBE = None     # probe.exe in serve mode
FACE = None      # the button-face colour of the prefix, as 3 bytes
DESKTOP = (0, 0)  # where the Wine desktop's (0, 0) is on the X screen
NEAR = {}        # COMn -> fd held open on the near end (line settings, flushing)
FAR = {}         # COMn -> fd held open on the far end (the handset's side)

# COM1 for most tests, COM3 and COM12 for the choice of port, COM4 for the byte stream
# (never reused afterwards, so what is left in the pipes of it harms no other test).
PORTS = ["COM1", "COM3", "COM4", "COM12"]

METER_CAPTION = "アンテナ"
ABOUT_CAPTION = "ﾊﾞｰｼﾞｮﾝ情報 tovmir"
POWER_OFF = "携帯の電源が入ってません"
RESTART = "携帯の電源を入れなおしてください"
NET_UNKNOWN = "網番号:不明"
BLACK = b"\0\0\0"
GREY = bytes([192, 192, 192])

WM_CLOSE = 0x0010
WM_KEYDOWN = 0x0100
WM_SYSCOMMAND = 0x0112
VK_RETURN = 0x0D
VK_UP = 0x26
SC_MINIMIZE = 0xF020
SC_MAXIMIZE = 0xF030
SC_CLOSE = 0xF060
SC_KEYMENU = 0xF100
SC_RESTORE = 0xF120
IDOK = 1


# ---- screenshots

class Shot:
    """The X screen as 8-bit RGB; coordinates are the Wine desktop's."""

    def __init__(self, ppm, taken):
        m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", ppm)
        if not m or m.group(3) != b"255":
            raise HarnessError("not an 8-bit PPM screenshot")
        self.width, self.height = int(m.group(1)), int(m.group(2))
        self.data = ppm[m.end():]
        self.t = taken

    def row(self, x0, x1, y):
        x0, x1, y = x0 + DESKTOP[0], x1 + DESKTOP[0], y + DESKTOP[1]
        start = (y * self.width + x0) * 3
        return self.data[start:start + (x1 - x0) * 3]

    def pixel(self, x, y):
        return self.row(x, x + 1, y)

    def uniform(self, x0, y0, x1, y1):
        """The one colour of columns x0..x1-1, rows y0..y1-1, or None (also when empty)."""
        if x1 <= x0 or y1 <= y0:
            return None
        colour = self.pixel(x0, y0)
        want = colour * (x1 - x0)
        for y in range(y0, y1):
            if self.row(x0, x1, y) != want:
                return None
        return colour

    def save_png(self, path, rect):
        l, t, r, b = rect
        crop = "%dx%d+%d+%d" % (r - l, b - t, l + DESKTOP[0], t + DESKTOP[1])
        ppm = b"P6\n%d %d\n255\n" % (self.width, self.height) + self.data
        subprocess.run(["convert", "ppm:-", "-crop", crop, "+repage", path], input=ppm,
                       check=True, timeout=30)


def screenshot():
    before = time.monotonic()
    out = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"],
                         env=SESSION.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         check=True, timeout=30).stdout
    return Shot(out, (before + time.monotonic()) / 2)


_text_refs = {}


def text_reference(text, width):
    """The status line as the meter should draw it, rows of bytes, from the probe."""
    key = (text, width)
    if key not in _text_refs:
        rows = PROBE("render-text", text, width, 18)["rows"]
        _text_refs[key] = [bytes.fromhex(r) for r in rows]
    return _text_refs[key]


def shows_text(shot, fig, text):
    """Whether the status band of the figure holds exactly that text (as far as visible)."""
    l, t, r, _ = fig["status"]
    ox, oy = fig["origin"]
    cw, ch = fig["client"]
    right = min(r, ox + cw)
    bottom = min(t + 18, oy + ch)
    if right <= l or bottom <= t:
        return False
    ref = text_reference(text, r - l)
    return all(shot.row(l, right, y) == ref[y - t][:(right - l) * 3] for y in range(t, bottom))


Look = namedtuple("Look", "level hollow status clean t")


def read_look(shot, fig, texts):
    """What the meter shows: level (bars filled from the left), hollow antenna, which of
    texts the status line holds (None if none), and whether the background around the
    figure is clean. level/hollow are None when the picture is not a whole figure (a
    screenshot taken during a paint, a window in the way)."""
    face = FACE
    filled = []  # per bar: True, False, or None where a bar has no inside to look at
    for l, t, r, b in fig["bars"]:
        if r - l < 3 or b - t < 3:
            filled.append(None)
            continue
        inside = shot.uniform(l + 1, t + 1, r - 1, b - 1)
        if shot.uniform(l, b - 1, r, b) != BLACK or inside not in (BLACK, face):
            filled = None
            break
        filled.append(inside == BLACK)
    level = None
    if filled is not None:
        fits = [n for n in range(len(filled) + 1)
                if all(f is None or f == (i < n) for i, f in enumerate(filled))]
        if len(fits) == 1:
            level = fits[0]
    # The mast: between the antenna's points 5 (x8, yMid) and 3 (x9, y17).
    (x8, ymid), (x9, y17) = fig["antenna"][5], fig["antenna"][3]
    mast = shot.uniform(x8 + 1, ymid + 1, x9, y17)
    edge = shot.uniform(x8, ymid + 1, x8 + 1, y17)
    hollow = None
    if edge == BLACK and mast in (BLACK, face) and all(
            shot.pixel(*centroid(fig[c])) == face for c in ("left_cutout", "right_cutout")
            if fig["cutouts"]):
        hollow = mast == face
    status = next((t for t in texts if shows_text(shot, fig, t)), None)
    # Above the antenna, and right of the last bar, nothing but the button face.
    ox, oy = fig["origin"]
    cw = fig["client"][0]
    last = fig["bars"][-1]
    clean = (shot.uniform(ox, oy, ox + cw, fig["antenna"][0][1]) == face and
             (last[2] >= ox + cw or shot.uniform(last[2], last[1], ox + cw, last[3]) == face))
    return Look(level, hollow, status, clean, shot.t)


def centroid(points):
    n = len(points)
    return sum(p[0] for p in points) // n, sum(p[1] for p in points) // n


def shows_program_icon(shot, rect, size=16):
    """Whether rect holds a size x size block of nothing but the program icon's two
    colours, black and light grey, with plenty of each: the icon, as the caption draws it
    (scaled from the 32 x 32 image, so not pixel for pixel the 16 x 16 one)."""
    l, t, r, b = rect
    ok_rows = []
    for y in range(t, b):
        line = shot.row(l, r, y)
        ok_rows.append([line[i:i + 3] in (BLACK, GREY) for i in range(0, len(line), 3)])
    for y in range(len(ok_rows) - size + 1):
        for x in range(len(ok_rows[0]) - size + 1):
            if not all(all(ok_rows[y + k][x:x + size]) for k in range(size)):
                continue
            block = b"".join(shot.row(l + x, l + x + size, t + y + k) for k in range(size))
            black = sum(1 for i in range(0, len(block), 3) if block[i:i + 3] == BLACK)
            if size * size // 8 <= black <= size * size * 7 // 8:
                return True
    return False


# ---- ports

def line_settings(port):
    """(baud, data bits, parity enabled, two stop bits) of the port's near end."""
    return driver.line_settings(NEAR[port])


def reset_port(port):
    reset_line(NEAR[port])


def send(port, data):
    n = os.write(FAR[port], data)
    if n != len(data):
        raise HarnessError("short write to %s" % port)


class Feeder(threading.Thread):
    """Writes bytes into a port's far end over and over until stopped: every `period`
    seconds (a handset that keeps talking), or as fast as the line takes them."""

    def __init__(self, port, data, period=None):
        super().__init__(daemon=True)
        self.port, self.data, self.period = port, data, period
        self.stopped = threading.Event()

    def run(self):
        fd = FAR[self.port]
        while not self.stopped.is_set():
            try:
                os.write(fd, self.data)
            except BlockingIOError:
                select.select([], [fd], [], 0.05)
                continue
            if self.period:
                self.stopped.wait(self.period)

    def stop(self):
        self.stopped.set()
        self.join(5)


# ---- the program

class Meter:
    """One tovmir.exe and its meter window."""

    def __init__(self, test, args=(), port="COM1", visible=True):
        self.test, self.port = test, port
        before = {w["hwnd"] for w in PROBE("find", METER_CAPTION)["windows"]}
        self.started = time.monotonic()
        self.proc = SESSION.start([OPTS.exe] + list(args))
        test.addCleanup(self.kill)

        last = ["no new meter window"]

        def window():
            for w in PROBE("find", METER_CAPTION)["windows"]:
                if w["hwnd"] in before:
                    continue
                if w["visible"] or not visible:
                    return w
                last[0] = "a hidden meter window and no message box"
                for box in owned_windows(w["hwnd"], "エラー"):  # what kept it from showing
                    said = [k["text"] for k in PROBE("children", box["hwnd"])["children"]
                            if k["class"] == "Static" and k["text"]]
                    raise AssertionError("the meter said %r instead of showing" % said)
            if self.proc.poll() is not None:
                raise AssertionError("tovmir.exe ended (%d) before its window came"
                                     % self.proc.returncode)
            return None
        try:
            self.window = wait_for(window, "the meter window of %s" % " ".join(args))
        except TimedOut as e:
            raise TimedOut("%s; last seen: %s" % (e, last[0])) from None
        self.hwnd, self.pid = self.window["hwnd"], self.window["pid"]

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def info(self):
        return PROBE("window", self.hwnd)

    def figure(self):
        return PROBE("figure", self.hwnd)

    def send(self, data):
        send(self.port, data)

    def look(self, *texts, shot=None, fig=None):
        fig = fig or self.figure()
        shot = shot or screenshot()
        known = list(texts) + [t for t in (POWER_OFF, RESTART, NET_UNKNOWN) if t not in texts]
        return read_look(shot, fig, known)

    def wait_look(self, **want):
        """Polls screenshots until the meter shows what is wanted (and a clean background)."""
        want.setdefault("clean", True)
        texts = [want["status"]] if "status" in want else []
        seen = []

        def matches():
            look = self.look(*texts)
            seen.append(look)
            return look if all(getattr(look, k) == v for k, v in want.items()) else None
        try:
            return wait_for(matches, "the meter to show %s" % want)
        except TimedOut:
            self.test.fail("wanted %s, last saw %s" % (want, seen[-1:] or "nothing"))

    def watch(self, until):
        """Looks taken one after another until until(looks) holds (or a long while passed)."""
        looks = []
        fig = self.figure()
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            looks.append(self.look(shot=screenshot(), fig=fig))
            if until(looks):
                break
        return looks

    def close_and_wait(self, how=WM_CLOSE, within=1.0):
        """Closes the window; asserts the process ends within `within` s (scaled), exit
        status 0."""
        within = bound(within)
        t0 = time.monotonic()
        if how == WM_CLOSE:
            PROBE("close", self.hwnd)
        else:
            PROBE("syscommand", self.hwnd, how)
        try:
            code = self.proc.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            self.test.fail("tovmir.exe still running %g s after it was closed" % WAIT)
        elapsed = time.monotonic() - t0
        self.test.assertEqual(code, 0, "exit status")
        self.test.assertLess(elapsed, within, "seconds from closing to the end of the process")
        return elapsed


def level_changes(looks):
    """(time, level, status) each time the level read differs from the one before."""
    out, last = [], None
    for k in looks:
        if k.level is not None and k.level != last:
            out.append((k.t, k.level, k.status))
            last = k.level
    return out


def owned_windows(owner, caption, cls="#32770"):
    return [w for w in PROBE("find", caption, cls)["windows"] if w["owner"] == owner]


# ---- tests

class Resources(unittest.TestCase):
    """The resources as compiled into tovmir.exe, read back from the file."""

    @classmethod
    def setUpClass(cls):
        cls.res = PROBE("resources", win_path(OPTS.exe))

    def assertJapanese(self, block):
        self.assertEqual(block["languages"], [0x0411])

    def assertClass(self, control, ordinal, name):
        # A class given by name or by its predefined ordinal is the same class to Windows.
        self.assertIn(control["class"], (ordinal, name, name.upper()))

    def test_meter_dialog(self):
        d = self.res["meter_dialog"]
        self.assertJapanese(d)
        self.assertTrue(d["ex"], "a DIALOGEX template")
        self.assertEqual((d["x"], d["y"], d["cx"], d["cy"]), (0, 0, 186, 136))
        self.assertEqual(d["style"], 0x90CF0040)
        self.assertEqual(d["exstyle"], 0x00040000)
        self.assertEqual(d["caption"], METER_CAPTION)
        self.assertIsNone(d["menu"])
        self.assertIsNone(d["class"])
        self.assertEqual(d["font"], {"size": 9, "weight": 0, "italic": 0, "charset": 1,
                                     "face": "ＭＳ Ｐゴシック"})
        self.assertEqual(d["controls"], [])

    def test_about_dialog(self):
        d = self.res["about_dialog"]
        self.assertJapanese(d)
        self.assertFalse(d["ex"], "a DIALOG template")
        self.assertEqual((d["x"], d["y"], d["cx"], d["cy"]), (0, 0, 217, 55))
        self.assertEqual(d["style"], 0x80C800C0)
        self.assertEqual(d["exstyle"], 0)
        self.assertEqual(d["caption"], ABOUT_CAPTION)
        self.assertEqual(d["font"], {"size": 9, "face": "ＭＳ Ｐゴシック"})
        c = d["controls"]
        self.assertEqual(len(c), 4)
        geometry = [(k["id"], k["x"], k["y"], k["cx"], k["cy"], k["style"]) for k in c]
        self.assertEqual(geometry, [
            (0xFFFF, 11, 17, 20, 20, 0x50000003),
            (0xFFFF, 40, 10, 119, 8, 0x50020080),
            (0xFFFF, 40, 25, 119, 8, 0x50020000),
            (IDOK, 178, 7, 32, 14, 0x50030001),
        ])
        for k in c[:3]:
            self.assertClass(k, 0x82, "Static")
        self.assertClass(c[3], 0x80, "Button")
        self.assertEqual(c[0]["text"], 128, "the icon, by its ordinal")
        self.assertEqual(c[1]["text"], "Tovmir " + OPTS.version)
        self.assertIn("tovmir", c[2]["text"])
        self.assertEqual(c[3]["text"], "OK")
        self.assertTrue(all(k["exstyle"] == 0 and k["extra"] == 0 for k in c))

    def test_system_menu_string(self):
        s = self.res["about_string"]
        self.assertJapanese(s)
        self.assertEqual(s["text"], "ﾊﾞｰｼﾞｮﾝ情報(tovmir) (&A)...")

    def test_icon(self):
        g = self.res["icon"]
        self.assertJapanese(g)
        self.assertEqual((g["reserved"], g["type"]), (0, 1))
        self.assertEqual([(e["width"], e["height"], e["colors"], e["bits"]) for e in g["entries"]],
                         [(32, 32, 16, 4), (16, 16, 16, 4)])
        for e in g["entries"]:
            with self.subTest(size=e["width"]):
                img = e["image"]
                self.assertEqual((img["width"], img["height"], img["bits"], img["planes"]),
                                 (e["width"], e["height"], 4, 1))
                colours = {}
                for row in img["pixels"]:
                    for i in range(0, len(row), 6):
                        colours[row[i:i + 6]] = colours.get(row[i:i + 6], 0) + 1
                self.assertEqual(set(colours), {"000000", "C0C0C0"}, "black and light grey only")
                self.assertTrue(all(set(row) == {"0"} for row in img["mask"]),
                                "no transparent pixels")

    def test_version(self):
        v = self.res["version"]
        self.assertJapanese(v)
        self.assertEqual(v["key"], "VS_VERSION_INFO")
        self.assertEqual(v["fixed"], {
            "signature": 0xFEEF04BD, "file_version": OPTS.version,
            "product_version": OPTS.version,
            "flags_mask": 0x3F, "flags": 0, "os": 4, "type": 1, "subtype": 0})
        self.assertEqual(v["translation"], [[0x0411, 1200]])
        self.assertEqual(list(v["strings"]), ["041104b0"])
        s = v["strings"]["041104b0"]
        self.assertEqual({k: s[k] for k in ("FileDescription", "InternalName", "OriginalFilename",
                                           "ProductName", "FileVersion", "ProductVersion")}, {
            "FileDescription": "tovmir MFC ｱﾌﾟﾘｹｰｼｮﾝ",
            "InternalName": "tovmir",
            "OriginalFilename": "tovmir.EXE",
            "ProductName": "tovmir ｱﾌﾟﾘｹｰｼｮﾝ",
            "FileVersion": OPTS.version.replace(".", ", "),
            "ProductVersion": OPTS.version.replace(".", ", "),
        })
        self.assertIn("tovmir", s["CompanyName"])
        self.assertIn("tovmir", s["LegalCopyright"])


class PortChoice(unittest.TestCase):
    """Which port the command line opens: seen in the line settings of the ptys and in
    what the window does with bytes written to that port."""

    def test_port_from_the_command_line(self):
        for args, port in (([], "COM1"), (["COM3"], "COM3"), (["/p"], "COM1"),
                           (["COM12"], "COM12")):
            with self.subTest(args=args):
                for p in PORTS:
                    reset_port(p)
                m = Meter(self, args, port=port)
                wait_for(lambda: line_settings(port)[0] == 600, "%s at 600 baud" % port)
                self.assertEqual(line_settings(port), (600, 8, False, False), "600 baud 8N1")
                for other in PORTS:
                    if other != port:
                        self.assertEqual(line_settings(other)[0], 9600, other + " untouched")
                m.send(b"\xA3")
                m.wait_look(level=0, hollow=True, status=NET_UNKNOWN)
                m.close_and_wait()


class Display(unittest.TestCase):
    """What the window shows for what the handset sends, and for silence."""

    def setUp(self):
        reset_port("COM1")

    def test_code_page(self):
        # What makes a run under another locale worth having: Wine's ANSI code page is not
        # the program's own, so its texts reach the screen only by its own conversion.
        acp = PROBE("info")["acp"]
        print("\nNOTE: Wine runs under %s, ANSI code page %d" % (OPTS.locale, acp),
              file=sys.stderr)
        if OPTS.locale.lower().startswith("ja_"):
            self.assertEqual(acp, 932)
        else:
            self.assertNotEqual(acp, 932)

    def test_status_characters_are_drawn(self):
        # The status line is matched against the probe's drawing of the same text, which
        # proves nothing if both draw the missing-glyph box (the one of an unassigned code
        # point) or nothing at all: each character must have a picture of its own.
        chars = sorted({c for t in (POWER_OFF, RESTART, NET_UNKNOWN) for c in t if c > "~"})
        pictures = {tuple(text_reference(c, 24)) for c in chars + ["\u0378", " "]}
        self.assertEqual(len(pictures), len(chars) + 2, "a picture each for " + "".join(chars))

    def test_fresh_window(self):
        m = Meter(self)
        fig = m.figure()
        self.assertEqual(m.window["client"], fig["client"])
        look = wait_for(lambda: (lambda k: k if k.level is not None else None)(m.look()),
                        "a whole picture of the meter")
        # Level 13 until the watchdog's first timeout, 2 s after start; if this machine
        # was slow to take the picture, the sweep may have moved it on since.
        steps = max(0, int((look.t - m.started - 1.95) / 0.5) + 1)
        self.assertIn((look.level - 13) % 16, range(steps + 1),
                      "level %d seen %.2f s after start" % (look.level, look.t - m.started))
        self.assertEqual((look.hollow, look.status, look.clean), (False, POWER_OFF, True))

    def test_handset_bytes(self):
        m = Meter(self)
        # 0x55 means nothing to the meter; sent now and then it keeps the silence
        # watchdog quiet whatever time the screenshots take.
        keep = Feeder("COM1", b"\x55", period=0.3)
        keep.start()
        self.addCleanup(keep.stop)
        steps = [
            (b"\xC9", dict(level=9, hollow=False, status=RESTART)),
            (b"\xA3", dict(level=0, hollow=True, status=NET_UNKNOWN)),
            (b"\xC7", dict(level=7, hollow=True, status=NET_UNKNOWN)),
            (b"\x80", dict(level=7, hollow=False, status=NET_UNKNOWN)),
            (b"\xAD\x01\x02\x03\x04", dict(level=7, hollow=False, status="網番号:1234")),
            (b"\xAD\x0A\x0B\x0C\x0D", dict(level=7, hollow=False, status="網番号:ABCD")),
            (b"\xCF", dict(level=15, hollow=False, status="網番号:ABCD")),
            (b"\x81\xC0", dict(level=0, hollow=True, status="網番号:ABCD")),
            (b"\xC1\xA3\xC2", dict(level=2, hollow=True, status=NET_UNKNOWN)),
        ]
        for data, want in steps:
            with self.subTest(sent=data.hex(" ")):
                m.send(data)
                m.wait_look(**want)

    def test_silence_sweeps_and_a_byte_stops_it(self):
        m = Meter(self)
        m.send(b"\xA3\xCE\x80\xAD\x0F\x0E\x0D\x0C")
        sent = time.monotonic()
        m.wait_look(level=14, hollow=False, status="網番号:FEDC")

        looks = m.watch(lambda ks: len(level_changes(ks)) >= 5)
        changes = level_changes(looks)
        self.assertEqual([c[1] for c in changes], [14, 15, 0, 1, 2],
                         "one bar a step, 15 wraps to 0")
        self.assertTrue(all(c[2] == POWER_OFF for c in changes[1:]), changes)
        first = changes[1][0] - sent
        self.assertTrue(1.3 <= first <= 3.0, "first step %.2f s after the last byte" % first)
        gaps = [b[0] - a[0] for a, b in zip(changes[1:], changes[2:])]
        self.assertTrue(all(0.25 <= g <= 1.0 for g in gaps), "steps %s s apart" % gaps)
        self.assertTrue(0.35 <= sum(gaps) / len(gaps) <= 0.7, "steps %s s apart" % gaps)

        m.send(b"\xC5")
        byte = time.monotonic()
        m.wait_look(level=5, hollow=False, status=RESTART)
        # No step for the next 1.3 s: the watchdog needs four ticks of silence.
        looks = m.watch(lambda ks: time.monotonic() > byte + 1.3)
        self.assertEqual({k.level for k in looks if k.level is not None}, {5})
        looks = m.watch(lambda ks: any(k.level not in (None, 5) for k in ks))
        last = level_changes(looks)[-1]
        self.assertEqual(last[1:], (6, POWER_OFF), "the sweep goes on from 5")
        self.assertTrue(1.3 <= last[0] - byte <= 3.0, "sweep again %.2f s after" % (last[0] - byte))

        m.send(b"\xA3")
        m.wait_look(level=0, hollow=True, status=NET_UNKNOWN)

    def test_live_window_at_400_by_200(self):
        m = Meter(self)
        self.assertEqual(PROBE("resize", m.hwnd, 400, 200)["client"], [400, 200])
        m.send(b"\xA3\x80\xCB\xAD\x01\x02\x03\x04")
        keep = Feeder("COM1", b"\xCB", period=0.3)
        keep.start()
        self.addCleanup(keep.stop)
        m.wait_look(level=11, hollow=False, status="網番号:1234")
        # The window's own icon in its caption.
        shot = screenshot()
        info = m.info()
        l, t, r, _ = info["rect"]
        self.assertTrue(shows_program_icon(shot, (l, t, r, info["origin"][1])),
                        "the program's icon in the caption")
        if OPTS.screenshot_dir:
            os.makedirs(OPTS.screenshot_dir, exist_ok=True)
            self.assertEqual(m.look("網番号:1234", shot=shot).status, "網番号:1234")
            shot.save_png(os.path.join(OPTS.screenshot_dir, "tovmir.png"), info["rect"])


class OpenFailure(unittest.TestCase):
    """A port that cannot be opened, or opens but cannot be set up as a port: the message,
    then a meter that never sweeps."""

    def test_port_that_cannot_be_opened(self):
        self.check(next("COM%d" % n for n in range(7, 100)
                        if "COM%d" % n not in SESSION.host_ports and "COM%d" % n not in PORTS))

    def test_name_that_opens_but_is_no_port(self):
        self.check("NUL")

    def check(self, port):
        m = Meter(self, [port], visible=False)
        box = wait_for(lambda: owned_windows(m.hwnd, "エラー"), "the message box")[0]
        self.assertFalse(m.info()["visible"], "the meter waits behind the message")
        kids = PROBE("children", box["hwnd"])["children"]
        self.assertIn(port + "が開けません", [k["text"] for k in kids if k["class"] == "Static"])
        self.assertEqual([k["text"] for k in kids if k["class"] == "Button"], ["OK"])
        # The icon is the information icon: compare with the system's own icons drawn here.
        icons = [k for k in kids if k["class"] == "Static" and k["style"] & 0x1F == 3]
        self.assertEqual(len(icons), 1, "one icon")
        self.assertEqual(self.best_icon(icons[0]["rect"]), "information")

        PROBE("click", box["hwnd"], IDOK)
        wait_for(lambda: m.info()["visible"], "the meter after OK")
        self.assertEqual(owned_windows(m.hwnd, "エラー"), [])
        first = m.wait_look(level=13, hollow=False, status=POWER_OFF)
        # No timer runs: after 3 s it still shows its first picture.
        looks = m.watch(lambda ks: time.monotonic() > first.t + 3.0)
        self.assertEqual({(k.level, k.hollow, k.status) for k in looks},
                         {(13, False, POWER_OFF)})
        m.close_and_wait()

    def best_icon(self, rect):
        l, t, r, b = rect
        shot = screenshot()
        bg = shot.pixel(l, t).hex()
        scores = {}
        for name in ("information", "warning", "error", "question"):
            ref = PROBE("icon-ref", name, "0x" + bg)["rows"]
            diff = 0
            for y in range(min(b - t, len(ref))):
                got, want = shot.row(l, r, t + y), bytes.fromhex(ref[y])
                diff += sum(abs(a - c) for a, c in zip(got, want))
            scores[name] = diff
        best = min(scores, key=scores.get)
        self.assertEqual(sorted(scores.values())[0], scores[best])
        self.assertLess(scores[best] * 4, sorted(scores.values())[1], scores)
        return best


class SystemMenu(unittest.TestCase):
    """The about box from the system menu, and the usual system commands."""

    def setUp(self):
        reset_port("COM1")

    def open_about(self, m, how):
        how()
        box = wait_for(lambda: owned_windows(m.hwnd, ABOUT_CAPTION), "the about box")
        self.assertEqual(len(box), 1)
        return box[0]

    def close_about(self, m, box):
        PROBE("click", box["hwnd"], IDOK)
        wait_for(lambda: not owned_windows(m.hwnd, ABOUT_CAPTION) and m.info()["enabled"],
                 "the about box to close")

    def test_about_box(self):
        m = Meter(self)
        box = self.open_about(m, lambda: PROBE("syscommand", m.hwnd, 0x10))
        self.assertFalse(m.info()["enabled"], "the meter is disabled while the box is up")
        kids = PROBE("children", box["hwnd"])["children"]
        statics = [k for k in kids if k["class"] == "Static"]
        self.assertEqual(len(statics), 3)
        self.assertEqual(statics[1]["text"], "Tovmir " + OPTS.version)
        self.assertIn("tovmir", statics[2]["text"])
        self.assertEqual([(k["id"], k["text"]) for k in kids if k["class"] == "Button"],
                         [(IDOK, "OK")])
        icon = statics[0]
        self.assertEqual(icon["style"] & 0x1F, 3, "SS_ICON")

        # Out of the meter's way, so that the meter can be seen ticking behind it.
        mrect = m.info()["rect"]
        PROBE("move", box["hwnd"], mrect[2] + 20, mrect[3] + 20)
        icon = next(k for k in PROBE("children", box["hwnd"])["children"]
                    if k["hwnd"] == icon["hwnd"])
        big = PROBE("resources", win_path(OPTS.exe))["icon"]["entries"][0]["image"]
        l, t = icon["origin"]
        shot = screenshot()
        self.assertEqual([shot.row(l, l + 32, t + y) for y in range(32)],
                         [bytes.fromhex(r) for r in big["pixels"]], "icon 128 in the box")
        looks = m.watch(lambda ks: len(level_changes(ks)) >= 3)
        changes = level_changes(looks)
        self.assertGreaterEqual(len(changes), 3, "the meter sweeps behind the about box")
        self.assertTrue(all((b[1] - a[1]) % 16 == 1 for a, b in zip(changes, changes[1:])), changes)
        self.close_about(m, box)

        # 0x13 is the same command to the program (the low four bits are the system's);
        # the box's close button ends it as OK does.
        box = self.open_about(m, lambda: PROBE("syscommand", m.hwnd, 0x13))
        PROBE("syscommand", box["hwnd"], SC_CLOSE)
        wait_for(lambda: not owned_windows(m.hwnd, ABOUT_CAPTION) and m.info()["enabled"],
                 "the about box to close")

        # From the menu itself: the last item, reached by the keyboard. (Its mnemonic A is
        # also that of Wine's own "About Wine" item, so the letter is no use here.)
        def by_keyboard():
            PROBE("post", m.hwnd, WM_SYSCOMMAND, SC_KEYMENU, ord(" "))
            wait_for(lambda: owned_windows(m.hwnd, "", "#32768"), "the system menu")
            PROBE("post", m.hwnd, WM_KEYDOWN, VK_UP, 1)
            PROBE("post", m.hwnd, WM_KEYDOWN, VK_RETURN, 1)
        box = self.open_about(m, by_keyboard)
        self.close_about(m, box)
        m.close_and_wait()

    def test_minimise_maximise_restore_close(self):
        m = Meter(self)
        before = m.info()
        PROBE("syscommand", m.hwnd, SC_MINIMIZE)
        # Wine shows a minimised window as a short caption bar; the client area is empty,
        # so the centred icon the program paints there cannot be seen. The bar carries the
        # program's icon.
        small = wait_for(lambda: (lambda w: w if w["iconic"] and w["client"] == [0, 0] else None)
                         (m.info()), "minimised")
        wait_for(lambda: shows_program_icon(screenshot(), small["rect"]),
                 "the icon in the minimised window's bar")

        # Wine sets the window's state flags before it gives the window its new size:
        # wait for both.
        PROBE("syscommand", m.hwnd, SC_RESTORE)
        wait_for(lambda: (lambda w: not w["iconic"] and w["client"] == before["client"])
                 (m.info()), "restored to the size before")
        m.wait_look(status=POWER_OFF, hollow=False)

        PROBE("syscommand", m.hwnd, SC_MAXIMIZE)
        wait_for(lambda: (lambda w: w["zoomed"] and w["client"][0] > before["client"][0] and
                          w["client"][1] > before["client"][1])(m.info()), "maximised")
        m.send(b"\xA3\xC9")
        m.wait_look(level=9, hollow=True, status=NET_UNKNOWN)

        PROBE("syscommand", m.hwnd, SC_RESTORE)
        wait_for(lambda: (lambda w: not w["zoomed"] and w["client"] == before["client"])
                 (m.info()), "restored to the size before")
        m.wait_look(status=NET_UNKNOWN, hollow=True)
        m.close_and_wait(how=SC_CLOSE)


class Resizing(unittest.TestCase):
    """The figure follows the client size, down to nothing."""

    def setUp(self):
        reset_port("COM1")

    def test_resize(self):
        m = Meter(self)
        m.send(b"\xA3\xC8\xAD\x0C\x0A\x0F\x0E")
        keep = Feeder("COM1", b"\xC8", period=0.3)
        keep.start()
        self.addCleanup(keep.stop)
        for w, h in ((400, 200), (250, 120), (640, 360), (120, 60)):
            with self.subTest(client=(w, h)):
                self.assertEqual(PROBE("resize", m.hwnd, w, h)["client"], [w, h])
                m.wait_look(level=8, hollow=True, status="網番号:CAFE")
        for h in (20, 12, 1, 0):
            with self.subTest(client=(400, h)):
                # The figure collapses to the top row; the status line keeps its band
                # just below it (meter height 1), cut off by the client's bottom.
                self.assertEqual(PROBE("resize", m.hwnd, 400, h)["client"], [400, h])
                fig = m.figure()
                self.assertEqual(fig["meter_height"], 1)
                if h > 1:
                    wait_for(lambda: shows_text(screenshot(), fig, "網番号:CAFE"),
                             "the status line in a client %d high" % h)
                self.assertIsNone(m.proc.poll(), "still running")
        self.assertEqual(PROBE("resize", m.hwnd, 400, 200)["client"], [400, 200])
        m.wait_look(level=8, hollow=True, status="網番号:CAFE")
        m.close_and_wait()


class Closing(unittest.TestCase):
    """Closing ends the process at once, even with the handset talking at full speed."""

    def test_close_while_bytes_stream(self):
        for how in (WM_CLOSE, SC_CLOSE):
            with self.subTest(how=hex(how)):
                # A start, a level and the antenna changing with every byte: a repaint
                # asked for by the reader for each one.
                m = Meter(self, ["COM4"], port="COM4")
                feed = Feeder("COM4", b"\xA3\xC3\x81\xCC\x80" * 200)
                feed.start()
                self.addCleanup(feed.stop)
                m.wait_look(status=NET_UNKNOWN, clean=True)
                m.close_and_wait(how)
                feed.stop()

    def test_close_when_idle(self):
        reset_port("COM1")
        m = Meter(self)
        m.wait_look(status=POWER_OFF)
        m.close_and_wait()


# ---- the session

def setUpModule():
    global SESSION, PROBE, FACE, DESKTOP
    SESSION = WineSession(ports=PORTS, prefix=OPTS.prefix, desktop="1024x768",
                          arch=program_arch(OPTS.exe), locale=OPTS.locale)
    SESSION.__enter__()
    try:
        for p in PORTS:
            # Held open for the whole run: the near end to read and reset the line
            # settings, the far end to write the handset's bytes without opening it again.
            NEAR[p] = os.open(SESSION.near(p), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
            FAR[p] = os.open(SESSION.far(p), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        PROBE = Probe(SESSION, OPTS.probe)
        FACE = bytes(PROBE("info")["btnface"])
        wait_for(lambda: subprocess.run(["xwininfo", "-name", "tovmir - Wine desktop"],
                                        env=SESSION.env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL).returncode == 0,
                 "the Wine desktop window")
        DESKTOP = desktop_offset(SESSION)
    except BaseException:
        tearDownModule()
        raise


def tearDownModule():
    global PROBE, SESSION
    if PROBE:
        PROBE.close()
        PROBE = None
    for fds in (NEAR, FAR):
        for fd in fds.values():
            os.close(fd)
        fds.clear()
    if SESSION:
        SESSION.close()
        SESSION = None


def main():
    global OPTS
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--exe", required=True, help="tovmir.exe")
    ap.add_argument("--probe", required=True, help="probe.exe (the e2e_probe target)")
    ap.add_argument("--version", required=True, help="the version the build says, a.b.c.d")
    ap.add_argument("--prefix", help="Wine prefix (default as the harness)")
    ap.add_argument("--locale", default=DEFAULT_LOCALE,
                    help="the locale Wine runs under (default %(default)s)")
    ap.add_argument("--screenshot-dir", help="save the meter window as tovmir.png here")
    OPTS, rest = ap.parse_known_args()
    OPTS.exe, OPTS.probe = os.path.abspath(OPTS.exe), os.path.abspath(OPTS.probe)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
