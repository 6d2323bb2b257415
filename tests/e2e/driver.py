"""What the tests that drive Windows programs under Wine share (the end-to-end tests of the
meter, the installers' tests): probe.exe in serve mode, where the Wine desktop lies on the
X screen, and a COM port's line settings as its pty shows them. Python standard library only;
one thread per Probe.
"""

import json
import os
import re
import select
import subprocess
import termios
import time

from harness import HarnessError


class ProbeError(Exception):
    pass


class Probe:
    """probe.exe serve: one command a line out, one JSON answer a line back."""

    def __init__(self, session, exe):
        self.proc = session.start([exe, "serve"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.buf = b""

    def __call__(self, *args, timeout=15):
        line = "\t".join(str(a) for a in args) + "\n"
        self.proc.stdin.write(line.encode("utf-8"))
        self.proc.stdin.flush()
        fd = self.proc.stdout.fileno()
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buf:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise ProbeError("no answer from the probe to %r" % (args,))
            chunk = os.read(fd, 1 << 20)
            if not chunk:
                raise ProbeError("the probe ended (%s)" % self.proc.poll())
            self.buf += chunk
        reply, self.buf = self.buf.split(b"\n", 1)
        answer = json.loads(reply.decode("utf-8"))
        if "error" in answer:
            raise ProbeError("%s: %s" % (args[0], answer["error"]))
        return answer

    def close(self):
        try:
            self.proc.stdin.write(b"quit\n")
            self.proc.stdin.close()
            self.proc.wait(timeout=5)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()
        self.proc.stdout.close()


def desktop_offset(session):
    """Where the session's Wine desktop (its window "tovmir - Wine desktop") has its (0, 0)
    on the X screen."""
    tree = subprocess.run(["xwininfo", "-root", "-tree"], env=session.env, check=True,
                          stdout=subprocess.PIPE, timeout=30).stdout.decode("utf-8", "replace")
    m = re.search(r'"tovmir - Wine desktop".*\s\+(-?\d+)\+(-?\d+)\s*$', tree, re.M)
    if not m:
        raise HarnessError("no Wine desktop window on the display")
    return int(m.group(1)), int(m.group(2))


def line_settings(fd):
    """(baud, data bits, parity enabled, two stop bits) of the terminal open as fd."""
    attrs = termios.tcgetattr(fd)
    speeds = {getattr(termios, n): int(n[1:]) for n in dir(termios) if re.fullmatch(r"B\d+", n)}
    cflag = attrs[2]
    bits = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
    return speeds.get(attrs[5]), bits, bool(cflag & termios.PARENB), bool(cflag & termios.CSTOPB)


def reset_line(fd):
    """9600 baud and nothing left unread: what no tovmir has touched looks like."""
    attrs = termios.tcgetattr(fd)
    attrs[4] = attrs[5] = termios.B9600
    termios.tcsetattr(fd, termios.TCSANOW, attrs)
    termios.tcflush(fd, termios.TCIOFLUSH)
