#!/usr/bin/env python3
"""The README's main command, scripts/demo.sh, as a user runs it.

Without a display it must draw the meter in the terminal (checked through tmux) and end on
Ctrl-C; with a display (an Xvfb of the test's own) it must bring up the Linux meter window,
and with --wine the real Windows program under Wine, the 32-bit program where the machine
runs 32-bit code and the 64-bit one where it does not; their bars change as the simulated
handset's level wanders, and they end on SIGINT with nothing left running (the Linux window
with GLib's warnings fatal, and without one). Where no Wine can run at all, --wine says why
and draws in the terminal. A machine without 32-bit (or any) support is made by naming Wine
loaders that cannot run.
"""

import os
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

    def check_window(self, says, env, args, marker):
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
                return "アンテナ" in tree
            wait_for(window, "the meter's window", timeout=bound(FIRST_START), interval=0.1)
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
    for tool in ("tmux", "Xvfb", "xwininfo", "import"):
        if not shutil.which(tool):
            sys.exit("test_demo: %s is missing" % tool)
    unittest.main(verbosity=2)
