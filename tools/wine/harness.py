#!/usr/bin/env python3
"""Run Windows programs under Wine with pseudo-terminals standing in for serial ports.

The Wine is chosen by the program: a 32-bit program (PE32, i386) runs on Wine's 32-bit
loader in a 32-bit prefix, a 64-bit one (PE32+, x86-64) on wine64 in a 64-bit prefix. A
machine whose kernel runs no 32-bit code gets a clear refusal for a 32-bit program.

Wine runs under one locale, Japanese unless asked (--locale), in a prefix made under
that locale: the ANSI code page, and so what Windows programs print, follows it.

As a command (for CTest):

    harness.py [--prefix DIR] [--locale NAME] [--ports COM1,COM12] [--desktop WxH]
               [--use-display] [--timeout SECONDS] -- PROGRAM.exe [ARGS...]
    harness.py --can-run win32|win64    (exit 0, or 1 with the reason on stderr)

As a module:

    with WineSession(ports=["COM1"], locale="en_US.UTF-8") as s:
        s.run(["probe.exe", "list"], timeout=10)

See README.md beside this file.
"""

import argparse
import codecs
import ctypes
import fcntl
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

# Bump when the prefix set-up below changes, so old prefixes are made again.
PREFIX_SETUP = "tovmir-3"

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Each Windows architecture has its own loader. The 32-bit one is an i386 program, which
# some x86-64 kernels cannot run; TOVMIR_WINE32_LOADER and TOVMIR_WINE64_LOADER name
# others (a test names one that cannot run, to see the refusal).
LOADERS = {"win32": ("TOVMIR_WINE32_LOADER", "/usr/lib/wine/wine"),
           "win64": ("TOVMIR_WINE64_LOADER", "/usr/lib/wine/wine64")}
# One server serves both kinds of program; the 64-bit one runs wherever wine64 does.
WINESERVER = "/usr/lib/wine/wineserver64"

# PE machine types.
MACHINES = {0x014C: "win32", 0x8664: "win64"}
# Marlett draws the caption buttons; without it they show as letters.
MARLETT = "/usr/share/wine/fonts/marlett.ttf"

FONT_REPLACEMENTS = {
    "ＭＳ Ｐゴシック": "IPAPGothic",
    "MS UI Gothic": "IPAPGothic",
    "ＭＳ ゴシック": "IPAGothic",
}

# Wine accepts COM1..COM255 in HKLM\Software\Wine\Ports.
MAX_PORT = 255

# The program's own locale, where Wine's ANSI code page is 932.
DEFAULT_LOCALE = "ja_JP.UTF-8"


class HarnessError(Exception):
    pass


def note(text):
    print("harness: " + text, file=sys.stderr, flush=True)


def _die_with_parent():
    # So socat and Xvfb go away even if the harness itself is killed with SIGKILL.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except Exception:
        pass


def wait_for(condition, timeout=5.0, what="a condition", interval=0.05):
    """Poll condition() until it returns something true; return that or raise."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise HarnessError("timed out after %g s waiting for %s" % (timeout, what))
        time.sleep(interval)


def port_number(name):
    m = re.fullmatch(r"COM([1-9][0-9]*)", name.upper())
    if not m or int(m.group(1)) > MAX_PORT:
        raise HarnessError("not a COM port name Wine can map: %r" % name)
    return int(m.group(1))


def win_path(unix_path):
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def program_arch(path):
    """'win32' or 'win64', from the machine type in the program's PE header."""
    try:
        with open(path, "rb") as f:
            head = f.read(4096)
    except OSError as e:
        raise HarnessError("cannot read %s: %s" % (path, e.strerror))
    if head[:2] == b"MZ" and len(head) >= 0x40:
        pe = struct.unpack_from("<I", head, 0x3C)[0]
        if head[pe:pe + 4] == b"PE\0\0" and len(head) >= pe + 6:
            machine = struct.unpack_from("<H", head, pe + 4)[0]
            if machine in MACHINES:
                return MACHINES[machine]
            raise HarnessError("%s is for machine type 0x%04X, which Wine here cannot run"
                               % (path, machine))
    raise HarnessError("%s is not a Windows program" % path)


