#!/usr/bin/env python3
"""The README's main command, scripts/demo.sh, as a user runs it.

Without a display it must draw the meter in the terminal (checked through tmux) and end on
Ctrl-C; with a display (an Xvfb of the test's own) it must bring up the Linux meter window,
and with --wine the real Windows program under Wine, the 32-bit program where the machine
runs 32-bit code and the 64-bit one where it does not; their bars change as the simulated
handset's level wanders, and they end on SIGINT with nothing left running (the Linux window
with GLib's warnings fatal, and without one). Where no Wine can run at all, --wine says why
and draws in the terminal. A machine without 32-bit (or any) support is made by naming Wine
loaders that cannot run. With --survey, a simulated walk (played faster) must end with maps
that GDAL's ogrinfo and gpsbabel open with the counts the walk's log implies, coloured by
its levels.
"""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DEMO = os.path.join(ROOT, "scripts", "demo.sh")
HARNESS = os.path.join(ROOT, "tools", "wine", "harness.py")
PREFIX = os.path.join(ROOT, "build", "demo-wine-")
LOADER_VARS = {"win32": "TOVMIR_WINE32_LOADER", "win64": "TOVMIR_WINE64_LOADER"}
# The first run of the demo installs and builds what it shows.
FIRST_START = 600

sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from waits import bound, wait_for  # noqa: E402
from xvfb import start_xvfb  # noqa: E402


