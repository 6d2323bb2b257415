#!/usr/bin/env python3
"""Benchmarks of the real tovmir.exe under Wine, measured from outside the program.

    run.py latency|cpu|memory|gdi|all [--exe build/win32/tovmir.exe] [options]

The program may be the 32-bit or the 64-bit build; the Wine that runs it is chosen by its
PE header, as the test harness does, and named in the figures.

latency  byte written into the pty -> XDamage event on the meter's X window
cpu      % of one core over silence (the sweep) and over full-rate 600-baud traffic
memory   peak and current memory of the program's process; the size of tovmir.exe
gdi      GDI and USER objects and memory before and after 10,000 forced repaints

They print figures next to their goals; they are not tests and never fail on a figure.
Exit status 1 means a benchmark could not run. See README.md beside this file.
"""

import argparse
import math
import os
import queue
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "wine"))
from harness import HarnessError, WineSession, loader, program_arch  # noqa: E402

TITLE = "アンテナ"          # the meter window's caption
PORT = "COM1"
BYTE_S = 10 / 600           # 600 baud 8N1: ten bits a byte, 16.7 ms
CLK_TCK = os.sysconf("SC_CLK_TCK")

GOAL_LATENCY_MS = 1000 * BYTE_S
GOAL_CPU_PERCENT = 1.0
GOAL_EXE_BYTES = 128 * 1024


class BenchError(Exception):
    pass


# --- the X side: damage on the meter's window ------------------------------------------

def build_damage_watch(workdir):
    src = os.path.join(HERE, "xdamage_watch.cpp")
    out = os.path.join(workdir, "xdamage_watch")
    cxx = os.environ.get("CXX", "c++")
    r = subprocess.run([cxx, "-O2", "-o", out, src, "-lXdamage", "-lX11"],
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise BenchError("cannot build xdamage_watch (needs libx11-dev and libxdamage-dev; "
                         "scripts/bench.sh installs them):\n" + r.stderr.strip())
    return out


class DamageWatch:
    """xdamage_watch on the meter's window; its events arrive in a queue as (ns, rect)."""

    def __init__(self, program, env, timeout=60):
        self.p = subprocess.Popen([program, TITLE, str(timeout)], env=env, text=True,
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        first = self.p.stdout.readline().split()
        if not first or first[0] != "window":
            self.close()
            raise BenchError("the meter's window did not appear")
        self.window, self.size = first[1], (int(first[2]), int(first[3]))
        self.events = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.p.stdout:
            f = line.split()
            if f and f[0] == "damage":
                self.events.put((int(f[1]), tuple(map(int, f[2:6]))))

    def next_after(self, t_ns, timeout):
        """The first damage event read after t_ns, or None after timeout seconds."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                ev = self.events.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                return None
            if ev[0] > t_ns:
                return ev

    def wait_for_sweep(self):
        """Returns once the silence sweep runs: two damages about 500 ms apart, no bytes."""
        last = None
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            ev = self.next_after(0, timeout=deadline - time.monotonic())
            if ev is None:
                break
            if last is not None and 0.4e9 < ev[0] - last < 0.6e9:
                return
            last = ev[0]
        raise BenchError("the meter did not start sweeping in silence")

    def count(self):
        """Events arrived since the last call."""
        n = 0
        while True:
            try:
                self.events.get_nowait()
            except queue.Empty:
                return n
            n += 1

    def close(self):
        if self.p.poll() is None:
            self.p.stdin.close()
            try:
                self.p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.p.kill()
                self.p.wait()


# --- the program under Wine ------------------------------------------------------------

class Meter:
    """tovmir.exe on a pty-backed COM1, with its window found and watched for damage."""

    def __init__(self, args, watch_program):
        self.args = args
        self.watch_program = watch_program

    def __enter__(self):
        a = self.args
        self.session = WineSession(ports=[PORT], prefix=a.prefix, arch=a.arch).__enter__()
        try:
            self.proc = self.session.start([a.exe, PORT])
            self.watch = DamageWatch(self.watch_program, self.session.env)
            self.fd = os.open(self.session.far(PORT), os.O_WRONLY | os.O_NOCTTY)
        except BaseException:
            self.session.close()
            raise
        return self

    def __exit__(self, *exc):
        self.watch.close()
        os.close(self.fd)
        self.session.close()

    def send(self, data):
        os.write(self.fd, bytes(data))

    def wine_pids(self):
        """Processes of this session's Wine prefix: {pid: name}."""
        want = ("WINEPREFIX=" + self.session.prefix).encode()
        found = {}
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if want not in f.read().split(b"\0"):
                        continue
                with open("/proc/%s/comm" % pid) as f:
                    found[int(pid)] = f.read().strip()
            except OSError:
                pass
        return found

    def xvfb_pid(self):
        want = ["Xvfb", self.session.display]
        for pid in os.listdir("/proc"):
            if pid.isdigit():
                try:
                    with open("/proc/%s/cmdline" % pid, "rb") as f:
                        argv = f.read().decode(errors="replace").split("\0")
                except OSError:
                    continue
                if [os.path.basename(argv[0])] + argv[1:2] == want:
                    return int(pid)
        return None

    def helper(self, *argv, timeout=600):
        helper = self.args.helper
        if not os.path.exists(helper):
            raise BenchError("no %s: build the %s preset" % (helper, self.args.arch))
        r = self.session.run([helper] + [str(x) for x in argv], timeout=timeout)
        if r.returncode != 0:
            raise BenchError("bench_win %s failed (%d):\n%s" % (argv[0], r.returncode, r.stdout))
        return r.stdout.splitlines()

    def wait_for_sweep(self):
        self.watch.wait_for_sweep()


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])   # utime + stime, all threads


