#!/usr/bin/env python3
"""The unattended station as its users run it: tovmir-tool monitor with --listen and --log,
fed by the simulator through a socat link (two ptys joined, whose going and coming back is
an adapter pulled out and put back), scraped once a second by a real Prometheus server
(Debian's), and its endpoint, its log and its metrics looked at from outside.

    test_station.py --tool build/host/tovmir-tool --version VERSION

Every program the tests start is their own, on the loopback address and in a temporary
folder; they wait for conditions (a line said, a file there, Prometheus' answer), never a
fixed time.
"""

import argparse
import datetime
import http.client
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from waits import WAIT, bound, wait_for  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "gps"))
import nmea  # noqa: E402

OPTS = None


def read(path):
    with open(path) as f:
        return f.read()


def listens(port):
    """Whether a socket listens on the TCP port (found without connecting to it)."""
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as f:
            for row in f.read().splitlines()[1:]:
                local, state = row.split()[1], row.split()[3]
                if state == "0A" and int(local.rsplit(":", 1)[1], 16) == port:
                    return True
    return False


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Lines:
    """A child's output, line by line, kept as it comes."""

    def __init__(self, child, stream):
        self.lines = []
        self.taken = 0
        self.lock = threading.Lock()
        reader = threading.Thread(target=self._read, args=(stream,), daemon=True)
        child.readers.append(reader)
        reader.start()

    def _read(self, stream):
        for line in stream:
            with self.lock:
                self.lines.append(line.rstrip("\n"))

    def wait(self, pattern, anywhere=False):
        """The first line matching pattern after those an earlier wait went past; or, with
        anywhere, of all the lines, which then leaves the place of the waits that follow
        as it was (for lines of other threads, in no set order)."""
        def found():
            with self.lock:
                for i in range(0 if anywhere else self.taken, len(self.lines)):
                    m = re.search(pattern, self.lines[i])
                    if m:
                        self.taken = self.taken if anywhere else i + 1
                        return m
            return None
        return wait_for(found, "a line matching %r" % pattern)

    def text(self):
        with self.lock:
            return "\n".join(self.lines)


class SlowClients(threading.Thread):
    """Clients of the endpoint that send a request a header line a second and never finish
    it, count of them from each of the loopback addresses given; one the endpoint closes
    connects again at the next second."""

    def __init__(self, address, count, sources):
        super().__init__(daemon=True)
        self.address, self.count, self.sources = address, count, sources
        self.lifetimes = []  # how long each connection the endpoint closed had lived
        self.connected = 0
        self.stopping = threading.Event()

    def _connect(self, n):
        s = socket.create_connection(self.address, timeout=WAIT,
                                     source_address=(self.sources[n % len(self.sources)], 0))
        s.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\n")
        s.setblocking(False)
        self.connected += 1
        return s, time.monotonic()

    def run(self):
        open_ = [self._connect(n) for n in range(self.count * len(self.sources))]
        closed = 0
        tick = time.monotonic()
        while not self.stopping.is_set():
            readable = select.select([s for s, _ in open_], [], [], 0.05)[0]
            for s, since in [c for c in open_ if c[0] in readable]:
                try:
                    data = s.recv(4096)
                except OSError:
                    data = b""
                if not data:
                    self.lifetimes.append(time.monotonic() - since)
                    s.close()
                    open_.remove((s, since))
                    closed += 1
            if time.monotonic() >= tick:
                tick += 1
                for s, _ in open_:
                    try:
                        s.send(b"X-Slow: 1\r\n")
                    except OSError:
                        pass
                open_ += [self._connect(n) for n in range(closed)]
                closed = 0
        for s, _ in open_:
            s.close()

    def stop(self):
        self.stopping.set()
        self.join(WAIT)


