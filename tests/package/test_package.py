#!/usr/bin/env python3
"""The packages scripts/package.sh makes, taken apart as a user would use them.

    test_package.py [DIST]      (default dist/)

The Debian package is unpacked into a scratch root (dpkg -x), its tovmir-tool run and its
manual page read from there; each zip is unpacked and its program checked as a file
(machine type, imports, resources, manifest, version block); SHA256SUMS must hold.
"""

import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECK_EXE = os.path.join(ROOT, "tests", "win32", "check_exe.py")
DIST = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else os.path.join(ROOT, "dist")


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(tovmir VERSION ([0-9.]+)", f.read()).group(1)


VERSION = project_version()
DEB = "tovmir-tool_%s_amd64.deb" % VERSION
ZIPS = {"win32": "tovmir-%s-win32.zip" % VERSION, "win64": "tovmir-%s-win64.zip" % VERSION}


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, timeout=120, **kw)


class Dist(unittest.TestCase):
    def test_the_four_artefacts_and_their_sums(self):
        self.assertEqual(sorted(os.listdir(DIST)), sorted([DEB, "SHA256SUMS"] + list(ZIPS.values())))
        r = run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=DIST)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)


class DebianPackage(unittest.TestCase):
    def setUp(self):
        self.deb = os.path.join(DIST, DEB)
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        r = run(["dpkg-deb", "-x", self.deb, self.tmp.name])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.usr = os.path.join(self.tmp.name, "usr")

    def field(self, name):
        return run(["dpkg-deb", "-f", self.deb, name]).stdout.strip()

    def test_control_fields_and_dependencies_from_the_linked_libraries(self):
        self.assertEqual(self.field("Package"), "tovmir-tool")
        self.assertEqual(self.field("Version"), VERSION)
        self.assertEqual(self.field("Architecture"), "amd64")
        depends = self.field("Depends")
        for lib in ("libc6", "libcairo2", "libpango-1.0-0", "libpangocairo-1.0-0"):
            self.assertRegex(depends, r"(^|, )%s( |,|$)" % re.escape(lib))

    def test_the_program_and_its_manual_page_from_the_scratch_root(self):
        r = run([os.path.join(self.usr, "bin", "tovmir-tool"), "--version"])
        self.assertEqual((r.returncode, r.stdout), (0, "tovmir-tool %s\n" % VERSION))
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80",
                   MANPATH=os.path.join(self.usr, "share", "man"))
        page = run(["man", "--warnings", "-E", "UTF-8", "tovmir-tool"], env=env)
        self.assertEqual(page.returncode, 0, page.stderr)
        self.assertEqual(page.stderr, "")
        self.assertIn("tovmir-tool - the command-line companion", page.stdout)
        self.assertIn("tovmir %s" % VERSION, page.stdout)
        for path in ("share/bash-completion/completions/tovmir-tool",
                     "share/doc/tovmir-tool/README.md", "share/doc/tovmir-tool/LICENSE"):
            self.assertTrue(os.path.isfile(os.path.join(self.usr, path)), path)


class WindowsZips(unittest.TestCase):
    def test_each_zip_holds_its_program_a_readme_and_the_licence(self):
        for arch, name in ZIPS.items():
            with self.subTest(arch), tempfile.TemporaryDirectory() as tmp:
                with zipfile.ZipFile(os.path.join(DIST, name)) as z:
                    folder = name[:-len(".zip")] + "/"
                    self.assertEqual(sorted(z.namelist()), sorted(
                        folder + f for f in ("tovmir.exe", "README.txt", "LICENSE.txt")))
                    z.extractall(tmp)
                exe = os.path.join(tmp, folder, "tovmir.exe")
                r = run([sys.executable, CHECK_EXE, "--arch", arch, "--version", VERSION, exe])
                self.assertEqual(r.returncode, 0, r.stderr)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
