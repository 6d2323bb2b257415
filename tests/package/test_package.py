#!/usr/bin/env python3
"""The packages scripts/package.sh makes, taken apart as a user would use them.

    test_package.py [--dist DIR] [--ca CERT] [unittest options]     (default dist/)

Both Debian packages are unpacked into a scratch root (dpkg -x), their programs run and
their manual pages read from there, and checked as Debian and the desktop check them
(lintian, desktop-file-validate, appstreamcli); each zip is unpacked and its program
checked as a file (machine type, imports, resources, manifest, version block), its texts
as Windows reads them (CRLF, a UTF-8 byte-order mark); each installer is opened with 7z
and must hold what its zip holds; SHA256SUMS must hold. With --ca, the Windows programs
and installers must be signed by that certificate (scripts/test.sh signs them with a
throw-away one); without it, that test is skipped and says so. The installers are run
under Wine by test_installer.py.
"""

import argparse
import gzip
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile
from xml.etree import ElementTree

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECK_EXE = os.path.join(ROOT, "tests", "win32", "check_exe.py")
sys.path.insert(0, os.path.join(ROOT, "tools", "wine"))
from harness import program_arch  # noqa: E402

OPTS = argparse.Namespace(dist=os.path.join(ROOT, "dist"), ca=None)  # set by main()


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(tovmir VERSION ([0-9.]+)", f.read()).group(1)


VERSION = project_version()
DEBS = {"tovmir": "tovmir_%s_amd64.deb" % VERSION,
        "tovmir-tool": "tovmir-tool_%s_amd64.deb" % VERSION}
ZIPS = {"win32": "tovmir-%s-win32.zip" % VERSION, "win64": "tovmir-%s-win64.zip" % VERSION}
INSTALLERS = {arch: "tovmir-%s-%s-setup.exe" % (VERSION, arch) for arch in ZIPS}
# What each zip and installer holds, from the repository's files: the texts as Windows
# reads them (converted when packed), the program.
WINDOWS_TEXTS = {"README.txt": "res/README-windows.txt", "LICENSE.txt": "LICENSE"}
WINDOWS_FILES = ["tovmir.exe"] + sorted(WINDOWS_TEXTS)


def windows_text(source):
    """The repository's LF UTF-8 file as the packages must hold it: CRLF, with a BOM, and
    the version where it says @PROJECT_VERSION@."""
    with open(os.path.join(ROOT, source), "rb") as f:
        text = f.read().replace(b"@PROJECT_VERSION@", VERSION.encode())
    return b"\xef\xbb\xbf" + text.replace(b"\n", b"\r\n")


def zip_files(arch):
    """{name: bytes} of the zip's files, without its folder."""
    name = ZIPS[arch]
    folder = name[:-len(".zip")] + "/"
    with zipfile.ZipFile(dist(name)) as z:
        names = z.namelist()
        if sorted(names) != sorted(folder + f for f in WINDOWS_FILES):
            raise AssertionError("%s holds %s" % (name, names))
        return {n[len(folder):]: z.read(n) for n in names}


def dist(name):
    return os.path.join(OPTS.dist, name)


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, timeout=300, **kw)


class Dist(unittest.TestCase):
    def test_the_artefacts_and_their_sums(self):
        self.assertEqual(sorted(os.listdir(OPTS.dist)),
                         sorted(list(DEBS.values()) + ["SHA256SUMS"] + list(ZIPS.values())
                                + list(INSTALLERS.values())))
        r = run(["sha256sum", "--check", "--strict", "SHA256SUMS"], cwd=OPTS.dist)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        with open(dist("SHA256SUMS")) as f:
            summed = sorted(line.split()[1].lstrip("*") for line in f)
        self.assertEqual(summed, sorted(n for n in os.listdir(OPTS.dist) if n != "SHA256SUMS"))
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)