def proc_status(pid):
    out = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            if value.strip().endswith("kB"):
                out[key] = int(value.split()[0])
    return out


# --- output ----------------------------------------------------------------------------

def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "CPU model unknown"


def header(what):
    print("\n== %s" % what)
    print("   machine: %d cores (%s), load average %.2f (before the run)"
          % (os.cpu_count(), cpu_model(), os.getloadavg()[0]))


def verdict(ok):
    return "met" if ok else "NOT met"


def percentile(values, p):
    s = sorted(values)
    return s[max(0, math.ceil(p / 100 * len(s)) - 1)]


def kib(n_kib):
    return "%.1f MiB" % (n_kib / 1024) if n_kib >= 10240 else "%d KiB" % n_kib


# --- the traffic mix ---------------------------------------------------------------------

def traffic(seconds, seed=1):
    """A handset at full rate: a start byte, then per second one network-number group, a
    level byte every sixth byte (the level moving now and then), the antenna byte every
    twelfth (flipping every ten seconds) and bytes the meter ignores in between. Yields
    (byte, kind)."""
    rnd = random.Random(seed)
    level, filled = 9, True
    filler = [0x90, 0xB2, 0xE1, 0x3C, 0x7F, 0xF0]
    yield 0xA3, "start"
    for i in range(int(seconds / BYTE_S) - 1):
        slot = i % 60
        if slot < 5:
            yield ([0xAD, 0x01, 0x02, 0x03, 0x04][slot], "group" if slot == 4 else "digit")
        elif slot % 6 == 5:
            if rnd.random() < 0.1:
                level = min(15, max(0, level + rnd.choice((-1, 1))))
            yield 0xC0 | level, "level"
        elif slot % 12 == 8:
            if i % 600 == 8:
                filled = not filled
            yield (0x80 if filled else 0x81), "antenna"
        else:
            yield rnd.choice(filler), "other"


