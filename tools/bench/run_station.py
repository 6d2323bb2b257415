#!/usr/bin/env python3
"""Benchmarks of the station: tovmir-tool monitor --json --listen on a pty this benchmark
feeds at the full rate of a 600-baud line (a byte every 1/60 s, each changing the level, so
that each is printed with the time it was decoded).

    run_station.py scrape|memory|gps|map|all [--tool build/host/tovmir-tool] [options]

scrape  the latency of scrapes of /metrics, --rate a second for --seconds, and meanwhile
        each byte's time from the pty to its decoding (the JSON line's time): no byte may
        wait on a scrape (goal: every byte within 16.7 ms, one byte's time on the line)
memory  the monitor's resident memory after one minute and after --minutes of full-rate
        traffic and a scrape a second (goal: no higher at the end)
gps     monitor's CPU time and each byte's time from the pty to its decoding, at full rate
        for --seconds, without --gps and with it (a real gpsd, fed a position a second by
        gpsfake), side by side, and their ratio
map     tovmir-tool map of a 24-hour log at one position a second, into every format: its
        time and its peak memory

Figures, not tests: printed next to their goals; exit status 1 only when a benchmark
could not run.
"""

import argparse
import datetime
import math
import http.client
import json
import os
import pty
import re
import subprocess
import sys
import threading
import time
import tty

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "gps"))
import nmea  # noqa: E402

BYTE_SECONDS = 1 / 60
GOAL_DECODE_MS = 1000 / 60


class Station:
    """monitor on a pty of ours, its JSON lines read as they come, its endpoint found."""

    def __init__(self, tool, *options):
        self.master, slave = pty.openpty()
        tty.setraw(slave)
        self.proc = subprocess.Popen([tool, "monitor", "--json", "--listen", "127.0.0.1:0"] +
                                     list(options) + [os.ttyname(slave)],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        os.close(slave)
        said = ""
        for line in self.proc.stderr:  # the port's open, gpsd's, then the endpoint
            said += line
            m = re.search(r"metrics at http://(\S+):(\d+)/metrics", line)
            if m:
                break
        if not m:
            raise SystemExit("run_station: monitor did not start: " + said)
        threading.Thread(target=self.proc.stderr.read, daemon=True).start()
        self.host, self.port = m.group(1), int(m.group(2))
        self.decoded = {}  # level byte's sequence number -> decoding time
        self.lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            event = json.loads(line)
            if event.get("event") != "byte":
                continue
            t = datetime.datetime.fromisoformat(event["time"]).timestamp()
            with self.lock:
                self.decoded.setdefault(event["byte"], []).append(t)

    def feed(self, seconds, stop=None):
        """A level byte every 1/60 s, each changing the level; their send times, in order."""
        sent = []
        start = time.monotonic()
        i = 0
        while time.monotonic() - start < seconds and not (stop and stop.is_set()):
            due = start + i * BYTE_SECONDS
            pause = due - time.monotonic()
            if pause > 0:
                time.sleep(pause)  # pacing the line, as a 600-baud line paces it
            level = i % 16
            os.write(self.master, bytes([0xC0 | level]))
            sent.append(("%02X" % (0xC0 | level), time.time()))
            i += 1
        return sent

    def count(self):
        with self.lock:
            return sum(len(times) for times in self.decoded.values())

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def rss_kib(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))

    def close(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        os.close(self.master)


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(len(values) * p / 100))] if values else float("nan")


def scraper(station, rate, stop, latencies):
    c = http.client.HTTPConnection(station.host, station.port, timeout=10)
    start = time.monotonic()
    i = 0
    while not stop.is_set():
        due = start + i / rate
        pause = due - time.monotonic()
        if pause > 0:
            time.sleep(pause)  # the scrape rate asked for
        t0 = time.perf_counter()
        c.request("GET", "/metrics")
        r = c.getresponse()
        r.read()
        latencies.append((time.perf_counter() - t0) * 1000)
        if r.status != 200:
            raise SystemExit("run_station: a scrape got %d" % r.status)
        i += 1