def loader(arch):
    var, default = LOADERS[arch]
    return os.environ.get(var) or default


_runs = {}


def why_not_runnable(arch):
    """None when this machine runs arch's loader, else one line saying why not. Asked once."""
    if arch not in _runs:
        path = loader(arch)
        try:
            r = subprocess.run([path, "--version"], stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
            _runs[arch] = None if r.returncode == 0 else "%s --version failed (%d): %s" % (
                path, r.returncode, r.stderr.decode(errors="replace").strip())
        except OSError as e:
            _runs[arch] = "%s cannot run here: %s" % (path, e.strerror)
        except subprocess.TimeoutExpired:
            _runs[arch] = "%s --version did not answer" % path
    return _runs[arch]


def _locale_key(name):
    # locale -a spells code sets its own way: ja_JP.utf8 is ja_JP.UTF-8.
    return name.replace("-", "").lower()


def check_locale(name):
    """Refuses a locale name that is malformed or not generated on this machine."""
    if not re.fullmatch(r"[A-Za-z0-9_.@-]+", name):
        raise HarnessError("not a locale name: %r" % name)
    try:
        listed = subprocess.run(["locale", "-a"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                timeout=30).stdout.decode(errors="replace").split()
    except OSError as e:
        raise HarnessError("cannot list this machine's locales (locale -a): %s" % e.strerror)
    if _locale_key(name) not in {_locale_key(n) for n in listed}:
        raise HarnessError(
            "the locale %s is not generated on this machine (`locale -a` does not list it); "
            "generate it: on Debian, uncomment it in /etc/locale.gen and run locale-gen "
            "(scripts/lib.sh's ensure_locales does this)" % name)


def default_prefix(arch, locale=DEFAULT_LOCALE):
    """$TOVMIR_WINEPREFIX or build/wine-ARCH, with the locale's name after a dash for any
    locale but the default: each locale has a prefix of its own."""
    prefix = os.environ.get("TOVMIR_WINEPREFIX") or os.path.join(ROOT, "build", "wine-" + arch)
    if _locale_key(locale) != _locale_key(DEFAULT_LOCALE):
        prefix += "-" + locale
    return prefix


def _reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class WineSession:
    """One Wine prefix, display and set of pty-backed COM ports, held for a `with` block.

    The prefix is locked for the whole session: the port mapping lives in its
    registry, so two sessions on one prefix must not overlap.
    """

    def __init__(self, ports=(), prefix=None, desktop=None, use_display=False, devices=None,
                 arch="win32", dpi=96, locale=DEFAULT_LOCALE):
        # devices: COMn -> an existing device (a simulator's pty) to map instead of a pair
        self.devices = {k.upper(): v for k, v in (devices or {}).items()}
        self.ports = [p.upper() for p in ports] + list(self.devices)
        for p in self.ports:
            port_number(p)
        if desktop is not None and not re.fullmatch(r"[0-9]+x[0-9]+", desktop):
            raise HarnessError("desktop size must be WxH, not %r" % desktop)
        if arch not in LOADERS:
            raise HarnessError("no Wine for %r" % arch)
        self.arch = arch
        self.loader = loader(arch)
        check_locale(locale)
        self.locale = locale
        self.prefix = os.path.abspath(prefix or default_prefix(arch, locale))
        self.desktop = desktop
        if not 48 <= dpi <= 480:
            raise HarnessError("a display's dots per inch go from 48 to 480, not %r" % dpi)
        self.dpi = dpi
        self.use_display = use_display
        self.display = None
        self.env = None
        self.ansi = "ascii"    # Wine's ANSI code page as a Python codec, once asked
        self.host_ports = {}   # COMn -> device Wine found on this machine by itself
        self._tmp = None
        self._lock = None
        self._xvfb = None
        self._links = {}       # COMn -> socat Popen
        self._procs = []
        self._server_touched = False

    # --- the session -------------------------------------------------------

    def __enter__(self):
        why = why_not_runnable(self.arch)
        if why:
            bits = "32" if self.arch == "win32" else "64"
            raise HarnessError("this machine cannot run %s-bit Windows programs: %s"
                               % (bits, why))
        try:
            self._tmp = tempfile.mkdtemp(prefix="tovmir-wine-")
            self._start_display()
            self._take_lock()
            self.env = self._make_env()
            self._ensure_prefix()
            for p in self.ports:
                if p not in self.devices:
                    self._start_link(p)
            self._map_ports()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Stop everything the session started. Safe to call more than once."""
        for p in self._procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        self._procs = []
        for port in list(self._links):
            self.unplug(port)
        if self._server_touched:
            self._server("-k")
            self._server("-w")
            self._server_touched = False
        if self._xvfb:
            self._stop(self._xvfb)
            self._xvfb = None
        if self._lock:
            self._lock.close()
            self._lock = None
        if self._tmp:
            shutil.rmtree(self._tmp, ignore_errors=True)
            self._tmp = None

    # --- for tests -----------------------------------------------------------

    def far(self, port):
        """Unix path of the far end: what is written here arrives at the port."""
        return os.path.join(self._tmp, "far-" + port.upper())

    def far_win(self, port):
        return win_path(self.far(port))

    def near(self, port):
        """Unix path of the end Wine's COMn is mapped to."""
        port = port.upper()
        return self.devices.get(port) or os.path.join(self._tmp, "near-" + port)

    def link_pid(self, port):
        return self._links[port.upper()].pid

    def start(self, argv, **popen_args):
        """Start a Windows program (argv[0] a .exe path); return the Popen of wine."""
        popen_args.setdefault("env", self.env)
        p = subprocess.Popen([self.loader] + list(argv), **popen_args)
        self._procs.append(p)
        return p

    def run(self, argv, timeout=None, encoding=None, **popen_args):
        """Run a Windows program to completion; return a CompletedProcess, stdout as text
        (in the ANSI code page unless another encoding is given)."""
        # A file, not a pipe: Wine's background processes may inherit the handle and
        # keep a pipe open long after the program has gone.
        with tempfile.TemporaryFile() as out:
            p = self.start(argv, stdout=out, **popen_args)
            try:
                p.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                raise
            out.seek(0)
            return subprocess.CompletedProcess(
                p.args, p.returncode, out.read().decode(encoding or self.ansi, "replace"))

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, timeout=30)

    def unplug(self, port):
        """Kill the port's socat: reads on the port then fail, as with a pulled adapter."""
        link = self._links.pop(port.upper(), None)
        if link:
            self._stop(link)

    wait_for = staticmethod(wait_for)

    # --- set-up ----------------------------------------------------------------

    def _start_display(self):
        if self.use_display:
            self.display = os.environ.get("DISPLAY")
            if not self.display:
                raise HarnessError("--use-display given but DISPLAY is not set")
            return
        for n in range(90, 200):
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            xvfb = subprocess.Popen(
                ["Xvfb", ":%d" % n, "-nolisten", "tcp", "-screen", "0", "1280x1024x24"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_die_with_parent)
            socket = "/tmp/.X11-unix/X%d" % n

            def settled():
                # Another run may have taken the same number a moment ago: then Xvfb exits.
                if xvfb.poll() is not None:
                    return "gone"
                return os.path.exists(socket) and "up"
            if wait_for(settled, timeout=15, what="Xvfb :%d to start" % n) == "up":
                self._xvfb = xvfb
                self.display = ":%d" % n
                return
        raise HarnessError("no free X display number in :90..:199")

    def _take_lock(self):
        os.makedirs(os.path.dirname(self.prefix), exist_ok=True)
        self._lock = open(self.prefix + ".lock", "w")
        try:
            fcntl.flock(self._lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            note("waiting for another run to finish with " + self.prefix)
            fcntl.flock(self._lock, fcntl.LOCK_EX)

    def _make_env(self):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": self.prefix,
            "WINEARCH": self.arch,
            "WINELOADER": self.loader,
            "WINESERVER": WINESERVER,
            "LC_ALL": self.locale,
            "LANG": self.locale,
            "WINEDEBUG": os.environ.get("TOVMIR_WINEDEBUG", "-all"),
            # No Mono/Gecko install prompts (nothing could be downloaded), no menu entries.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "DISPLAY": self.display,
            "TOVMIR_DISPLAY": self.display,
        })
        # LANGUAGE would still choose the language of Wine's own texts.
        env.pop("LANGUAGE", None)
        for p in self.ports:
            env["TOVMIR_NEAR_" + p] = self.near(p)
            if p not in self.devices:
                env["TOVMIR_FAR_" + p] = self.far(p)
                env["TOVMIR_FAR_%s_WIN" % p] = self.far_win(p)
        return env

    def _ensure_prefix(self):
        stamp = os.path.join(self.prefix, ".tovmir-setup")
        if os.path.exists(self.prefix):
            self._server_touched = True
            self._server("-k")      # a server left behind by a killed run
            self._server("-w")
            try:
                with open(stamp) as f:
                    made = f.read().split()
            except OSError:
                made = []
            if made[:2] == [PREFIX_SETUP, self.arch] and len(made) == 3 and \
                    _locale_key(made[2]) == _locale_key(self.locale):
                return
            if made[1:] and made[1] != self.arch:
                raise HarnessError("%s is a %s prefix; a %s program needs a prefix of its own"
                                   % (self.prefix, made[1], self.arch))
            if made[2:] and _locale_key(made[2]) != _locale_key(self.locale):
                raise HarnessError("%s was made under the locale %s; a run under %s needs a "
                                   "prefix of its own" % (self.prefix, made[2], self.locale))
            looks_like_prefix = any(os.path.exists(os.path.join(self.prefix, name))
                                    for name in ("system.reg", "drive_c", "dosdevices"))
            if os.listdir(self.prefix) and not looks_like_prefix:
                raise HarnessError("%s exists and is not a Wine prefix; not touching it"
                                   % self.prefix)
            shutil.rmtree(self.prefix)
        note("creating Wine prefix %s under %s (takes about 10 s, once)"
             % (self.prefix, self.locale))
        self._server_touched = True
        self._wine([self.loader, "wineboot", "-i"], timeout=300)
        fonts = os.path.join(self.prefix, "drive_c", "windows", "Fonts")
        if os.path.exists(MARLETT) and os.path.isdir(fonts):
            shutil.copy(MARLETT, fonts)
        lines = [r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]"]
        lines += ["%s=%s" % (_reg_string(k), _reg_string(v)) for k, v in FONT_REPLACEMENTS.items()]
        lines += ["", r"[HKEY_CURRENT_USER\Software\Wine\WineDbg]",
                  '"ShowCrashDialog"=dword:00000000']
        self._import_reg(lines)
        # Read back as regedit writes it, in UTF-16: reg query's output would be in the
        # locale's code page, which may not hold the names.
        shown = self._export_reg(r"HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements")
        for name in FONT_REPLACEMENTS:
            if _reg_string(name) not in shown:
                raise HarnessError("font replacement %r did not arrive in the registry" % name)
        # The registry reaches the disk when the server stops; only then is the prefix done.
        self._server("-k")
        self._server("-w")
        with open(stamp, "w") as f:
            f.write("%s %s %s\n" % (PREFIX_SETUP, self.arch, self.locale))

    def _start_link(self, port):
        far, near = self.far(port), self.near(port)
        log = open(os.path.join(self._tmp, "socat-%s.log" % port), "w")
        with log:
            link = subprocess.Popen(
                ["socat", "pty,raw,echo=0,link=" + far, "pty,raw,echo=0,link=" + near],
                stdout=subprocess.DEVNULL, stderr=log, preexec_fn=_die_with_parent)
        self._links[port] = link

        def ready():
            if link.poll() is not None:
                with open(log.name) as f:
                    raise HarnessError("socat for %s exited (%s): %s"
                                       % (port, link.returncode, f.read().strip()))
            return os.path.exists(far) and os.path.exists(near)
        wait_for(ready, timeout=10, what="socat to make the links for " + port)
        self.env["TOVMIR_LINK_PID_" + port] = str(link.pid)

    def _map_ports(self):
        # Every other COM value is deleted, so a port not asked for is not there. (An
        # empty value is no good: Wine then makes a port that opens.)
        lines = [r"[HKEY_LOCAL_MACHINE\Software\Wine\Ports]"]
        for n in range(1, MAX_PORT + 1):
            port = "COM%d" % n
            value = _reg_string(self.near(port)) if port in self.ports else "-"
            lines.append('"%s"=%s' % (port, value))
        # A virtual desktop through the registry rather than `explorer /desktop=`:
        # explorer does not hand back the program's exit status.
        lines += ["", r"[HKEY_CURRENT_USER\Software\Wine\Explorer]"]
        lines.append('"Desktop"="tovmir"' if self.desktop else '"Desktop"=-')
        if self.desktop:
            lines += ["", r"[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]",
                      '"tovmir"="%s"' % self.desktop]
        # The display's scale (Windows' LogPixels): 96 unless a session asks for another.
        lines += ["", r"[HKEY_CURRENT_USER\Control Panel\Desktop]",
                  '"LogPixels"=dword:%08x' % self.dpi]
        self._import_reg(lines)

        # Wine makes the ports when its server starts. Links of earlier runs are not
        # removed by Wine, and a stale dosdevices/comN would still open.
        self._server("-k")
        self._server("-w")
        devices = os.path.join(self.prefix, "dosdevices")
        for name in os.listdir(devices):
            if re.fullmatch(r"com[0-9]+", name):
                os.unlink(os.path.join(devices, name))
        self._server("-p")      # stays up for the session, so each program starts quickly
        # Any program makes Wine map the ports; this one also tells the code page.
        acp = re.search(r"\bACP\s+REG_SZ\s+([0-9]+)", self._wine(
            [self.loader, "reg", "query", r"HKLM\System\CurrentControlSet\Control\Nls\CodePage",
             "/v", "ACP"]))
        if not acp:
            raise HarnessError("Wine did not tell its ANSI code page")
        try:
            self.ansi = codecs.lookup("cp" + acp.group(1)).name
        except LookupError:
            raise HarnessError("Wine's ANSI code page %s under %s is one Python cannot decode"
                               % (acp.group(1), self.locale))
        for p in self.ports:
            link = os.path.join(devices, p.lower())
            wait_for(lambda: os.path.islink(link) and os.readlink(link) == self.near(p),
                     timeout=15, what="Wine to map %s" % p)
        # Wine also hands this machine's own serial devices the lowest free numbers.
        for name in os.listdir(devices):
            if re.fullmatch(r"com[0-9]+", name) and name.upper() not in self.ports:
                self.host_ports[name.upper()] = os.readlink(os.path.join(devices, name))
        self.env["TOVMIR_HOST_PORTS"] = ",".join(sorted(self.host_ports, key=port_number))

    # --- helpers ---------------------------------------------------------------

    def _import_reg(self, lines):
        path = os.path.join(self._tmp, "settings.reg")
        text = "Windows Registry Editor Version 5.00\n\n" + "\n".join(lines) + "\n"
        with open(path, "w", encoding="utf-16", newline="\r\n") as f:
            f.write(text)
        self._wine([self.loader, "regedit", "/S", win_path(path)])

    def _export_reg(self, key):
        path = os.path.join(self._tmp, "export.reg")
        self._wine([self.loader, "regedit", "/E", win_path(path), key])
        with open(path, encoding="utf-16") as f:
            return f.read()

    def _wine(self, argv, timeout=120):
        # Files, not pipes, for the same reason as in run().
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            p = subprocess.Popen(argv, env=self.env, stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=err)
            try:
                p.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
                raise HarnessError("%s did not finish within %g s" % (" ".join(argv), timeout))
            out.seek(0)
            err.seek(0)
            if p.returncode != 0:
                raise HarnessError("%s failed (%d): %s" % (
                    " ".join(argv), p.returncode, err.read().decode(self.ansi, "replace").strip()))
            return out.read().decode(self.ansi, "replace")

    def _server(self, flag):
        # -k and -w fail harmlessly when no server runs. No pipes: the server started
        # by -p would hold them open.
        subprocess.run([WINESERVER, flag], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

    @staticmethod
    def _stop(p):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def main(argv=None):
    ap = argparse.ArgumentParser(
        description="Run a Windows program under Wine with ptys as serial ports.")
    ap.add_argument("--prefix", help="Wine prefix (default $TOVMIR_WINEPREFIX, else "
                    "build/wine-win32 or build/wine-win64 by the program; for a locale "
                    "other than %s, its name after a dash)" % DEFAULT_LOCALE)
    ap.add_argument("--locale", default=DEFAULT_LOCALE,
                    help="the locale Wine runs under (default %(default)s)")
    ap.add_argument("--ports", default="", help="comma-separated COM ports, e.g. COM1,COM12")
    ap.add_argument("--desktop", metavar="WxH", help="run inside a Wine virtual desktop")
    ap.add_argument("--dpi", type=int, default=96,
                    help="the display's dots per inch, Windows' LogPixels (default 96)")
    ap.add_argument("--use-display", action="store_true",
                    help="use $DISPLAY instead of starting Xvfb")
    ap.add_argument("--map", action="append", default=[], metavar="COMn=DEVICE",
                    help="map a COM port to an existing device instead of a new pty pair")
    ap.add_argument("--timeout", type=float, default=300,
                    help="seconds (default 300; 0 for none)")
    ap.add_argument("--can-run", choices=sorted(LOADERS),
                    help="only say whether this machine can run such programs")
    ap.add_argument("command", nargs=argparse.REMAINDER, help="-- PROGRAM.exe [ARGS...]")
    a = ap.parse_args(argv)
    if a.can_run:
        why = why_not_runnable(a.can_run)
        if why:
            note(why)
        return 1 if why else 0
    command = a.command[1:] if a.command[:1] == ["--"] else a.command
    if not command:
        ap.error("no program given")

    def stop(signum, frame):
        raise SystemExit(128 + signum)
    # Also when started with SIGINT ignored (as a background job of a script).
    signal.signal(signal.SIGINT, signal.default_int_handler)
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGHUP, stop)

    ports = [p for p in a.ports.split(",") if p]
    devices = {}
    for m in a.map:
        port, _, device = m.partition("=")
        if not device:
            ap.error("--map takes COMn=DEVICE, not %r" % m)
        devices[port] = device
    try:
        arch = program_arch(command[0])
        with WineSession(ports=ports, prefix=a.prefix, desktop=a.desktop, dpi=a.dpi,
                         use_display=a.use_display, devices=devices, arch=arch,
                         locale=a.locale) as s:
            p = s.start(command)
            try:
                return p.wait(timeout=a.timeout or None)
            except subprocess.TimeoutExpired:
                note("%s still running after %g s: killed" % (command[0], a.timeout))
                return 124
    except (HarnessError, subprocess.TimeoutExpired) as e:
        note(str(e))
        return 125
    except KeyboardInterrupt:
        return 130


if __name__ == "__main__":
    sys.exit(main())