def send_paced(meter, stream, stop=None):
    """Writes the stream at the line's rate, one byte each 1/60 s on a fixed schedule.
    Returns counts of the kinds sent and of the visible changes among them."""
    counts = {}
    last = {}
    start = time.monotonic()
    for i, (b, kind) in enumerate(stream):
        if stop is not None and stop.is_set():
            break
        delay = start + i * BYTE_S - time.monotonic()
        if delay > 0:
            time.sleep(delay)   # the line's pace, not a wait for the program
        meter.send([b])
        counts[kind] = counts.get(kind, 0) + 1
        if kind in ("level", "antenna"):
            if last.get(kind, b) != b:
                counts[kind + " changes"] = counts.get(kind + " changes", 0) + 1
            last[kind] = b
    return counts


# --- the benchmarks ----------------------------------------------------------------------

def bench_latency(args, watch_program):
    header("latency: level byte written into the pty -> XDamage event on the meter's X window")
    n, warmup = args.count, 10
    # 7 is prime to 16: consecutive levels always differ, and every level comes round.
    levels = [(7 * i) % 16 for i in range(warmup + n)]
    rnd = random.Random(2)
    first, last, per_change, missed = [], [], [], 0
    with args.make_meter(args, watch_program) as m:
        print("   window %s, %dx%d" % (m.watch.window, *m.watch.size))
        for i, level in enumerate(levels):
            # A random phase against the program's own timers, as a handset's bytes have.
            time.sleep(rnd.uniform(0, BYTE_S))
            t = time.monotonic_ns()
            m.send([0xC0 | level])
            ev = m.watch.next_after(t, timeout=1.0)
            if ev is None:
                missed += i >= warmup
                continue
            # Further damage of the same change: a repaint that has drawn nothing for 50 ms
            # (Wine's longest wait before it pushes drawing out) is taken as finished.
            events, end = 1, ev[0]
            while (more := m.watch.next_after(end, timeout=0.05)) is not None:
                events, end = events + 1, more[0]
            if i >= warmup:
                first.append((ev[0] - t) / 1e6)
                last.append((end - t) / 1e6)
                per_change.append(events)
        # The control: bytes that leave the level as it is must bring no damage, or the
        # figures above would not be the program's repaints.
        stray = 0
        for _ in range(10):
            t = time.monotonic_ns()
            m.send([0xC0 | levels[-1]])
            stray += m.watch.next_after(t, timeout=0.1) is not None
    if not first:
        raise BenchError("no level change reached the screen")
    print("   %d level changes measured (after %d unmeasured), %d missed (no damage within 1 s)"
          % (len(first), warmup, missed))
    print("   each written when the previous change had reached the screen")
    for name, v in (("first damage", first), ("last damage", last)):
        print("   %-13s p50 %6.2f ms   p99 %6.2f ms   max %6.2f ms   mean %6.2f ms"
              % (name, percentile(v, 50), percentile(v, 99), max(v), sum(v) / len(v)))
    print("   damage events per change: min %d, max %d" % (min(per_change), max(per_change)))
    print("   control: 10 level bytes repeating the level shown -> %d damaged the window "
          "(0 expected)" % stray)
    p99 = percentile(last, 99)
    print("   goal: p99 < %.1f ms (one byte time) -> %s (last damage p99 %.2f ms)"
          % (GOAL_LATENCY_MS, verdict(p99 < GOAL_LATENCY_MS), p99))
    return [("byte-to-screen latency p50", "%.2f ms" % percentile(last, 50), "", ""),
            ("byte-to-screen latency p99", "%.2f ms" % p99, "< %.1f ms" % GOAL_LATENCY_MS,
             verdict(p99 < GOAL_LATENCY_MS))]