def decode_waits(station, sent):
    """Each sent byte's time from the pty to its decoding (its JSON line's time), in ms."""
    deadline = time.monotonic() + 2  # the last lines on their way out of the pipe
    while station.count() < len(sent) and time.monotonic() < deadline:
        time.sleep(0.01)
    # Each byte value repeats every 16 bytes: the n-th of a value sent is its n-th decoded.
    waits, seen = [], {}
    for value, t in sent:
        n = seen.get(value, 0)
        seen[value] = n + 1
        decoded = station.decoded.get(value, [])
        if n < len(decoded):
            waits.append((decoded[n] - t) * 1000)
    return waits


def bench_scrape(args):
    station = Station(args.tool)
    try:
        stop = threading.Event()
        latencies = []
        scrapes = threading.Thread(target=scraper, args=(station, args.rate, stop, latencies))
        scrapes.start()
        sent = station.feed(args.seconds)
        stop.set()
        scrapes.join()
        waits = decode_waits(station, sent)
    finally:
        station.close()
    missing = len(sent) - len(waits)
    # The line's time has milliseconds: a byte decoded in the same millisecond reads 0 to -1.
    late = sum(1 for w in waits if w > GOAL_DECODE_MS)
    print("scrapes of /metrics, %d a second for %d s: %d, latency p50 %.2f ms, p99 %.2f ms, "
          "max %.2f ms" % (args.rate, args.seconds, len(latencies), percentile(latencies, 50),
                           percentile(latencies, 99), max(latencies)))
    print("bytes at full rate meanwhile: %d sent, %d decoded; pty to decoding p50 %.1f ms, "
          "p99 %.1f ms, max %.1f ms; over %.1f ms: %d (goal 0)%s"
          % (len(sent), len(waits), percentile(waits, 50), percentile(waits, 99), max(waits),
             GOAL_DECODE_MS, late, "; not decoded: %d" % missing if missing else ""))
    return {"scrape_p50_ms": percentile(latencies, 50), "scrape_p99_ms": percentile(latencies, 99),
            "decode_max_ms": max(waits), "late": late}


def bench_memory(args):
    station = Station(args.tool)
    stop = threading.Event()
    latencies = []
    scrapes = threading.Thread(target=scraper, args=(station, 1, stop, latencies))
    scrapes.start()
    try:
        station.feed(60)
        after_minute = station.rss_kib()
        station.feed(args.minutes * 60 - 60)
        at_end = station.rss_kib()
    finally:
        stop.set()
        scrapes.join()
        station.close()
    print("resident memory of monitor at full rate and a scrape a second: after 1 min %d KiB, "
          "after %d min %d KiB (goal: no higher)" % (after_minute, args.minutes, at_end))
    return {"rss_minute_kib": after_minute, "rss_end_kib": at_end}