class DebianPackages(unittest.TestCase):
    """Both packages unpacked into one scratch root (dpkg -x), as if installed there."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        for deb in DEBS.values():
            r = run(["dpkg-deb", "-x", dist(deb), cls.tmp.name])
            assert r.returncode == 0, r.stderr
        cls.usr = os.path.join(cls.tmp.name, "usr")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def field(self, package, name):
        return run(["dpkg-deb", "-f", dist(DEBS[package]), name]).stdout.strip()

    def test_control_fields_and_dependencies_from_the_linked_libraries(self):
        libs = {"tovmir-tool": ("libc6", "libcairo2", "libpango-1.0-0", "libpangocairo-1.0-0"),
                # The status line is drawn in IPA P Gothic: without it, empty boxes.
                "tovmir": ("libc6", "libgtk-4-1", "libcairo2", "fonts-ipafont-gothic")}
        for package in DEBS:
            with self.subTest(package):
                self.assertEqual(self.field(package, "Package"), package)
                self.assertEqual(self.field(package, "Version"), VERSION)
                self.assertEqual(self.field(package, "Architecture"), "amd64")
                self.assertRegex(self.field(package, "Maintainer"), r"^[^<>]+ <[^@<>]+@[^@<>]+>$")
                depends = self.field(package, "Depends")
                for lib in libs[package]:
                    self.assertRegex(depends, r"(^|, )%s( |,|$)" % re.escape(lib))

    def test_lintian_says_no_error_and_no_warning(self):
        r = run(["lintian", "--info", "--pedantic", "--tag-display-limit", "0"]
                + [dist(deb) for deb in DEBS.values()])
        tags = [line for line in r.stdout.splitlines() if re.match(r"^[EWIPX]: ", line)]
        if tags:
            print("lintian says:\n  " + "\n  ".join(tags), file=sys.stderr)
        self.assertEqual([t for t in tags if t[0] in "EW"], [], r.stderr)

    def test_the_programs_and_their_manual_pages_from_the_scratch_root(self):
        for program in ("tovmir", "tovmir-tool"):
            with self.subTest(program):
                r = run([os.path.join(self.usr, "bin", program), "--version"])
                self.assertEqual((r.returncode, r.stdout), (0, "%s %s\n" % (program, VERSION)))
                env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80",
                           MANPATH=os.path.join(self.usr, "share", "man"))
                page = run(["man", "--warnings", "-E", "UTF-8", program], env=env)
                self.assertEqual((page.returncode, page.stderr), (0, ""))
                self.assertIn("%s - " % program, page.stdout)
                self.assertIn("tovmir %s" % VERSION, page.stdout)
                self.assertTrue(os.path.isfile(os.path.join(
                    self.usr, "share", "bash-completion", "completions", program)))

    def test_copyright_and_changelog_as_debian_reads_them(self):
        for package in DEBS:
            with self.subTest(package):
                doc = os.path.join(self.usr, "share", "doc", package)
                with open(os.path.join(doc, "copyright")) as f:
                    copyright = f.read()
                self.assertTrue(copyright.startswith("Format: https://www.debian.org/doc/"
                                                     "packaging-manuals/copyright-format/1.0/"))
                self.assertIn("License: Expat\n Permission is hereby granted", copyright)
                with gzip.open(os.path.join(doc, "changelog.gz"), "rt") as f:
                    self.assertTrue(f.readline().startswith("tovmir (%s) " % VERSION))

    def test_one_application_id_for_the_desktop_the_icons_and_the_software_centres(self):
        share = os.path.join(self.usr, "share")
        entries = os.listdir(os.path.join(share, "applications"))
        self.assertEqual(len(entries), 1, entries)
        app_id = entries[0][:-len(".desktop")]
        self.assertRegex(app_id, r"^[a-z]+(\.[a-z]+){2,}$", "reverse DNS, lower case")
        desktop = os.path.join(share, "applications", entries[0])
        with open(desktop) as f:
            self.assertIn("\nIcon=%s\n" % app_id, f.read())
        metainfo = os.path.join(share, "metainfo", app_id + ".metainfo.xml")
        root = ElementTree.parse(metainfo).getroot()
        self.assertEqual(root.findtext("id"), app_id)
        self.assertEqual(root.findtext("launchable"), app_id + ".desktop")
        self.assertEqual(root.find("releases/release").get("version"), VERSION)
        with open(os.path.join(self.usr, "bin", "tovmir"), "rb") as f:
            self.assertIn(b"\0" + app_id.encode() + b"\0", f.read(), "the GApplication id")
        for check in (["desktop-file-validate", desktop],
                      ["appstreamcli", "validate", "--pedantic", "--no-net", metainfo]):
            r = run(check)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            self.assertNotRegex(r.stdout, r"^[EWIP]: ", r.stdout)
        for size in (16, 24, 32, 48, 64, 128, 256):
            png = os.path.join(share, "icons", "hicolor", "%dx%d" % (size, size), "apps",
                               app_id + ".png")
            with self.subTest(size=size):
                # A transparent ground (the bottom left corner), an opaque antenna (its mast).
                corner = "0,%d" % (size - 1)
                mast = "%d,%d" % (size * 32 // 100, size * 3 // 4)
                r = run(["convert", png, "-format",
                         "%w %[pixel:p{" + corner + "}] %[pixel:p{" + mast + "}]", "info:"])
                self.assertEqual(r.stdout, "%d srgba(0,0,0,0) srgba(0,0,0,1)" % size, r.stderr)


class WindowsPackages(unittest.TestCase):
    def test_each_zip_holds_its_program_a_readme_and_the_licence(self):
        for arch in ZIPS:
            with self.subTest(arch), tempfile.TemporaryDirectory() as tmp:
                files = zip_files(arch)
                for name, source in WINDOWS_TEXTS.items():
                    self.assertEqual(files[name], windows_text(source),
                                     "%s: CRLF lines, a UTF-8 byte-order mark" % name)
                exe = os.path.join(tmp, "tovmir.exe")
                with open(exe, "wb") as f:
                    f.write(files["tovmir.exe"])
                r = run([sys.executable, CHECK_EXE, "--arch", arch, "--version", VERSION, exe])
                self.assertEqual(r.returncode, 0, r.stderr)

    def test_each_installer_holds_what_its_zip_holds(self):
        for arch, name in INSTALLERS.items():
            with self.subTest(arch), tempfile.TemporaryDirectory() as tmp:
                # The 64-bit installer is a 64-bit program: it installs into the 64-bit
                # Program Files and registry view.
                self.assertEqual(program_arch(dist(name)), arch)
                r = run(["7z", "x", "-o" + tmp, dist(name)] + WINDOWS_FILES)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                for f, data in zip_files(arch).items():
                    with open(os.path.join(tmp, f), "rb") as held:
                        self.assertEqual(held.read(), data, f)

    def test_programs_and_installers_are_signed(self):
        if not OPTS.ca:
            self.skipTest("no --ca given: whose signature to look for is not known")
        with tempfile.TemporaryDirectory() as tmp:
            signed = []
            for arch in ZIPS:
                exe = os.path.join(tmp, arch + "-tovmir.exe")
                with open(exe, "wb") as f:
                    f.write(zip_files(arch)["tovmir.exe"])
                signed += [exe, dist(INSTALLERS[arch])]
            for path in signed:
                with self.subTest(os.path.basename(path)):
                    r = run(["osslsigncode", "verify", "-CAfile", OPTS.ca, "-in", path])
                    self.assertEqual(r.returncode, 0, r.stdout + r.stderr)


def main():
    global OPTS
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--dist", default=OPTS.dist, help="the packages (default dist/)")
    ap.add_argument("--ca", help="the certificate the Windows files must be signed with")
    OPTS, rest = ap.parse_known_args()
    OPTS.dist = os.path.abspath(OPTS.dist)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