def measure_cpu(m, during):
    """CPU time of the session's processes while during() runs."""
    pids = m.wine_pids()
    xvfb = m.xvfb_pid()
    watched = list(pids) + ([xvfb] if xvfb else [])
    before = {p: cpu_ticks(p) for p in watched}
    m.watch.count()
    t0 = time.monotonic()
    extra = during()
    wall = time.monotonic() - t0
    used = {p: cpu_ticks(p) - before[p] for p in watched}
    damages = m.watch.count()

    def pct(ps):
        return 100.0 * sum(used[p] for p in ps) / CLK_TCK / wall
    program = [m.proc.pid]
    server = [p for p, name in pids.items() if name.startswith("wineserver")]
    others = [p for p in pids if p not in program and p not in server]
    return {"wall": wall, "program": pct(program), "server": pct(server),
            "others": pct(others), "n_others": len(others),
            "xvfb": pct([xvfb]) if xvfb else None, "damages": damages, "extra": extra}


def print_cpu(title, r):
    both = r["program"] + r["server"]
    print("   %s, %.1f s:" % (title, r["wall"]))
    print("     tovmir.exe (its Wine process, all threads)  %6.3f %%" % r["program"])
    print("     wineserver (serves its calls)               %6.3f %%" % r["server"])
    print("     counted: program + wineserver               %6.3f %%   goal < %g %% -> %s"
          % (both, GOAL_CPU_PERCENT, verdict(both < GOAL_CPU_PERCENT)))
    print("     not counted: %d other Wine processes %.3f %%, Xvfb %s"
          % (r["n_others"], r["others"],
             "%.3f %%" % r["xvfb"] if r["xvfb"] is not None else "not found"))
    print("     XDamage events on the window: %d (%.1f a second)"
          % (r["damages"], r["damages"] / r["wall"]))
    return both


def bench_cpu(args, watch_program):
    header("cpu: utime+stime from /proc/PID/stat, as % of one core")
    secs = args.seconds
    with Meter(args, watch_program) as m:
        m.wait_for_sweep()
        silent = measure_cpu(m, lambda: time.sleep(secs))  # the measurement's length
        s = print_cpu("silence (the meter sweeping)", silent)
        busy = measure_cpu(m, lambda: send_paced(m, traffic(secs)))
        sent = busy["extra"]
        b = print_cpu("full-rate traffic, one byte each 1/60 s", busy)
        print("     sent: %s" % ", ".join("%s %d" % kv for kv in sorted(sent.items())))
    return [("CPU, %g s silence (program + wineserver)" % secs, "%.3f %%" % s,
             "< %g %%" % GOAL_CPU_PERCENT, verdict(s < GOAL_CPU_PERCENT)),
            ("CPU, %g s full-rate traffic (program + wineserver)" % secs, "%.3f %%" % b,
             "< %g %%" % GOAL_CPU_PERCENT, verdict(b < GOAL_CPU_PERCENT))]


def parse_helper(lines):
    """bench_win's "phase key value key value ..." lines -> {phase: {key: value}}."""
    out = {}
    for line in lines:
        f = line.split()
        if len(f) >= 3:
            d = out.setdefault(f[0], {})
            for k, v in zip(f[1::2], f[2::2]):
                d[k] = v
    return out