def ours_running(session, marker):
    """Processes of the session the test started (its own, not another run's or a meter the
    user has open) whose command line or environment mentions marker."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            with open("/proc/%s/stat" % pid, "rb") as f:
                # pid (comm) state ppid pgrp session ...: comm may hold spaces and ")".
                fields = f.read().rsplit(b")", 1)[1].split()
            if int(fields[3]) != session:
                continue
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmd = f.read()
            with open("/proc/%s/environ" % pid, "rb") as f:
                env = f.read()
        except (OSError, IndexError, ValueError):
            continue
        if marker.encode() in cmd or marker.encode() in env:
            found.append((pid, cmd.replace(b"\0", b" ").decode(errors="replace")))
    return found


def default_sigint():
    # The demo must see Ctrl-C as a terminal would deliver it.
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def can_run(arch):
    return subprocess.run([sys.executable, HARNESS, "--can-run", arch],
                          capture_output=True).returncode == 0


def unrunnable(test, *archs):
    """Environment naming Wine loaders that cannot run ("Exec format error")."""
    tmp = tempfile.TemporaryDirectory()
    test.addCleanup(tmp.cleanup)
    path = os.path.join(tmp.name, "loader")
    with open(path, "wb") as f:
        f.write(b"\x7fELF not for this machine\n")
    os.chmod(path, 0o755)
    return {LOADER_VARS[a]: path for a in archs}


class InTheTerminal(unittest.TestCase):
    def run_demo(self, prelude, first_line, args=""):
        sock = tempfile.mktemp(prefix="tovmir-demo-tmux-")
        tmux = ["tmux", "-u", "-S", sock]
        env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        env.pop("DISPLAY", None)
        command = "%s DEMO_SEED=11 bash %s %s; echo DEMO-EXIT $?; sleep 60" % (prelude, DEMO, args)
        subprocess.run(tmux + ["new-session", "-d", "-s", "demo", "-x", "90", "-y", "26", command],
                       check=True, env=env)
        try:
            def pane():
                return subprocess.run(tmux + ["capture-pane", "-p", "-t", "demo"],
                                      capture_output=True, text=True).stdout
            # The first run builds; then the meter appears with the network number.
            wait_for(lambda: "\u2588" in pane() and "網番号:" in pane(), "the meter in the terminal",
                     timeout=bound(FIRST_START))
            first = pane()
            wait_for(lambda: pane() != first, "the meter to change", interval=0.1)
            self.assertIn("網番号:", pane())
            self.assertIn(first_line, subprocess.run(
                tmux + ["capture-pane", "-p", "-S", "-", "-t", "demo"],
                capture_output=True, text=True).stdout.replace("\n", ""))
            subprocess.run(tmux + ["send-keys", "-t", "demo", "C-c"], check=True)
            wait_for(lambda: "DEMO-EXIT" in pane(), "the demo to end on Ctrl-C", interval=0.1)
            session = int(subprocess.run(tmux + ["display", "-p", "-t", "demo", "#{pane_pid}"],
                                         capture_output=True, text=True).stdout)
            self.assertEqual(ours_running(session, os.path.join("host", "tovmir-tool") + " sim"),
                             [])
        finally:
            subprocess.run(tmux + ["kill-server"], capture_output=True)

    def test_without_a_display(self):
        self.run_demo("env -u DISPLAY", "No display (DISPLAY is not set)")

    def test_with_a_display_where_no_wine_can_run(self):
        # The display is never opened: no X server is needed to choose the terminal.
        loaders = unrunnable(self, "win32", "win64")
        setting = " ".join("%s=%s" % kv for kv in loaders.items())
        self.run_demo("env DISPLAY=:59 " + setting, "No Wine can run here (", "--wine")


# The survey's files, as the demo names them.
SURVEY = os.path.join(ROOT, "build", "survey", "survey")


def level_scale():
    """The 16 colours of render/level_scale.h, "#RRGGBB"."""
    with open(os.path.join(ROOT, "render", "level_scale.h")) as f:
        table = f.read().split("kLevelScale[16] = {", 1)[1].split("};", 1)[0]
    return ["#%02X%02X%02X" % tuple(int(v, 16) for v in rgb)
            for rgb in re.findall(r"\{0x(..), 0x(..), 0x(..)\}", table)]


def implied(log_path):
    """What the log implies for the maps: (stretches + marks, points where a level was
    read), by the rules of tovmir-tool map --help: stretches of one reading along the lines
    with a fix, broken where the fix or the port is lost or a line is more than 10 s on."""
    stretches = marks = points = 0
    key = before = last_t = None
    with open(log_path) as f:
        lines = [json.loads(line) for line in f if line.strip()]
    for line in lines:
        t = line["elapsed"]
        silent = before and before["receiving"] and not line["receiving"]
        net = before and before["net"] and line["net"] and before["net"] != line["net"]
        before = line
        if line["fix"] == "none" or line["event"] == "lost":
            key = None
            continue
        marks += bool(silent) + bool(net)
        points += line["receiving"]
        if key is not None and t - last_t > 10:
            key = None
        last_t = t
        now = (("reading", line["level"], line["antenna"], line["net"]) if line["receiving"]
               else ("silent",))
        if now != key:
            stretches += 1
            key = now
    return stretches + marks, points


def features(path):
    """{layer: feature count} as GDAL's ogrinfo reads the file."""
    out = subprocess.run(["ogrinfo", "-ro", "-al", "-so", path], capture_output=True, text=True,
                         check=True).stdout
    return dict(zip(re.findall(r"^Layer name: (.*)$", out, re.M),
                    map(int, re.findall(r"^Feature Count: (\d+)$", out, re.M))))


class Survey(unittest.TestCase):
    def test_a_walk_ends_with_maps_that_gis_tools_open(self):
        env = dict(os.environ, DEMO_SEED="12", DEMO_SURVEY_PACE="0.02")
        env.pop("DISPLAY", None)
        r = subprocess.run(["bash", DEMO, "--survey"], env=env, capture_output=True,
                           timeout=bound(FIRST_START))
        output = r.stdout.decode(errors="replace") + r.stderr.decode(errors="replace")
        self.assertEqual(r.returncode, 0, output)
        self.assertIn("The survey's maps: build/survey/survey.png", output)
        want_features, want_points = implied(SURVEY + ".jsonl")
        self.assertGreater(want_points, 50, "a walk, mostly with a fix")
        self.assertEqual(list(features(SURVEY + ".geojson").values()), [want_features])
        self.assertEqual(list(features(SURVEY + ".kml").values()), [want_features])
        gpx = features(SURVEY + ".gpx")
        self.assertEqual((gpx["tracks"], gpx["track_points"]), (1, want_points))
        babel = subprocess.run(["gpsbabel", "-t", "-i", "gpx", "-f", SURVEY + ".gpx", "-o",
                                "unicsv", "-F", "/dev/stdout"], capture_output=True, text=True,
                               check=True).stdout
        self.assertEqual(len(babel.splitlines()), 1 + want_points)
        # Coloured by the level, on the one scale.
        scale = level_scale()
        with open(SURVEY + ".geojson") as f:
            for feature in json.load(f)["features"]:
                p = feature["properties"]
                if p["kind"] == "reading":
                    self.assertEqual(p["stroke"], scale[p["level"]], p)
                elif p["kind"] == "silence":
                    self.assertEqual(p["stroke"], "#9E9E9E", p)


