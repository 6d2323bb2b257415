#!/usr/bin/env python3
"""Benchmarks of the Linux meter window (build/host/linux/tovmir), measured from outside the
program, the way run.py measures the Windows program under Wine.

    run_linux.py latency|cpu|memory|all [--tovmir build/host/linux/tovmir] [options]

latency  byte written into the pty -> XDamage event on the meter's X window
cpu      % of one core over silence (the sweep) and over full-rate 600-baud traffic
memory   peak and current memory of the program's process

The window runs on an Xvfb of its own with GTK's cairo renderer (GSK_RENDERER=cairo), on a
pty the benchmark feeds. Figures are printed next to their goals; they are not tests.
Exit status 1 means a benchmark could not run.
"""

import argparse
import os
import pty
import subprocess
import sys
import time
import tty

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
from run import (BenchError, CLK_TCK, DamageWatch, bench_latency, cpu_ticks, header,  # noqa: E402
                 kib, proc_status, run_benches, send_paced, traffic, verdict)

GOAL_LATENCY_MS = 5.0
GOAL_CPU_PERCENT = 0.5


class NativeMeter:
    """The Linux meter on a pty of ours, on an Xvfb of its own, its window watched for damage."""

    def __init__(self, args, watch_program):
        self.args = args
        self.watch_program = watch_program

    def __enter__(self):
        self.xvfb = None
        self.proc = None
        self.watch = None
        try:
            for n in range(120, 160):
                if not os.path.exists("/tmp/.X11-unix/X%d" % n):
                    break
            self.display = ":%d" % n
            self.xvfb = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1024x768x24",
                                          "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while not os.path.exists("/tmp/.X11-unix/X%d" % n):
                if time.monotonic() > deadline:
                    raise BenchError("Xvfb did not start")
                time.sleep(0.05)
            self.master, self.slave = pty.openpty()
            tty.setraw(self.slave)
            env = dict(os.environ, DISPLAY=self.display, GSK_RENDERER="cairo", GTK_A11Y="none",
                       NO_AT_BRIDGE="1", LANG="C.UTF-8", LC_ALL="C.UTF-8")
            self.proc = subprocess.Popen([self.args.tovmir, os.ttyname(self.slave)], env=env,
                                         stderr=subprocess.DEVNULL)
            self.watch = DamageWatch(self.watch_program, env)
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        if self.watch:
            self.watch.close()
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait()
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()
        for fd in ("master", "slave"):
            if hasattr(self, fd):
                os.close(getattr(self, fd))
                delattr(self, fd)

    def send(self, data):
        os.write(self.master, bytes(data))



def bench_cpu(args, watch_program):
    header("cpu: utime+stime from /proc/PID/stat of the tovmir process, as % of one core")
    rows = []
    with NativeMeter(args, watch_program) as m:
        # The sweep starts two seconds after the first byte, as after every silence.
        m.send([0xA3])
        m.watch.wait_for_sweep()
        for title, during in (("silence (the meter sweeping)", lambda: time.sleep(args.seconds)),
                              ("full-rate traffic, one byte each 1/60 s",
                               lambda: send_paced(m, traffic(args.seconds)))):
            before, xvfb_before = cpu_ticks(m.proc.pid), cpu_ticks(m.xvfb.pid)
            m.watch.count()
            t0 = time.monotonic()
            during()
            wall = time.monotonic() - t0
            pct = 100.0 * (cpu_ticks(m.proc.pid) - before) / CLK_TCK / wall
            xvfb = 100.0 * (cpu_ticks(m.xvfb.pid) - xvfb_before) / CLK_TCK / wall
            damages = m.watch.count()
            print("   %s, %.1f s:" % (title, wall))
            print("     tovmir (all threads)   %6.3f %%   goal < %g %% -> %s"
                  % (pct, GOAL_CPU_PERCENT, verdict(pct < GOAL_CPU_PERCENT)))
            print("     not counted: Xvfb %.3f %%; XDamage events %d (%.1f a second)"
                  % (xvfb, damages, damages / wall))
            rows.append(("CPU, %g s %s" % (args.seconds, title.split(",")[0].split(" (")[0]),
                         "%.3f %%" % pct, "< %g %%" % GOAL_CPU_PERCENT,
                         verdict(pct < GOAL_CPU_PERCENT)))
    return rows


def bench_memory(args, watch_program):
    header("memory: the program's process after start-up and 10 s of traffic")
    with NativeMeter(args, watch_program) as m:
        send_paced(m, traffic(10))
        st = proc_status(m.proc.pid)
    print("   /proc/PID/status of tovmir:")
    print("     VmHWM (peak resident)   %s" % kib(st["VmHWM"]))
    print("     VmRSS (resident now)    %s, of it RssAnon %s (private), RssFile %s (mapped "
          "files: GTK and its libraries, shared)" % (kib(st["VmRSS"]), kib(st["RssAnon"]),
                                                    kib(st["RssFile"])))
    return [("peak memory, VmHWM", kib(st["VmHWM"]), "", ""),
            ("private memory, RssAnon", kib(st["RssAnon"]), "", "")]


def latency(args, watch_program):
    rows = bench_latency(args, watch_program)
    # run.py judges against a byte's time; this window's goal is tighter.
    p99 = float(rows[1][1].split()[0])
    print("   goal for the Linux window: p99 < %.1f ms -> %s" % (GOAL_LATENCY_MS,
                                                                  verdict(p99 < GOAL_LATENCY_MS)))
    return [rows[0], (rows[1][0], rows[1][1], "< %.1f ms" % GOAL_LATENCY_MS,
                      verdict(p99 < GOAL_LATENCY_MS))]


BENCHES = {"latency": latency, "cpu": bench_cpu, "memory": bench_memory}


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("bench", choices=list(BENCHES) + ["all"])
    ap.add_argument("--tovmir", default=os.path.join(ROOT, "build", "host", "linux", "tovmir"),
                    help="the program (default build/host/linux/tovmir)")
    ap.add_argument("--count", type=int, default=500, help="latency: level changes (500)")
    ap.add_argument("--seconds", type=float, default=60, help="cpu: seconds each (60)")
    a = ap.parse_args(argv)
    a.tovmir = os.path.abspath(a.tovmir)
    a.make_meter = NativeMeter
    if not os.path.exists(a.tovmir):
        ap.error("no %s: build the host preset first" % a.tovmir)
    return run_benches(BENCHES, a, "%s, GTK 4 with the cairo renderer" % os.path.relpath(a.tovmir))


if __name__ == "__main__":
    sys.exit(main())