def bench_memory(args, watch_program):
    header("memory: the program's process after start-up, 10 s of traffic, repaints and resizes")
    with Meter(args, watch_program) as m:
        send_paced(m, traffic(10))
        m.helper("gdi", 10, 5)   # a few repaints and two resizes, so painting has happened
        st = proc_status(m.proc.pid)
        win = parse_helper(m.helper("memory")).get("now", {})
    size = os.path.getsize(args.exe)
    print("   Linux, /proc/PID/status of the Wine process running tovmir.exe:")
    print("     VmHWM (peak resident)   %s" % kib(st["VmHWM"]))
    print("     VmRSS (resident now)    %s, of it RssAnon %s (private), RssFile %s (mapped "
          "files: Wine's DLLs, shared)" % (kib(st["VmRSS"]), kib(st["RssAnon"]),
                                           kib(st["RssFile"])))
    print("     VmSize (address space)  %s" % kib(st["VmSize"]))
    print("   Windows, GetProcessMemoryInfo from another process (Wine fills it from /proc):")
    for key in ("PeakWorkingSetSize", "WorkingSetSize", "PagefileUsage", "PrivateUsage"):
        print("     %-19s %s" % (key, kib(int(win.get(key, 0)) // 1024)))
    if int(win.get("PrivateUsage", 0)) == 0:
        print("     (PrivateUsage: Wine gives 0 for another process; PagefileUsage is its "
              "private figure)")
    print("   tovmir.exe: %d bytes (%.1f KiB)   goal < 128 KiB -> %s"
          % (size, size / 1024, verdict(size < GOAL_EXE_BYTES)))
    return [("peak memory, VmHWM", kib(st["VmHWM"]), "", ""),
            ("private memory, RssAnon", kib(st["RssAnon"]), "", ""),
            ("tovmir.exe size", "%.1f KiB" % (size / 1024), "< 128 KiB",
             verdict(size < GOAL_EXE_BYTES))]


def bench_gdi(args, watch_program):
    n = args.repaints
    header("gdi: objects and memory of the program before and after %d forced repaints" % n)
    stop = threading.Event()
    with Meter(args, watch_program) as m:
        # Bytes the meter ignores, at the line's rate, keep the silence sweep from painting
        # while a count is read: the only repaints are then the helper's.
        keep = threading.Thread(target=send_paced,
                                args=(m, ((0x90, "other") for _ in iter(int, 1)), stop))
        keep.start()
        try:
            out = m.helper("gdi", n, 100)
        finally:
            stop.set()
            keep.join()
    r = parse_helper(out)
    checks = {line.split()[1]: line.split()[2] for line in out if line.startswith("check ")}
    rep = r.get("result", {})
    print("   %s repaints by RedrawWindow(RDW_INVALIDATE|RDW_ERASE|RDW_UPDATENOW) from another "
          "process, a resize before every 100th" % rep.get("repaints", "?"))
    print("   %s of them confirmed painted (no update region left), in %s s, slowest %s ms"
          % (rep.get("confirmed", "?"), rep.get("seconds", "?"), rep.get("worst_ms", "?")))
    print("   how the objects were counted (each method tried first on objects bench_win "
          "makes and frees itself):")
    for line in out:
        if line.startswith("check "):
            print("     " + line[6:])
    b, a = r["before"], r["after"]
    rows = []
    table_ok = checks.get("gdi_table") == "counts" and b.get("gdi_table") == "read"
    gui_ok = checks.get("GetGuiResources_GDI") == "counts"
    if gui_ok:
        rows.append(("GDI objects (GetGuiResources)", b["GetGuiResources_GDI"],
                     a["GetGuiResources_GDI"]))
    if table_ok:
        for key in ("total", "dc", "brush", "pen", "font", "bitmap", "region", "other"):
            rows.append(("GDI objects, handle table: " + key, b[key], a[key]))
    if checks.get("GetGuiResources_USER") == "counts":
        rows.append(("USER objects (GetGuiResources)", b["GetGuiResources_USER"],
                     a["GetGuiResources_USER"]))
    if checks.get("windows") == "counts":
        rows.append(("windows of the process", b["windows"], a["windows"]))
    print("   %-38s %10s %10s %8s" % ("", "before", "after", "change"))
    for name, x, y in rows:
        print("   %-38s %10s %10s %+8d" % (name, x, y, int(y) - int(x)))
    for key, name in (("WorkingSetSize", "resident (VmRSS)"),
                      ("PagefileUsage", "private (RssAnon+VmSwap)")):
        x, y = int(b[key]) // 1024, int(a[key]) // 1024
        print("   %-38s %6d KiB %6d KiB %+5d KiB" % ("memory, " + name, x, y, y - x))
    if not gui_ok:
        print("   GetGuiResources is a stub under this Wine (it counted none of the objects "
              "made); the GDI figures are from the handle table, the USER figures are the "
              "process's windows only (menus, icons and cursors are not counted)")
    gdi_change = int(a["total"]) - int(b["total"]) if table_ok else None
    win_change = int(a["windows"]) - int(b["windows"])
    mem_change = (int(a["PagefileUsage"]) - int(b["PagefileUsage"])) // 1024
    if gdi_change is None:
        print("   GDI objects could not be counted: no goal judged")
    else:
        print("   goal: GDI and USER objects unchanged -> %s"
              % verdict(gdi_change == 0 and win_change == 0))
    return [("GDI objects across %d repaints" % n,
             "%s -> %s" % (b["total"], a["total"]) if table_ok else "not countable",
             "unchanged", verdict(gdi_change == 0) if table_ok else "?"),
            ("USER: windows across %d repaints" % n, "%s -> %s" % (b["windows"], a["windows"]),
             "unchanged", verdict(win_change == 0)),
            ("private memory across %d repaints" % n, "%+d KiB" % mem_change, "no growth",
             verdict(mem_change <= 0))]


BENCHES = {"latency": bench_latency, "cpu": bench_cpu, "memory": bench_memory,
           "gdi": bench_gdi}


def wine_version(arch):
    try:
        out = subprocess.run([loader(arch), "--version"], capture_output=True, text=True,
                             timeout=60).stdout.strip()
    except (OSError, subprocess.TimeoutExpired) as e:
        out = "no Wine (%s)" % e
    return "%s (%s)" % (out, os.path.basename(loader(arch)))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("bench", choices=list(BENCHES) + ["all"])
    ap.add_argument("--exe", default=os.path.join(ROOT, "build", "win32", "tovmir.exe"),
                    help="the program (default build/win32/tovmir.exe)")
    ap.add_argument("--helper", help="bench_win.exe (default tools/bench/bench_win.exe beside the "
                    "program's build folder)")
    ap.add_argument("--prefix", help="Wine prefix (default $TOVMIR_WINEPREFIX, else the "
                    "wine-prefix beside the program, the one ctest uses)")
    ap.add_argument("--count", type=int, default=500, help="latency: level changes (500)")
    ap.add_argument("--seconds", type=float, default=60, help="cpu: seconds each (60)")
    ap.add_argument("--repaints", type=int, default=10000, help="gdi: repaints (10000)")
    a = ap.parse_args(argv)
    a.make_meter = Meter
    a.exe = os.path.abspath(a.exe)
    build = os.path.dirname(a.exe)
    a.helper = os.path.abspath(a.helper or os.path.join(build, "tools", "bench", "bench_win.exe"))
    a.prefix = a.prefix or os.environ.get("TOVMIR_WINEPREFIX") or os.path.join(build,
                                                                               "wine-prefix")
    if not os.path.exists(a.exe):
        ap.error("no %s: build its preset first" % a.exe)
    try:
        a.arch = program_arch(a.exe)
    except HarnessError as e:
        ap.error(str(e))
    a.wine = "%s-bit program, %s" % ("32" if a.arch == "win32" else "64", wine_version(a.arch))

    return run_benches(BENCHES, a, "%s: %s" % (os.path.relpath(a.exe), a.wine))


def run_benches(benches, args, what):
    """Runs args.bench (or all of benches) and prints their figures as a Markdown table
    headed by what. Returns the exit status."""
    workdir = tempfile.mkdtemp(prefix="tovmir-bench-")
    rows = []
    try:
        watch_program = build_damage_watch(workdir)
        for name in (benches if args.bench == "all" else [args.bench]):
            rows += benches[name](args, watch_program)
    except (BenchError, HarnessError, subprocess.TimeoutExpired) as e:
        print("bench: %s" % e, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    print("\n== summary (%s, %s)" % (what, time.strftime("%Y-%m-%d")))
    print("| Figure | Measured | Goal | |")
    print("|---|---|---|---|")
    for row in rows:
        print("| %s | %s | %s | %s |" % row)
    return 0


if __name__ == "__main__":
    sys.exit(main())
