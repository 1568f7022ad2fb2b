#!/usr/bin/env python3
"""Turns a linked stub into the shipped image and proves it.

usage: stubimage.py LINKED.exe OUT.exe

The program part must fit in 65,536 bytes; the image is padded with zeros to
exactly that size. Checks: PE machine i386 or x86-64, GUI subsystem, a
relocatable image with a non-executable stack and heap (DYNAMIC_BASE and
NX_COMPAT), only the sections of src/run/stub.ld and no TLS directory (no C
runtime start-up), imports only from known DLLs or from comctl32 bound side by
side by the manifest (no DLL beside the installer can stand in for them), and
the stub header block present. Prints the program-part size; fails, naming the
overshoot, when it is larger.
"""
import struct
import sys

STUB_SIZE = 65536
# Static imports only from DLLs Windows always takes from the system folder,
# never from beside the installer: known DLLs, and comctl32, which the stub's
# manifest binds to the side-by-side common controls (src/package/libraries.h).
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comdlg32.dll", "advapi32.dll",
              "msvcrt.dll"}
SIDE_BY_SIDE = {"comctl32.dll": b'name="Microsoft.Windows.Common-Controls"'}
MACHINES = {0x14C: "i386", 0x8664: "x86-64"}
SECTIONS = {".text", ".data", ".pdata", ".rsrc", ".reloc"}
DYNAMIC_BASE, NX_COMPAT = 0x40, 0x100


def fail(msg):
    print(f"stubimage: {msg}", file=sys.stderr)
    sys.exit(1)


def imports(data, pe, magic, sections):
    dirs = pe + 24 + (96 if magic == 0x10B else 112)
    rva, size = struct.unpack_from("<II", data, dirs + 8)  # directory 1: imports

    def at(r):
        for va, vsize, raw in sections:
            if va <= r < va + max(vsize, 1):
                return r - va + raw
        fail(f"import RVA {r:#x} outside every section")

    names = []
    off = at(rva)
    while True:
        desc = struct.unpack_from("<IIIII", data, off)
        if desc == (0, 0, 0, 0, 0):
            break
        name_off = at(desc[3])
        names.append(data[name_off:data.index(b"\0", name_off)].decode().lower())
        off += 20
    return names


def main():
    if len(sys.argv) != 3:
        fail("usage: stubimage.py LINKED.exe OUT.exe")
    data = open(sys.argv[1], "rb").read()
    size = len(data)
    if size > STUB_SIZE:
        fail(f"{sys.argv[1]}: program part is {size} bytes, {size - STUB_SIZE} over {STUB_SIZE}")
    if data[:2] != b"MZ":
        fail("not an MZ image")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        fail("no PE signature")
    machine, nsections = struct.unpack_from("<HH", data, pe + 4)
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    subsystem, dll_characteristics = struct.unpack_from("<HH", data, pe + 24 + 68)
    if machine not in MACHINES:
        fail(f"machine {machine:#x} is neither i386 nor x86-64")
    if subsystem != 2:
        fail(f"subsystem {subsystem} is not GUI (2)")
    wanted = DYNAMIC_BASE | NX_COMPAT
    if dll_characteristics & wanted != wanted:
        fail(f"DLL characteristics {dll_characteristics:#x} lack DYNAMIC_BASE or NX_COMPAT")
    dirs = pe + 24 + (96 if magic == 0x10B else 112)
    if struct.unpack_from("<I", data, dirs + 8 * 5 + 4)[0] == 0:
        fail("no base relocations: the image cannot move")
    if struct.unpack_from("<I", data, dirs + 8 * 9)[0] != 0:
        fail("a TLS directory: C runtime start-up code was linked in")
    sections = []
    sec = pe + 24 + opt_size
    for i in range(nsections):
        name = data[sec + 40 * i:sec + 40 * i + 8].rstrip(b"\0").decode(errors="replace")
        if name not in SECTIONS:
            fail(f"section {name} is not in the stub's layout (src/run/stub.ld)")
        vsize, va, rawsize, raw = struct.unpack_from("<IIII", data, sec + 40 * i + 8)
        sections.append((va, vsize, raw))
    dlls = imports(data, pe, magic, sections)
    bad = [d for d in dlls if d not in KNOWN_DLLS and d not in SIDE_BY_SIDE]
    if bad:
        fail(f"imports from DLLs that could be loaded from beside the installer: {', '.join(bad)}")
    for d in dlls:
        if d in SIDE_BY_SIDE and data.find(SIDE_BY_SIDE[d]) < 0:
            fail(f"imports {d} without the manifest that binds it side by side")
    if data.find(b"QKgT\x29\x48\x00\x00\x01\x00") < 0:
        fail("stub header block not found in the image")
    open(sys.argv[2], "wb").write(data + bytes(STUB_SIZE - size))
    print(f"stub {MACHINES[machine]}: program part {size} bytes, {STUB_SIZE - size} free; "
          f"imports {', '.join(dlls)}")


main()