class Station(unittest.TestCase):
    """One test's own folder, programs and clean-up."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="tovmir-station-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.meter_end = os.path.join(self.tmp, "meter")      # what monitor opens
        self.handset_end = os.path.join(self.tmp, "handset")  # what the simulator writes to

    def start(self, argv, **kw):
        p = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)
        p.readers = []
        self.addCleanup(self._stop, p)
        return p

    @staticmethod
    def _stop(p):
        if p.poll() is None:
            p.kill()
        p.wait()
        for reader in p.readers:
            reader.join(10)
        p.stdout.close()
        p.stderr.close()

    def plug(self):
        """The adapter: two ptys joined by socat, under paths of the test's own."""
        link = self.start(["socat", "pty,raw,echo=0,link=" + self.handset_end,
                           "pty,raw,echo=0,link=" + self.meter_end])
        wait_for(lambda: os.path.exists(self.meter_end) and os.path.exists(self.handset_end),
                 "socat's ptys")
        return link

    def unplug(self, link):
        link.terminate()
        link.wait()
        wait_for(lambda: not os.path.exists(self.meter_end), "socat's ptys to go")

    def simulate(self, script):
        path = os.path.join(self.tmp, "script")
        with open(path, "w") as f:
            f.write(script)
        r = subprocess.run([OPTS.tool, "sim", "--port", self.handset_end, path],
                           capture_output=True, text=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr)

    def monitor(self, *args):
        p = self.start([OPTS.tool, "monitor", "--json"] + list(args) + [self.meter_end])
        out, err = Lines(p, p.stdout), Lines(p, p.stderr)
        return p, out, err

    def listening(self, err):
        return err.wait(r"metrics at http://(\S+)/metrics", anywhere=True).group(1)


class Prometheus(Station):
    def test_a_session_reaches_prometheus_with_its_silence_and_its_unplugging(self):
        link = self.plug()
        _, out, err = self.monitor("--listen", "127.0.0.1:0")
        address = self.listening(err)
        server = self.prometheus(address)

        # Each level held for three seconds (a byte a second, as a handset repeats it), then
        # silence.
        held = lambda level: " ".join(["%02x wait 1" % (0xC0 + level)] * 3)
        self.simulate("a3 80 c9 ad 01 02 03 04 %s %s %s wait 3\n" % (held(9), held(3), held(7)))
        self.query_until(server, "max_over_time(tovmir_silences_total[5m]) >= 1", "the silence")
        self.unplug(link)
        out.wait(r'"event":"lost"')
        self.query_until(server, "tovmir_port_up == 0", "the port down")
        link = self.plug()
        out.wait(r'"event":"open"')
        self.simulate(held(5) + "\n")
        self.query_until(server, "tovmir_reopens_total == 1", "the port open again")
        levels = lambda: {int(float(v)) for _, v in self.series(server, "tovmir_level")}
        wait_for(lambda: {9, 3, 7, 5} <= levels(), "the levels sent: %s" % levels())
        self.assertEqual(self.instant(server, 'tovmir_network_info{network="1234"}'), 1)
        self.assertEqual(self.instant(server, "min_over_time(tovmir_port_up[5m])"), 0)
        self.assertGreaterEqual(self.instant(server, "tovmir_received_bytes_total"), 12)
        self.assertEqual(self.series_labels(server, "tovmir_build_info")["version"], OPTS.version)
        self.unplug(link)

    def prometheus(self, target):
        port = free_port()
        config = os.path.join(self.tmp, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                    "scrape_configs:\n  - job_name: tovmir\n    static_configs:\n"
                    "      - targets: ['%s']\n" % target)
        p = self.start(["prometheus", "--config.file=" + config,
                        "--storage.tsdb.path=" + os.path.join(self.tmp, "tsdb"),
                        "--web.listen-address=127.0.0.1:%d" % port, "--log.level=warn"])
        server = "http://127.0.0.1:%d" % port
        wait_for(lambda: self._ready(server, p), "Prometheus to be ready", timeout=2 * WAIT)
        self.query_until(server, 'up{job="tovmir"} == 1', "Prometheus' first scrape")
        return server

    @staticmethod
    def _ready(server, p):
        if p.poll() is not None:
            raise AssertionError("prometheus ended: " + p.stderr.read())
        try:
            with urllib.request.urlopen(server + "/-/ready", timeout=2) as reply:
                return reply.status == 200
        except OSError:
            return False

    def api(self, server, path, **params):
        url = server + "/api/v1/" + path + "?" + urllib.parse.urlencode(params)
        with urllib.request.urlopen(url, timeout=10) as reply:
            answer = json.load(reply)
        self.assertEqual(answer["status"], "success", answer)
        return answer["data"]["result"]

    def query_until(self, server, query, what):
        wait_for(lambda: self.api(server, "query", query=query), what)

    def instant(self, server, query):
        result = self.api(server, "query", query=query)
        self.assertEqual(len(result), 1, result)
        return float(result[0]["value"][1])

    def series(self, server, metric):
        now = time.time()
        result = self.api(server, "query_range", query=metric, start=now - 300, end=now, step=1)
        self.assertEqual(len(result), 1, result)
        return result[0]["values"]

    def series_labels(self, server, metric):
        return self.api(server, "query", query=metric)[0]["metric"]


