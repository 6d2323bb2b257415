#!/usr/bin/env python3
"""The Windows installers scripts/package.sh makes, run under Wine as users and
administrators run them.

    test_installer.py [--dist DIR] [--ca CERT] [--locale NAME] [--screenshot FILE]
                      [unittest options]

Each installer runs in a Wine prefix of its architecture made afresh for the run
(build/wine-installer-ARCH), on a Wine desktop with COM1, COM3 and COM12 on pty pairs and
a USB serial adapter's entry in the device registry for COM3, as Windows has one. The
architectures this machine cannot run (tools/wine/harness.py says which) are skipped with
the reason, which is also printed at the end. Checked:

- silent installs: for all users with /PORT (files, the Start-menu shortcut's target and
  arguments, the Apps & features entry, the 64-bit view for the 64-bit installer), again
  over it without a port and with another, into a folder given with /D, and for the user
  alone without a port (a shortcut for COM1); the program started as the shortcut starts
  it opens the chosen port (600 baud on its pty) and shows its window;
- a bad /PORT or an unknown option: exit status 2, nothing installed;
- the port page lists the ports Windows knows, in number order, with the device's name,
  and the port chosen there is the shortcut's;
- only one architecture's program for all users at a time (64-bit prefix, both installers);
- the silent uninstall leaves no file, shortcut or registry key of ours.

With --ca the installed program and uninstaller must be signed by that certificate. With
--screenshot the port page, its list open, is saved there (docs/installer-port.png was
made with --locale en_US.UTF-8). Needs the probe of each build (build/ARCH/tests/
e2e_probe.exe). Python standard library only.
"""

import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from harness import (DEFAULT_LOCALE, HarnessError, WineSession, port_number,  # noqa: E402
                     why_not_runnable, win_path)
from waits import WAIT, TimedOut, wait_for  # noqa: E402
from driver import Probe, desktop_offset, line_settings, reset_line  # noqa: E402

OPTS = None        # the command line, set by main()
NOT_RUN = {}       # arch -> why its installer could not run here

PORTS = ["COM1", "COM3", "COM12"]
# A USB serial adapter as Windows registers it: COM3 has a name in Device Manager. COM9's
# adapter is unplugged: Windows remembers it, but the port is not there.
DEVICES = {"COM3": ("FTDIBUS", "VID_0403+PID_6001+A10K1234A", "USB Serial Port (COM3)"),
           "COM9": ("USB", "VID_067B&PID_2303", "Prolific USB-to-Serial Comm Port (COM9)")}
UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\tovmir"
COMMON_PROGRAMS = ("ProgramData", "Microsoft", "Windows", "Start Menu", "Programs")
METER_CAPTION = "アンテナ"
PUBLISHER = "the tovmir project"
EXIT_REFUSED = 2   # NSIS's "aborted by the script": nothing was installed