def gpsfake(seconds, port):
    """gpsfake on port, a position a second for seconds (a walk north), once gpsd listens."""
    start = datetime.datetime(2026, 12, 9, 10, 0, 0)
    path = os.path.join(os.environ.get("TMPDIR", "/tmp"), "tovmir-bench-%d.nmea" % os.getpid())
    with open(path, "w") as f:
        f.write(nmea.log(start, [None] * 5 + [(35.68 + i * 0.00001, 139.76, 40.0)
                                              for i in range(seconds + 10)]))
    p = subprocess.Popen(["gpsfake", "-q", "-1", "-P", str(port), "-c", "0.5", path],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    hex_port = ":%04X " % port
    while not any(hex_port in open(t).read() for t in ("/proc/net/tcp", "/proc/net/tcp6")):
        if p.poll() is not None:
            raise SystemExit("run_station: gpsfake did not start")
        time.sleep(0.05)
    return p, path


def bench_gps(args):
    import socket
    figures = {}
    for with_gps in (False, True):
        options, feeder = [], None
        if with_gps:
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                port = s.getsockname()[1]
            feeder, path = gpsfake(args.seconds, port)
            options = ["--gps=127.0.0.1:%d" % port]
        station = Station(args.tool, *options)
        try:
            before = station.cpu_seconds()
            sent = station.feed(args.seconds)
            cpu = station.cpu_seconds() - before
            waits = decode_waits(station, sent)
        finally:
            station.close()
            if feeder:
                feeder.send_signal(2)  # SIGINT: it ends its gpsd
                feeder.wait()
                os.unlink(path)
        name = "with --gps" if with_gps else "without --gps"
        figures[with_gps] = (cpu / args.seconds * 100, percentile(waits, 50),
                             percentile(waits, 99))
        print("monitor %s, a byte every 1/60 s for %d s: CPU %.2f %% of a core; pty to "
              "decoding p50 %.1f ms, p99 %.1f ms" % ((name, args.seconds) + figures[with_gps]))
    off, on = figures[False], figures[True]
    print("with --gps / without: CPU %.2f x; p99 %+.1f ms"
          % (on[0] / off[0] if off[0] else float("nan"), on[2] - off[2]))
    return figures


def bench_map(args):
    """A log of 24 hours, a position a second (a walk round and round), and a byte's line
    now and then, drawn into every format."""
    path = os.path.join(os.environ.get("TMPDIR", "/tmp"), "tovmir-bench-%d" % os.getpid())
    start = datetime.datetime(2026, 12, 9, 0, 0, 0, tzinfo=datetime.timezone.utc)
    with open(path + ".jsonl", "w") as f:
        for i in range(24 * 3600):
            level = int(8 + 7 * math.sin(i / 300))
            a = i / 600
            f.write('{"time":"%s","elapsed":%d.000,"port":"/dev/ttyUSB0","event":"%s",'
                    '"level":%d,"antenna":"filled","net":"1234","receiving":true,"start":true,'
                    '"status":"x","redraws":0,"fix":"3d","lat":%.7f,"lon":%.7f,"alt":40.0,'
                    '"error":3.0,"fix_age":0.200,"gps_time":"%s"}\n'
                    % ((start + datetime.timedelta(seconds=i)).isoformat(timespec="milliseconds"),
                       i, "byte" if i % 7 == 0 else "position", level,
                       35.68 + 0.002 * math.sin(a), 139.76 + 0.002 * math.cos(a),
                       (start + datetime.timedelta(seconds=i)).strftime("%Y-%m-%dT%H:%M:%S.000Z")))
    argv = [args.tool, "map", path + ".jsonl"]
    for kind in ("geojson", "gpx", "kml", "csv", "png"):
        argv += ["--" + kind, path + "." + kind]
    t0 = time.monotonic()
    p = subprocess.Popen(argv)
    _, status, usage = os.wait4(p.pid, 0)
    took = time.monotonic() - t0
    sizes = {kind: os.path.getsize(path + "." + kind) for kind in ("jsonl", "geojson", "png")}
    for kind in ("jsonl", "geojson", "gpx", "kml", "csv", "png"):
        os.unlink(path + "." + kind)
    if status:
        raise SystemExit("run_station: map failed")
    print("map of a 24-hour log, a position a second (%d lines, %.0f MB) into GeoJSON, GPX, "
          "KML, CSV and PNG: %.1f s, peak memory %.0f MiB"
          % (24 * 3600, sizes["jsonl"] / 1e6, took, usage.ru_maxrss / 1024))
    return {"map_seconds": took, "map_peak_mib": usage.ru_maxrss / 1024}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("bench", choices=["scrape", "memory", "gps", "map", "all"])
    ap.add_argument("--tool", default=os.path.join(ROOT, "build", "host", "tovmir-tool"))
    ap.add_argument("--rate", type=int, default=100, help="scrapes a second (scrape)")
    ap.add_argument("--seconds", type=int, default=60, help="how long (scrape, gps)")
    ap.add_argument("--minutes", type=int, default=60, help="how long (memory), at least 2")
    args = ap.parse_args()
    if not os.access(args.tool, os.X_OK):
        sys.exit("run_station: no %s (build the host preset first)" % args.tool)
    if args.bench in ("scrape", "all"):
        bench_scrape(args)
    if args.bench in ("memory", "all"):
        bench_memory(args)
    if args.bench in ("gps", "all"):
        bench_gps(args)
    if args.bench in ("map", "all"):
        bench_map(args)


if __name__ == "__main__":
    main()
