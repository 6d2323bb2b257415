"""An X server of a test's own (Xvfb), on a display number the server picks itself, so that
tests run side by side never take the same one."""

import os
import subprocess


def start_xvfb(size="1024x768x24"):
    """Starts Xvfb; returns (its display name, its process) once it takes connections."""
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", size,
                             "-nolisten", "tcp"], pass_fds=[write], stderr=subprocess.DEVNULL)
    os.close(write)
    # It writes the number once it listens; at its end the pipe closes with nothing.
    with os.fdopen(read) as numbers:
        number = numbers.readline().strip()
    if not number:
        xvfb.wait()
        raise RuntimeError("Xvfb did not start (exit status %s)" % xvfb.returncode)
    return ":" + number, xvfb