CB_GETCOUNT = 0x0146
CB_SETCURSEL = 0x014E
CB_SHOWDROPDOWN = 0x014F
ID_NEXT = 1
IDCANCEL = 2


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(tovmir VERSION ([0-9.]+)", f.read()).group(1)


VERSION = project_version()


def installer(arch):
    return os.path.join(OPTS.dist, "tovmir-%s-%s-setup.exe" % (VERSION, arch))


def zipped(arch):
    """{name: bytes} of the files in the architecture's zip."""
    name = "tovmir-%s-%s" % (VERSION, arch)
    with zipfile.ZipFile(os.path.join(OPTS.dist, name + ".zip")) as z:
        return {n[len(name) + 1:]: z.read(n) for n in z.namelist()}


def read_shortcut(path):
    """A shell link's target, arguments, working folder, icon and comment (MS-SHLLINK)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"\x4c\0\0\0":
        raise AssertionError("%s is not a shell link" % path)
    flags = struct.unpack_from("<I", data, 0x14)[0]
    pos = 0x4C
    if flags & 0x01:  # an item ID list
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    link = {"target": None}
    if flags & 0x02:  # link info: the target's local path (base path + suffix, ANSI)
        size, header, info_flags, _, base, _, suffix = struct.unpack_from("<7I", data, pos)

        def c_string(at):
            return data[at:data.index(b"\0", at)].decode("latin-1")
        if info_flags & 0x01:
            link["target"] = c_string(pos + base) + c_string(pos + suffix)
        pos += size
    unicode = flags & 0x80
    # The strings in their order, each as many characters as its count says (Wine counts
    # the terminating null in).
    for bit, key in ((0x04, "comment"), (0x08, "relative"), (0x10, "workdir"),
                     (0x20, "arguments"), (0x40, "icon")):
        if flags & bit:
            count = struct.unpack_from("<H", data, pos)[0]
            size = count * 2 if unicode else count
            raw = data[pos + 2:pos + 2 + size]
            link[key] = raw.decode("utf-16-le" if unicode else "latin-1").rstrip("\0")
            pos += 2 + size
    return link


class InstallerTests:
    """One architecture's installer; ARCH is set by the subclasses below."""

    ARCH = None
    session = probe = None
    near = {}

    @classmethod
    def setUpClass(cls):
        why = why_not_runnable(cls.ARCH)
        if why:
            NOT_RUN[cls.ARCH] = why
            raise unittest.SkipTest("this machine cannot run %s programs: %s" % (cls.ARCH, why))
        probe = os.path.join(ROOT, "build", cls.ARCH, "tests", "e2e_probe.exe")
        if not os.path.exists(probe):
            raise HarnessError("no %s: build the %s preset first" % (probe, cls.ARCH))
        # A fresh Windows, with nothing of an earlier run in it; a prefix of its own per
        # locale, as the harness keeps them.
        prefix = os.path.join(ROOT, "build", "wine-installer-" + cls.ARCH)
        if OPTS.locale != DEFAULT_LOCALE:
            prefix += "-" + OPTS.locale
        if os.path.exists(prefix):
            shutil.rmtree(prefix)
        cls.session = WineSession(ports=PORTS, prefix=prefix, arch=cls.ARCH, desktop="800x600",
                                  locale=OPTS.locale)
        cls.session.__enter__()
        try:
            cls.near = {p: os.open(cls.session.near(p), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
                        for p in PORTS}
            cls.probe = Probe(cls.session, probe)
            cls.import_devices()
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        if cls.probe:
            cls.probe.close()
            cls.probe = None
        for fd in cls.near.values():
            os.close(fd)
        cls.near = {}
        if cls.session:
            cls.session.close()
            cls.session = None

    @classmethod
    def import_devices(cls):
        lines = ["Windows Registry Editor Version 5.00", ""]
        for port, (bus, device, name) in DEVICES.items():
            key = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\%s\%s\0000" % (bus, device)
            lines += ["[%s]" % key, '"FriendlyName"="%s"' % name, "",
                      r"[%s\Device Parameters]" % key, '"PortName"="%s"' % port, ""]
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "devices.reg")
            with open(path, "w", encoding="utf-16", newline="\r\n") as f:
                f.write("\n".join(lines))
            r = cls.session.run(["regedit", "/S", win_path(path)], timeout=60)
            if r.returncode != 0:
                raise HarnessError("regedit could not import the devices")

    def setUp(self):
        self.assertEqual(self.leftovers(), [], "left by an earlier test")
        self.addCleanup(self.remove_leftovers)

    # --- what Windows has

    def unix(self, path):
        """The prefix's file for a C:\\ path."""
        self.assertRegex(path, r"^[Cc]:\\")
        return os.path.join(self.session.prefix, "drive_c", *path[3:].split("\\"))

    def reg(self, key):
        """{name: data} of a registry key, None when it is not there."""
        r = self.session.run(["reg", "query", key], timeout=60)
        if r.returncode != 0:
            return None
        values = {}
        for line in r.stdout.splitlines():
            m = re.match(r"^ {4}(\S+) {4}(REG_\w+) {4}(.*)$", line)
            if m:
                values[m.group(1)] = int(m.group(3), 16) if m.group(2) == "REG_DWORD" \
                    else m.group(3)
        return values

    def uninstall_keys(self):
        keys = ["HKLM\\" + UNINSTALL, "HKCU\\" + UNINSTALL]
        if self.ARCH == "win64":  # the 32-bit view of a 64-bit Windows
            keys.append("HKLM\\" + UNINSTALL.replace("Software\\", "Software\\Wow6432Node\\"))
        return keys

    def leftovers(self):
        """Our files and folders (anything named tovmir) and uninstall entries."""
        found = []
        for folder, dirs, files in os.walk(os.path.join(self.session.prefix, "drive_c")):
            found += [os.path.join(folder, n) for n in dirs + files if "tovmir" in n.lower()]
        return found + [k for k in self.uninstall_keys() if self.reg(k) is not None]

    def run_installer(self, *args, exe=None):
        return self.session.run([exe or installer(self.ARCH)] + list(args), timeout=120)

    def uninstall(self, key):
        """The silent uninstall as Apps & features names it; waits until it has ended. The
        uninstaller hands its work to a copy of itself and returns at once."""
        command = self.reg(key)["QuietUninstallString"]
        m = re.fullmatch(r'"([^"]+)"((?: /\S+)*)', command)
        self.assertTrue(m, command)
        r = self.session.run([m.group(1)] + m.group(2).split(), timeout=120)
        self.assertEqual(r.returncode, 0, "uninstaller's exit status")
        left = []
        try:
            wait_for(lambda: not left.append(self.leftovers()) and not left[-1],
                     "the uninstaller to finish", interval=0.2)
        except TimedOut:
            self.fail("after uninstalling, still there: %s" % left[-1])

    def remove_leftovers(self):
        for key in self.uninstall_keys():
            if self.reg(key):
                self.uninstall(key)

    def shortcuts(self):
        """The prefix's tovmir shortcuts: {path under drive_c: link}."""
        drive = os.path.join(self.session.prefix, "drive_c")
        found = {}
        for folder, _, files in os.walk(drive):
            for n in files:
                if n.lower().endswith(".lnk") and "tovmir" in n.lower():
                    path = os.path.join(folder, n)
                    found[os.path.relpath(path, drive)] = read_shortcut(path)
        return found

    def check_install(self, values, port, programs):
        """The entry, files and shortcut of an install for `port` whose Start-menu folder
        is `programs` (under drive_c)."""
        folder = values["InstallLocation"]
        exe = folder + "\\tovmir.exe"
        self.assertEqual({k: values.get(k) for k in (
            "DisplayName", "DisplayVersion", "Publisher", "DisplayIcon", "Port")},
            {"DisplayName": "tovmir", "DisplayVersion": VERSION, "Publisher": PUBLISHER,
             "DisplayIcon": exe, "Port": port})
        self.assertRegex(values["UninstallString"],
                         r'^"%s\\uninstall\.exe" /(AllUsers|CurrentUser)$' % re.escape(folder))
        files = zipped(self.ARCH)
        self.assertEqual(sorted(os.listdir(self.unix(folder))),
                         sorted(list(files) + ["uninstall.exe"]))
        for name, data in files.items():
            with open(self.unix(folder + "\\" + name), "rb") as f:
                self.assertEqual(f.read(), data, "%s as in the zip" % name)
        name = os.path.join(*programs, "tovmir (%s).lnk" % port)
        links = self.shortcuts()
        self.assertEqual(list(links), [name])
        link = links[name]
        self.assertEqual((link["target"].lower(), link["arguments"], link["icon"].lower()),
                         (exe.lower(), port, exe.lower()))
        self.assertEqual(link["workdir"].lower(), folder.lower())
        if OPTS.ca:
            for f in ("tovmir.exe", "uninstall.exe"):
                r = subprocess.run(["osslsigncode", "verify", "-CAfile", OPTS.ca,
                                    "-in", self.unix(folder + "\\" + f)],
                                   capture_output=True, text=True, timeout=60)
                self.assertEqual(r.returncode, 0, "%s signed: %s" % (f, r.stdout + r.stderr))
        return link

    @staticmethod
    def end(p):
        if p.poll() is None:
            p.kill()
            p.wait()

    def start_from(self, link, port):
        """Starts the program as the shortcut does; asserts that it opens `port` (600 baud
        on its pty, the other ports untouched) and shows the meter."""
        for fd in self.near.values():
            reset_line(fd)
        before = {w["hwnd"] for w in self.probe("find", METER_CAPTION)["windows"]}
        p = self.session.start([link["target"]] + link["arguments"].split())
        try:
            wait_for(lambda: line_settings(self.near[port])[0] == 600,
                     "%s at 600 baud" % port)
            wait_for(lambda: [w for w in self.probe("find", METER_CAPTION)["windows"]
                              if w["hwnd"] not in before and w["visible"]],
                     "the meter window")
            for other in PORTS:
                if other != port:
                    self.assertEqual(line_settings(self.near[other])[0], 9600,
                                     other + " untouched")
        finally:
            self.end(p)

    # --- the tests

    def test_bad_port_or_option_fails_and_installs_nothing(self):
        for args in (["/PORT=COM0"], ["/PORT=COM256"], ["/PORT=COM03"], ["/PORT=LPT1"],
                     ["/PORT="], ["/PORT=COM3x"], ["/PROT=COM3"], ["/s"]):
            with self.subTest(args=args):
                r = self.run_installer("/S", *args)
                self.assertEqual(r.returncode, EXIT_REFUSED)
                self.assertEqual(self.leftovers(), [])

    def test_silent_install_for_all_users_with_a_port(self):
        key = "HKLM\\" + UNINSTALL
        # Installed again without a port, it keeps the one chosen before; with another,
        # the shortcut for the old one goes.
        for args, port in ((["/PORT=COM12"], "COM12"), ([], "COM12"), (["/PORT=com3"], "COM3")):
            with self.subTest(args=args):
                r = self.run_installer("/S", *args)
                self.assertEqual(r.returncode, 0)
                values = self.reg(key)
                self.assertTrue(values, "no uninstall entry under HKLM")
                self.assertEqual(values["Port"], port)
                self.assertEqual([os.path.basename(n) for n in self.shortcuts()],
                                 ["tovmir (%s).lnk" % port])
        # Both into Program Files: the 32-bit one on 32-bit Windows, the 64-bit one into the
        # 64-bit folder and registry view.
        self.assertEqual(values["InstallLocation"], "C:\\Program Files\\tovmir")
        self.assertEqual([k for k in self.uninstall_keys() if k != key and self.reg(k)], [])
        link = self.check_install(values, "COM3", COMMON_PROGRAMS)
        self.start_from(link, "COM3")
        self.uninstall(key)

    def test_silent_install_for_the_user_alone_without_a_port_opens_com1(self):
        r = self.run_installer("/CurrentUser", "/S")
        self.assertEqual(r.returncode, 0)
        key = "HKCU\\" + UNINSTALL
        values = self.reg(key)
        self.assertTrue(values, "no uninstall entry under HKCU")
        self.assertRegex(values["InstallLocation"],
                         r"^C:\\users\\[^\\]+\\AppData\\Local\\Programs\\tovmir$")
        user = values["InstallLocation"].split("\\")[2]
        link = self.check_install(values, "COM1", ("users", user, "AppData", "Roaming")
                                  + COMMON_PROGRAMS[1:])
        self.start_from(link, "COM1")
        self.uninstall(key)

    def test_silent_install_into_a_folder_of_ones_own(self):
        folder = "C:\\Tools\\tovmir meter"
        # As typed, without quotes, last: NSIS takes the rest of the line.
        r = self.run_installer("/S", "/PORT=COM12", *("/D=" + folder).split(" "))
        self.assertEqual(r.returncode, 0)
        values = self.reg("HKLM\\" + UNINSTALL)
        self.assertEqual(values["InstallLocation"], folder)
        self.check_install(values, "COM12", COMMON_PROGRAMS)
        self.uninstall("HKLM\\" + UNINSTALL)

    def test_uninstalling_while_the_meter_runs_removes_nothing(self):
        """While the meter it would remove runs, the uninstaller removes nothing, its entry
        neither: under /S it ends with exit status 2; in a window it asks for the meter to
        be closed, and Cancel leaves all as it was. Once the meter has ended, it goes."""
        self.assertEqual(self.run_installer("/CurrentUser", "/S", "/PORT=COM3").returncode, 0)
        key = "HKCU\\" + UNINSTALL
        folder = self.reg(key)["InstallLocation"]
        installed = self.leftovers()
        reset_line(self.near["COM3"])
        meter = self.session.start([folder + "\\tovmir.exe", "COM3"])
        self.addCleanup(self.end, meter)
        wait_for(lambda: line_settings(self.near["COM3"])[0] == 600, "the meter on COM3")
        # In place (_?=): the exit status is then the uninstaller's own, not that of the
        # launcher that hands the work to a copy.
        uninstaller = [folder + "\\uninstall.exe", "/CurrentUser", "_?=" + folder]
        r = self.session.run(uninstaller[:2] + ["/S"] + uninstaller[2:], timeout=WAIT)
        self.assertEqual(r.returncode, EXIT_REFUSED, "silent, while the meter runs")
        self.assertEqual(self.leftovers(), installed)

        asking = self.session.start(uninstaller)
        self.addCleanup(self.end, asking)

        def message():
            for w in self.probe("list")["windows"]:
                if w["class"] == "#32770" and w["visible"] and any(
                        folder in c["text"] for c in self.probe("children", w["hwnd"])["children"]):
                    return w
            return None
        box = wait_for(message, "the uninstaller's question")
        self.probe("click", box["hwnd"], IDCANCEL)
        self.assertEqual(asking.wait(timeout=WAIT), EXIT_REFUSED, "cancelled")
        self.assertEqual(self.leftovers(), installed)

        self.end(meter)
        self.uninstall(key)

    def test_port_page_lists_the_ports_windows_knows(self):
        p = self.session.start([installer(self.ARCH)])
        self.addCleanup(self.end, p)

        def window():
            return [w for w in self.probe("list")["windows"]
                    if w["text"].startswith("tovmir") and w["visible"]]
        hwnd = wait_for(window, "the installer's window")[0]["hwnd"]

        def control(cls, **want):
            for c in self.probe("children", hwnd)["children"]:
                if c["class"] == cls and c["visible"] and \
                        all(c.get(k) == v for k, v in want.items()):
                    return c
            return None
        # For all users (administrators' default), into the folder offered, to the ports.
        wait_for(lambda: control("Button", id=ID_NEXT, enabled=True), "the first page")
        self.probe("click", hwnd, ID_NEXT)
        wait_for(lambda: control("Edit", text="C:\\Program Files\\tovmir"),
                 "the folder page")
        self.probe("click", hwnd, ID_NEXT)
        combo = wait_for(lambda: control("ComboBox"), "the port page")["hwnd"]

        self.assertEqual(self.probe("text", combo)["text"], "COM1", "chosen at first")
        items = []
        for i in range(self.probe("send", combo, CB_GETCOUNT)["result"]):
            self.probe("send", combo, CB_SETCURSEL, i)
            items.append(self.probe("text", combo)["text"])
        known = sorted(set(PORTS) | set(self.session.host_ports), key=port_number)
        self.assertEqual(items, [p if p != "COM3" else "COM3 - USB Serial Port"
                                 for p in known])
        if OPTS.screenshot:
            self.probe("send", combo, CB_SETCURSEL, 0)
            self.probe("send", combo, CB_SHOWDROPDOWN, 1)
            self.save_screenshot(hwnd)
            self.probe("send", combo, CB_SHOWDROPDOWN, 0)

        self.probe("send", combo, CB_SETCURSEL, items.index("COM12"))
        self.probe("click", hwnd, ID_NEXT)
        # Installed: the page with the log, its button now "Close".
        wait_for(lambda: not control("ComboBox") and control("Button", id=ID_NEXT, enabled=True),
                 "the installation to finish")
        self.probe("click", hwnd, ID_NEXT)
        self.assertEqual(p.wait(timeout=30), 0, "the installer's exit status")
        values = self.reg("HKLM\\" + UNINSTALL)
        self.check_install(values, "COM12", COMMON_PROGRAMS)
        self.uninstall("HKLM\\" + UNINSTALL)

    def save_screenshot(self, hwnd):
        left, top, right, bottom = self.probe("window", hwnd)["rect"]
        x, y = desktop_offset(self.session)
        with tempfile.TemporaryDirectory() as tmp:
            shot = os.path.join(tmp, "screen.png")
            self.session.screenshot(shot)
            subprocess.run(["convert", shot, "-crop", "%dx%d+%d+%d" % (
                right - left, bottom - top, left + x, top + y), "+repage", OPTS.screenshot],
                check=True, timeout=30)


class Win32(InstallerTests, unittest.TestCase):
    ARCH = "win32"


class Win64(InstallerTests, unittest.TestCase):
    ARCH = "win64"

    def test_one_architecture_for_all_users_at_a_time(self):
        # The 32-bit program on 64-bit Windows: Program Files (x86), the 32-bit view.
        if why_not_runnable("win32"):
            self.skipTest("this machine cannot run the 32-bit installer: %s"
                          % why_not_runnable("win32"))
        r = self.run_installer("/S", "/PORT=COM3", exe=installer("win32"))
        self.assertEqual(r.returncode, 0)
        key32 = "HKLM\\" + UNINSTALL.replace("Software\\", "Software\\Wow6432Node\\")
        values = self.reg(key32)
        self.assertEqual(values["InstallLocation"], "C:\\Program Files (x86)\\tovmir")
        self.assertIsNone(self.reg("HKLM\\" + UNINSTALL))
        # The 64-bit one would share its Start-menu shortcut: refused.
        r = self.run_installer("/S", "/PORT=COM12")
        self.assertEqual(r.returncode, EXIT_REFUSED)
        self.assertIsNone(self.reg("HKLM\\" + UNINSTALL))
        self.assertEqual(list(self.shortcuts()),
                         [os.path.join(*COMMON_PROGRAMS, "tovmir (COM3).lnk")])
        self.uninstall(key32)
        # And the other way round.
        self.assertEqual(self.run_installer("/S").returncode, 0)
        r = self.run_installer("/S", exe=installer("win32"))
        self.assertEqual(r.returncode, EXIT_REFUSED)
        self.assertIsNone(self.reg(key32))
        self.uninstall("HKLM\\" + UNINSTALL)


def main():
    global OPTS
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--dist", default=os.path.join(ROOT, "dist"),
                    help="the packages (default dist/)")
    ap.add_argument("--ca", help="the certificate the installed programs must be signed with")
    ap.add_argument("--locale", default=DEFAULT_LOCALE,
                    help="the locale Wine runs under (default %(default)s)")
    ap.add_argument("--screenshot", help="save the port page here (PNG)")
    OPTS, rest = ap.parse_known_args()
    OPTS.dist = os.path.abspath(OPTS.dist)
    if OPTS.screenshot:
        OPTS.screenshot = os.path.abspath(OPTS.screenshot)
    result = unittest.main(argv=[sys.argv[0]] + rest, verbosity=2, exit=False).result
    for arch, why in sorted(NOT_RUN.items()):
        print("NOTE: the %s installer was not run under Wine: this machine cannot run it (%s)"
              % (arch, why), file=sys.stderr)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
