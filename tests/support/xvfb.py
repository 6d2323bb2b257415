"""An X server of a test's own (Xvfb), on a display number the server picks itself, so that
tests run side by side never take the same one."""

import os
import subprocess
import tempfile


class Xvfb:
    """The server's process; what it said is kept for a test that fails to reach it."""

    def __init__(self, size="1024x768x24"):
        self.said = tempfile.TemporaryFile()
        read, write = os.pipe()
        # -noreset: the last client's end (a program that ends) leaves the server as it is.
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", size,
                                      "-nolisten", "tcp", "-noreset"],
                                     pass_fds=[write], stderr=self.said)
        os.close(write)
        # It writes the number once it listens; at its end the pipe closes with nothing.
        with os.fdopen(read) as numbers:
            number = numbers.readline().strip()
        if not number:
            self.proc.wait()
            raise RuntimeError("Xvfb did not start (exit status %s): %s"
                               % (self.proc.returncode, self.log()))
        self.display = ":" + number

    def log(self):
        self.said.seek(0)
        return self.said.read().decode(errors="replace")

    def check(self):
        """Fails, with what the server said, if it has ended."""
        if self.proc.poll() is not None:
            raise AssertionError("Xvfb %s ended (exit status %s): %s"
                                 % (self.display, self.proc.returncode, self.log()))

    def stop(self, kill=False):
        if kill:
            self.proc.kill()
        else:
            self.proc.terminate()
        self.proc.wait()
        self.said.close()


def start_xvfb(size="1024x768x24"):
    """Starts Xvfb; returns (its display name, the Xvfb) once it takes connections."""
    x = Xvfb(size)
    return x.display, x