class Endpoint(Station):
    def endpoint(self):
        self.plug()
        _, _, err = self.monitor("--listen", "127.0.0.1:0")
        host, port = self.listening(err).rsplit(":", 1)
        return host, int(port)

    @staticmethod
    def raw(address, request):
        """What the endpoint answers to request, sent as it is."""
        with socket.create_connection(address, timeout=WAIT) as s:
            s.sendall(request)
            answer = b""
            while True:
                data = s.recv(4096)
                if not data:
                    return answer.decode(errors="replace")
                answer += data

    def test_http_statuses_and_the_exposition_promtool_reads(self):
        host, port = self.endpoint()

        def ask(method, path, body=None):
            c = http.client.HTTPConnection(host, port, timeout=WAIT)
            c.request(method, path, body=body)
            r = c.getresponse()
            return r.status, dict(r.getheaders()), r.read().decode()

        status, headers, body = ask("GET", "/metrics")
        self.assertEqual(status, 200)
        self.assertEqual(headers["Content-Type"], "text/plain; version=0.0.4; charset=utf-8")
        self.assertIn('tovmir_port_up{port="%s"} 1' % self.meter_end, body)
        check = subprocess.run(["promtool", "check", "metrics"], input=body, capture_output=True,
                               text=True, timeout=30)
        self.assertEqual((check.returncode, check.stdout + check.stderr), (0, ""))
        self.assertEqual(ask("HEAD", "/metrics")[::2], (200, ""))
        self.assertEqual(ask("GET", "/metrics?debug=1")[0], 200)
        for method, path, want in (("GET", "/", 404), ("GET", "/metricsx", 404),
                                   ("POST", "/metrics", 405), ("PUT", "/metrics", 405),
                                   ("DELETE", "/metrics", 405)):
            status, headers, _ = ask(method, path, body="x" if method != "GET" else None)
            self.assertEqual(status, want, (method, path))
            if want == 405:
                self.assertEqual(headers["Allow"], "GET, HEAD")
        # The request taken exactly as sent: a NUL or a line that is not HTTP is a bad request.
        for request, status in ((b"HELLO THERE\r\n\r\n", 400),
                                (b"GET /metrics\0/x HTTP/1.1\r\n\r\n", 400),
                                (b"GET /metrics HTTP/1.1\r\nHost: a\0b\r\n\r\n", 400),
                                (b"GET /metrics HTTP/1.1\nHost: x\n\n", 400),
                                (b"GET /metrics%00/x HTTP/1.1\r\n\r\n", 404),
                                (b"GET /metrics HTTP/1.1\r\n" + b"X: y\r\n" * 2000, 431)):
            with self.subTest(request=request[:40]):
                self.assertRegex(self.raw((host, port), request), r"^HTTP/1\.1 %d " % status)

    def test_slow_and_many_clients_do_not_keep_a_scrape_out(self):
        """A hundred clients from ten addresses that send a header line a second and never
        finish their request: each is closed once its request's time is up (the bytes do
        not buy it more), those beyond an address's share or the table's give way, and every
        scrape meanwhile (from an address of its own, as Prometheus') is answered at once."""
        address = self.endpoint()
        attack = SlowClients(address, 10, ["127.0.0.%d" % n for n in range(2, 12)])
        attack.start()
        self.addCleanup(attack.stop)
        wait_for(lambda: attack.connected >= 100, "the slow clients to connect")
        took = []
        until = time.monotonic() + 8  # longer than a request may take
        while time.monotonic() < until:
            start = time.monotonic()
            answer = self.raw(address, b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
            took.append(time.monotonic() - start)
            self.assertRegex(answer, r"^HTTP/1\.1 200 ")
            self.assertIn("tovmir_port_up", answer)
        attack.stop()
        self.assertLess(max(took), bound(2), "seconds a scrape took under the attack")
        self.assertTrue(attack.lifetimes, "the endpoint closed none of them")
        # Five seconds for a whole request; a second more for the clients to notice.
        self.assertLess(max(attack.lifetimes), bound(6), "seconds a slow client was kept")

    def test_only_where_told(self):
        self.plug()
        _, _, err = self.monitor("--listen", "0")
        self.assertRegex(self.listening(err), r"^127\.0\.0\.1:\d+$")
        taken = free_port()
        with socket.socket() as s:
            s.bind(("127.0.0.1", taken))
            s.listen()
            p, _, err = self.monitor("--listen", "127.0.0.1:%d" % taken)
            self.assertEqual(p.wait(timeout=WAIT), 1)
            self.assertIn("cannot listen on 127.0.0.1:%d: Address already in use" % taken,
                          err.wait("cannot listen").string)


class Log(Station):
    def test_sighup_opens_the_log_again_once_logrotate_moved_it(self):
        self.plug()
        log = os.path.join(self.tmp, "station.jsonl")
        p, out, _ = self.monitor("--log", log)
        out.wait(r'"event":"open"')
        self.assertEqual(os.stat(log).st_mode & 0o777, 0o640)
        self.simulate("c3\n")
        wait_for(lambda: '"level":3' in read(log), "the byte in the log")
        os.rename(log, log + ".1")
        p.send_signal(signal.SIGHUP)
        wait_for(lambda: os.path.exists(log), "the log made again")
        self.simulate("c8\n")
        wait_for(lambda: os.path.exists(log) and '"level":8' in read(log),
                 "the next byte in a new log")
        self.assertNotIn('"level":8', read(log + ".1"))
        for line in read(log).splitlines() + read(log + ".1").splitlines():
            json.loads(line)  # every line whole
        self.assertIsNone(p.poll(), "SIGHUP with a log only reopens it")

    def test_a_full_disk_is_said_and_monitoring_goes_on(self):
        if os.geteuid() != 0:
            print("NOTE: not tried: a small file system of the test's own takes root to mount",
                  file=sys.stderr)
            return
        small = os.path.join(self.tmp, "small")
        os.mkdir(small)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tovmir-test", small], check=True)
        self.addCleanup(subprocess.run, ["umount", "-l", small])
        log = os.path.join(small, "station.jsonl")
        self.plug()
        p, out, err = self.monitor("--log", log)
        out.wait(r'"event":"open"')
        filler = os.path.join(small, "filler")
        fd = os.open(filler, os.O_WRONLY | os.O_CREAT)
        try:
            while os.write(fd, b"\0" * 1024):
                pass
        except OSError:
            pass  # full
        os.close(fd)
        self.simulate("c1 c2 c3\n")
        out.wait(r'"byte":"C3"')  # standard output goes on
        err.wait(r"cannot write to '%s': No space left on device; monitoring goes on"
                 % re.escape(log))
        os.unlink(filler)
        self.simulate("c4 wait 0.2 c5\n")
        err.wait(r"writing to '%s' again; \d+ lines were lost" % re.escape(log))
        wait_for(lambda: '"byte":"C5"' in read(log), "the log written again")
        for line in read(log).splitlines():
            json.loads(line)  # no line cut short
        self.assertIsNone(p.poll())


class GpsFake:
    """gpsd fed by gpsd's own gpsfake from a log written here, each sentence held back until
    the test lets it go (gpsfake -i): the log starts with seconds without a fix, let go one at
    a time once a client of gpsd is watching, until gpsd reports one to a watcher of the
    test's own; then the rest at once, as a receiver's reports pile up when their reader
    falls behind. So no position is played before the client can see it, however slow the
    machine. The places' seconds come with their satellites, as receivers send them."""

    # More seconds without a fix than a start can take, a tenth of a second each; each is
    # two sentences.
    WARM_UP = int(WAIT * 10)

    def __init__(self, test, port, places, start):
        self.port = port
        path = os.path.join(test.tmp, "gps-%d.nmea" % len(os.listdir(test.tmp)))
        with open(path, "w") as f:
            f.write(nmea.log(start, [None] * self.WARM_UP) +
                    nmea.log(start + datetime.timedelta(seconds=self.WARM_UP), places, sky=True))
        with open(path) as f:
            self.left = len(f.readlines())
        self.walk = self.left - 2 * self.WARM_UP
        self.proc = subprocess.Popen(["gpsfake", "-q", "-1", "-i", "-P", str(port), path],
                                     stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE, text=True)
        test.addCleanup(self.stop)
        # Found without connecting: gpsd opens its device for its first client.
        wait_for(lambda: self.proc.poll() is not None or listens(port), "gpsd to listen")
        if self.proc.poll() is not None:
            raise AssertionError("gpsfake ended: " + self.proc.stderr.read())

    def _let_go(self, sentences):
        self.proc.stdin.write("\n" * sentences)
        self.proc.stdin.flush()
        self.left -= sentences

    def play(self):
        """Once a client is watching: the seconds without a fix until gpsd reports one, then
        the rest of the log."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=WAIT) as gpsd:
            kept = b""

            def reports(timeout):
                """What gpsd says within timeout."""
                nonlocal kept
                said = []
                while select.select([gpsd], [], [], timeout)[0]:
                    got = gpsd.recv(65536)
                    if not got:
                        raise AssertionError("gpsd closed the connection")
                    *lines, kept = (kept + got).split(b"\n")
                    said += [json.loads(line) for line in lines]
                    timeout = 0
                return said

            def has_device():
                gpsd.sendall(b"?DEVICES;\n")
                return any(r["class"] == "DEVICES" and r["devices"] for r in reports(0.2))

            def reported():
                if self.left <= self.walk:
                    raise AssertionError("gpsd reported nothing of its device")
                self._let_go(2)
                return any(r["class"] == "TPV" for r in reports(0.1))

            # The watch once gpsd has its device, which gpsfake gives it a moment after it
            # listens.
            wait_for(has_device, "gpsfake to give gpsd its device")
            gpsd.sendall(b'?WATCH={"enable":true,"json":true}\n')
            wait_for(reported, "gpsd to report on its device")
        self._let_go(self.left)

    def stop(self):
        """Ends gpsfake as at the end of its input, which ends its gpsd too (killed, it
        would leave its gpsd running)."""
        self.proc.stdin.close()
        try:
            self.proc.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            pass
        self.proc.stderr.close()


class Gps(Station):
    """monitor --gps with a real gpsd, fed by gpsfake."""

    @staticmethod
    def positions(out):
        with out.lock:
            lines = [json.loads(line) for line in out.lines]
        return [line for line in lines if line["event"] == "position"]

    def test_positions_as_they_were_sent_across_midnight(self):
        """A fix that starts late, a walk across midnight (UTC), the metrics with the place:
        each position as it was sent, in order, the fix's own time beside the computer's."""
        self.plug()
        port = free_port()
        walk = [(35.68 + i * 0.00001, 139.76, 40.0 + i) for i in range(12)]
        # The walk's sixth second is midnight.
        start = (datetime.datetime(2026, 12, 10, 0, 0, 0) -
                 datetime.timedelta(seconds=GpsFake.WARM_UP + 5))
        gps = GpsFake(self, port, walk, start)
        _, out, err = self.monitor("--gps=127.0.0.1:%d" % port, "--listen", "127.0.0.1:0")
        address = self.listening(err)
        err.wait(r"gpsd at 127\.0\.0\.1:%d: connected" % port, anywhere=True)
        first = json.loads(out.wait(r'"event":"open"').string)
        self.assertEqual(first["fix"], "none", "no fix yet")
        self.assertNotIn("lat", first)
        gps.play()
        wait_for(lambda: len(self.positions(out)) >= 6, "the first positions")
        with urllib.request.urlopen("http://%s/metrics" % address, timeout=WAIT) as reply:
            metrics = reply.read().decode()
        self.assertRegex(metrics, r"\ntovmir_gps_fix 3\n")
        self.assertRegex(metrics, r"\ntovmir_latitude_degrees 35\.680\d*\n")
        check = subprocess.run(["promtool", "check", "metrics"], input=metrics,
                               capture_output=True, text=True, timeout=WAIT)
        self.assertEqual((check.returncode, check.stdout + check.stderr), (0, ""))
        wait_for(lambda: len(self.positions(out)) >= len(walk), "the whole walk")
        got = self.positions(out)
        self.assertEqual([(p["lat"], p["lon"], p["alt"]) for p in got],
                         [(round(lat, 7), lon, alt) for lat, lon, alt in walk])
        self.assertTrue(all(p["fix"] == "3d" and 0 <= p["fix_age"] < 1 for p in got), got)
        times = [p["gps_time"] for p in got]
        self.assertEqual(times[4:6], ["2026-12-09T23:59:59.000Z", "2026-12-10T00:00:00.000Z"])
        self.assertNotEqual(got[0]["time"][:10], "2026-12-09T23", "the computer's own time")

    def test_gpsd_stopped_and_started_again(self):
        """gpsd goes (gpsfake stopped, and its gpsd with it) and comes back: said once each
        way, as an event too, and the positions go on; the meter never waits for it."""
        self.plug()
        port = free_port()
        start = datetime.datetime(2026, 12, 9, 10, 0, 0)
        first = GpsFake(self, port, [(35.0 + i * 0.00001, 139.0, 10.0) for i in range(4)], start)
        p, out, err = self.monitor("--gps=127.0.0.1:%d" % port)
        err.wait(r"gpsd at 127\.0\.0\.1:%d: connected" % port)
        first.play()
        wait_for(lambda: len(self.positions(out)) >= 4, "the first walk")
        first.stop()
        err.wait(r"gpsd at 127\.0\.0\.1:%d was lost \(.*\); trying again every 3 s" % port)
        lost = out.wait(r'"event":"gps","reason":"gpsd at [^"]* was lost')
        self.assertIsNotNone(lost)
        self.simulate("c6\n")  # monitoring goes on meanwhile
        out.wait(r'"byte":"C6".*"fix":"none"')
        second = GpsFake(self, port, [(36.0, 140.0 + i * 0.00001, 20.0) for i in range(4)],
                         start)
        err.wait(r"gpsd at 127\.0\.0\.1:%d: connected" % port)
        second.play()
        wait_for(lambda: any(q["lat"] == 36.0 for q in self.positions(out)), "the second walk")
        said = err.text()
        self.assertEqual(said.count("was lost"), 1, said)
        self.assertNotIn("cannot be reached", said, "an outage is said once")
        self.assertIsNone(p.poll())

    def test_no_gpsd_at_all(self):
        """Nothing listens where gpsd should: said once, monitoring goes on without a fix."""
        self.plug()
        p, out, err = self.monitor("--gps=127.0.0.1:%d" % free_port())
        err.wait(r"gpsd at 127\.0\.0\.1:\d+ cannot be reached \(.*\); trying again every 3 s")
        out.wait(r'"event":"gps","reason":"gpsd at [^"]* cannot be reached')
        self.simulate("c4\n")
        self.assertEqual(json.loads(out.wait(r'"byte":"C4"').string)["fix"], "none")
        self.assertEqual(err.text().count("cannot be reached"), 1)
        self.assertIsNone(p.poll())


def main():
    global OPTS
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--tool", required=True)
    ap.add_argument("--version", required=True, help="the version the build says")
    OPTS, rest = ap.parse_known_args()
    OPTS.tool = os.path.abspath(OPTS.tool)
    for program in ("prometheus", "promtool", "socat", "gpsfake"):
        if not shutil.which(program):
            sys.exit("test_station: %s is not installed (scripts/test.sh installs it)" % program)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
