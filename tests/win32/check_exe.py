#!/usr/bin/env python3
"""Checks a built tovmir.exe without running it: its PE header, imports, size and resources.

    check_exe.py --arch win32|win64 [--version V] EXE   one program
    check_exe.py --same-resources EXE EXE               two builds carry the same resources

A program is a GUI-subsystem PE32 (i386) or PE32+ (x86-64) image under 128 KiB that imports
only from KERNEL32, USER32, GDI32 and msvcrt (the run-time library is linked in), with the
meter's resources in Japanese and its application manifest (run as the invoker, Windows
Vista to 11, common controls 6, no declared DPI awareness); with --version, its version
block says V. Exit status 1 names what is wrong.
"""

import argparse
import re
import struct
import sys
import xml.etree.ElementTree as ET

MACHINE = {"win32": (0x014C, 0x10B, "PE32"), "win64": (0x8664, 0x20B, "PE32+")}
ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "MSVCRT.DLL"}
MAX_BYTES = 128 * 1024
SUBSYSTEM_GUI = 2
LANG_JAPANESE = 0x411

# (type, id) of every resource the program must carry. String 101 lives in block 101/16+1.
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
REQUIRED = {(RT_GROUP_ICON, 128): "icon group 128", (RT_DIALOG, 100): "about box 100",
            (RT_DIALOG, 102): "meter dialog 102", (RT_STRING, 101 // 16 + 1): "string 101",
            (RT_VERSION, 1): "version block 1", (RT_MANIFEST, 1): "manifest 1"}

# Windows Vista, 7, 8, 8.1, 10 and 11.
SUPPORTED_OS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


class Bad(Exception):
    pass


class Image:
    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise Bad("%s is not a Windows program" % path)
        pe = self.u32(0x3C)
        if d[pe:pe + 4] != b"PE\0\0":
            raise Bad("%s has no PE header" % path)
        self.machine, sections, _, _, _, opt_size, _ = struct.unpack_from("<HHIIIHH", d, pe + 4)
        opt = pe + 24
        self.magic = self.u16(opt)
        self.subsystem = self.u16(opt + 68)
        dirs = opt + (96 if self.magic == 0x10B else 112)
        self.dirs = [struct.unpack_from("<II", d, dirs + 8 * i) for i in range(16)]
        self.sections = [struct.unpack_from("<IIII", d, opt + opt_size + 40 * i + 8)
                         for i in range(sections)]  # virtual size, address, raw size, raw at

    def u16(self, at):
        return struct.unpack_from("<H", self.data, at)[0]

    def u32(self, at):
        return struct.unpack_from("<I", self.data, at)[0]

    def offset(self, rva):
        for vsize, vaddr, rsize, raw in self.sections:
            if vaddr <= rva < vaddr + max(vsize, rsize):
                return raw + rva - vaddr
        raise Bad("%s: address 0x%x is in no section" % (self.path, rva))

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii", "replace")

    def imports(self):
        rva = self.dirs[1][0]
        if not rva:
            return []
        dlls, at = [], self.offset(rva)
        while True:
            name_rva = self.u32(at + 12)
            if not name_rva:
                return dlls
            dlls.append(self.cstring(name_rva).upper())
            at += 20

    def resources(self):
        """{(type, id, language): bytes} of every resource with numeric type and id."""
        if not self.dirs[2][0]:
            return {}
        root = self.offset(self.dirs[2][0])
        found = {}

        def entries(at):
            named, numbered = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                yield key, target

        def subdir(target):
            return root + (target & 0x7FFFFFFF) if target & 0x80000000 else None

        for rtype, t in entries(root):
            for rid, n in entries(subdir(t)) if subdir(t) and rtype < 0x80000000 else ():
                for lang, leaf in entries(subdir(n)) if subdir(n) and rid < 0x80000000 else ():
                    data_rva, size = struct.unpack_from("<II", self.data, root + leaf)
                    start = self.offset(data_rva)
                    found[(rtype, rid, lang)] = self.data[start:start + size]
        return found


def manifest_problems(data):
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        return ["the manifest is not XML: %s" % e]
    problems = []
    levels = [e.get("level") for e in root.iter() if e.tag.endswith("requestedExecutionLevel")]
    if levels != ["asInvoker"]:
        problems.append("manifest: execution level %s, not asInvoker" % levels)
    os_ids = {e.get("Id") for e in root.iter() if e.tag.endswith("supportedOS")}
    if os_ids != SUPPORTED_OS:
        problems.append("manifest: supported OS %s" % sorted(os_ids))
    controls = [e for e in root.iter() if e.tag.endswith("assemblyIdentity")
                and e.get("name") == "Microsoft.Windows.Common-Controls"]
    if [e.get("version") for e in controls] != ["6.0.0.0"]:
        problems.append("manifest: no dependency on common controls 6")
    if any(e.tag.endswith("dpiAware") or e.tag.endswith("dpiAwareness") for e in root.iter()):
        problems.append("manifest: declares DPI awareness")
    return problems


def version_problems(data, version):
    """The version block's fixed file and product versions, and its FileVersion and
    ProductVersion texts ("a, b, c, d"), against the version V."""
    want = tuple(int(n) for n in version.split("."))
    problems = []
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return ["version block: no fixed file information"]
    fms, fls, pms, pls = struct.unpack_from("<IIII", data, at + 8)
    for what, ms, ls in (("file", fms, fls), ("product", pms, pls)):
        got = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        if got != want:
            problems.append("version block: %s version %s, not %s" % (what, got, version))
    text = data.decode("utf-16-le", "replace")
    for key in ("FileVersion", "ProductVersion"):
        m = re.search(key + "\x00+([^\x00]*)", text)
        if not m or m.group(1) != ", ".join(str(n) for n in want):
            problems.append("version block: %s %r" % (key, m.group(1) if m else None))
    return problems


def check(path, arch, version=None):
    img = Image(path)
    machine, magic, kind = MACHINE[arch]
    problems = []
    if img.machine != machine or img.magic != magic:
        problems.append("not a %s image for machine 0x%04X (machine 0x%04X, magic 0x%X)"
                        % (kind, machine, img.machine, img.magic))
    if img.subsystem != SUBSYSTEM_GUI:
        problems.append("subsystem %d, not the GUI subsystem" % img.subsystem)
    size = len(img.data)
    if size >= MAX_BYTES:
        problems.append("%d bytes, not under %d" % (size, MAX_BYTES))
    dlls = img.imports()
    extra = sorted(set(dlls) - ALLOWED_DLLS)
    if not dlls or extra:
        problems.append("imports %s; only %s are allowed" % (dlls, sorted(ALLOWED_DLLS)))
    res = img.resources()
    for (rtype, rid), what in REQUIRED.items():
        if (rtype, rid, LANG_JAPANESE) not in res:
            problems.append("no %s in Japanese" % what)
    if (RT_MANIFEST, 1, LANG_JAPANESE) in res:
        problems += manifest_problems(res[(RT_MANIFEST, 1, LANG_JAPANESE)])
    if version and (RT_VERSION, 1, LANG_JAPANESE) in res:
        problems += version_problems(res[(RT_VERSION, 1, LANG_JAPANESE)], version)
    if problems:
        raise Bad("%s: %s" % (path, "; ".join(problems)))
    print("%s: %s, GUI, %d bytes, imports %s, %d resources"
          % (path, kind, size, " ".join(dlls), len(res)))


def same_resources(a, b):
    ra, rb = Image(a).resources(), Image(b).resources()
    differ = sorted(k for k in set(ra) | set(rb) if ra.get(k) != rb.get(k))
    if differ:
        raise Bad("%s and %s differ in resources (type, id, language): %s" % (a, b, differ))
    print("%s and %s carry the same %d resources" % (a, b, len(ra)))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--arch", choices=sorted(MACHINE))
    ap.add_argument("--same-resources", action="store_true")
    ap.add_argument("--version", help="the version the version block must say (a.b.c.d)")
    ap.add_argument("exe", nargs="+")
    a = ap.parse_args()
    try:
        if a.same_resources:
            if len(a.exe) != 2:
                ap.error("--same-resources takes two programs")
            same_resources(*a.exe)
        elif a.arch and len(a.exe) == 1:
            check(a.exe[0], a.arch, a.version)
        else:
            ap.error("give --arch and one program, or --same-resources and two")
    except (Bad, OSError, struct.error, ValueError) as e:
        print("check_exe: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