class WithDisplay(unittest.TestCase):
    def setUp(self):
        self.display, self.xvfb = start_xvfb()
        # GLib's warnings are the window's defects: fatal here. (This X server has no
        # session bus for GTK's accessibility to reach, which GTK would warn of.)
        self.env = dict(os.environ, DISPLAY=self.display, DEMO_SEED="12",
                        G_DEBUG="fatal-warnings", GTK_A11Y="none", NO_AT_BRIDGE="1")

    def tearDown(self):
        self.xvfb.stop()

    def screen(self):
        return subprocess.run(["import", "-display", self.display, "-window", "root", "rgb:-"],
                              capture_output=True, check=True).stdout

    def test_the_linux_window_whose_bars_change(self):
        self.check_window("the meter (build/host/linux/tovmir)", {}, [], "linux/tovmir")

    def test_the_windows_program_under_wine(self):
        bits = "32-bit" if can_run("win32") else "64-bit"
        self.check_window("the %s tovmir.exe" % bits, {}, ["--wine"], PREFIX)

    def test_the_64_bit_windows_program_where_32_bit_code_cannot_run(self):
        self.check_window("the 64-bit tovmir.exe", unrunnable(self, "win32"), ["--wine"], PREFIX)

    def test_a_survey_whose_map_is_shown(self):
        self.check_window("The survey's maps: build/survey/survey.png",
                          {"DEMO_SURVEY_PACE": "0.02"}, ["--survey"], "gpsfake",
                          title="tovmir survey", changing=False)

    def check_window(self, says, env, args, marker, title="アンテナ", changing=True):
        demo = subprocess.Popen(["bash", DEMO] + args, env=dict(self.env, **env),
                                start_new_session=True,
                                preexec_fn=default_sigint, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)
        try:
            def window():
                self.xvfb.check()
                if demo.poll() is not None:
                    raise AssertionError("the demo ended before its window came")
                tree = subprocess.run(["xwininfo", "-display", self.display, "-root", "-tree"],
                                      capture_output=True, text=True).stdout
                return '"%s"' % title in tree
            wait_for(window, "the window " + title, timeout=bound(FIRST_START), interval=0.1)
            if changing:
                first = self.screen()
                wait_for(lambda: self.screen() != first, "the bars to change", interval=0.1)
            os.killpg(demo.pid, signal.SIGINT)
            wait_for(lambda: demo.poll() is not None, "the demo to end on Ctrl-C")
            wait_for(lambda: not ours_running(demo.pid, marker), "the meter to end")
        finally:
            if demo.poll() is None:
                os.killpg(demo.pid, signal.SIGKILL)
            output = demo.stdout.read().decode(errors="replace")
            demo.stdout.close()
            if sys.exc_info()[0]:
                print(output, file=sys.stderr)
        self.assertIn(says, output)
        self.assertNotRegex(output, r"-(WARNING|CRITICAL) \*\*|Sanitizer", "a clean end")


if __name__ == "__main__":
    for tool in ("tmux", "Xvfb", "xwininfo", "import", "gpsfake", "ogrinfo", "gpsbabel"):
        if not shutil.which(tool):
            sys.exit("test_demo: %s is missing" % tool)
    unittest.main(verbosity=2)
