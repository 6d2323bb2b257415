#!/usr/bin/env python3
"""The harness picks the Wine by the program, and refuses a 32-bit one on a machine that
cannot run 32-bit code; it refuses a locale not generated here, and a prefix made under
another locale.

    test_harness.py --probe build/win64/tests/e2e_probe.exe --prefix DIR

The machine without 32-bit support is made by naming, in TOVMIR_WINE32_LOADER, a loader
that cannot run ("Exec format error"), as Wine's i386 loader fails on such a kernel.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
HARNESS = os.path.join(HERE, "..", "..", "tools", "wine", "harness.py")
OPTS = None


def harness(prefix, *argv, env=None):
    return subprocess.run([sys.executable, HARNESS, "--prefix", prefix, "--timeout", "120"] +
                          list(argv), env=env, capture_output=True, text=True, timeout=300)


def fake_program(path, machine):
    """The smallest file whose PE header names the machine type."""
    head = bytearray(0x80)
    head[0:2] = b"MZ"
    head[0x3C:0x40] = (0x40).to_bytes(4, "little")
    head[0x40:0x44] = b"PE\0\0"
    head[0x44:0x46] = machine.to_bytes(2, "little")
    with open(path, "wb") as f:
        f.write(head)


class Choice(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        loader = os.path.join(self.tmp.name, "wine32")
        with open(loader, "wb") as f:
            f.write(b"\x7fELF but not for this machine\n")
        os.chmod(loader, 0o755)
        self.env = dict(os.environ, TOVMIR_WINE32_LOADER=loader)

    def tearDown(self):
        self.tmp.cleanup()

    def harness(self, *argv):
        return harness(OPTS.prefix, "--", *argv, env=self.env)

    def test_a_64_bit_program_runs_without_32_bit_support(self):
        r = self.harness(OPTS.probe, "info")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn('"acp":932', r.stdout.replace(" ", ""))

    def test_a_32_bit_program_is_refused_with_the_reason(self):
        exe = os.path.join(self.tmp.name, "old.exe")
        fake_program(exe, 0x014C)
        r = self.harness(exe)
        self.assertEqual(r.returncode, 125)
        self.assertEqual(r.stderr.strip().splitlines(), [
            "harness: this machine cannot run 32-bit Windows programs: %s cannot run here: "
            "Exec format error" % self.env["TOVMIR_WINE32_LOADER"]])

    def test_what_is_not_a_program_for_this_machine(self):
        for name, content, why in [
                ("arm.exe", 0xAA64, "is for machine type 0xAA64"),
                ("text.exe", None, "is not a Windows program")]:
            exe = os.path.join(self.tmp.name, name)
            if content is None:
                with open(exe, "w") as f:
                    f.write("echo hello\n")
            else:
                fake_program(exe, content)
            r = self.harness(exe)
            self.assertEqual(r.returncode, 125, name)
            self.assertIn(why, r.stderr)


class Locale(unittest.TestCase):
    def test_a_locale_not_generated_here_is_refused(self):
        r = harness(OPTS.prefix, "--locale", "xx_XX.UTF-8", "--", OPTS.probe, "info")
        self.assertEqual(r.returncode, 125)
        self.assertIn("harness: the locale xx_XX.UTF-8 is not generated on this machine "
                      "(`locale -a` does not list it)", r.stderr)

    def test_a_prefix_made_under_another_locale_is_refused(self):
        with tempfile.TemporaryDirectory() as tmp:
            prefix = os.path.join(tmp, "prefix")
            os.mkdir(prefix)
            with open(os.path.join(prefix, ".tovmir-setup"), "w") as f:
                f.write("tovmir-3 win64 xx_XX.UTF-8\n")
            r = harness(prefix, "--", OPTS.probe, "info")
            self.assertEqual(r.returncode, 125)
            self.assertEqual(r.stderr.strip().splitlines(), [
                "harness: %s was made under the locale xx_XX.UTF-8; a run under ja_JP.UTF-8 "
                "needs a prefix of its own" % prefix])
            with open(os.path.join(prefix, ".tovmir-setup")) as f:
                self.assertEqual(f.read(), "tovmir-3 win64 xx_XX.UTF-8\n", "not made again")


def main():
    global OPTS
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--probe", required=True, help="a 64-bit program: e2e_probe.exe")
    ap.add_argument("--prefix", required=True, help="the 64-bit Wine prefix")
    OPTS, rest = ap.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
