#!/usr/bin/env python3
"""Static checks of the shipped PE32 exe for faults that only 32-bit code has.

  check_pe32.py <exe> [<static library>...]

1. Delay-load descriptors. Windows' loader fills only the import table; a
   delay-load slot starts out pointing at its resolver stub. binutils' i386
   delay-load libraries leave the slot null when the stub was dropped (every
   function the headers declare dllimport), and ld does not even record the
   descriptors in the data directory. So the descriptors are looked for both
   in the directory and by their shape in every section: any slot that holds
   null is the call through null that crashed. The exe binds its system DLLs
   itself (platform/system_imports.h), so any descriptor at all is reported.
2. x87 arithmetic in our own code (the static libraries given): i686 is built
   for SSE2 so that both builds compute the same figures. Loads, stores and
   the integer conversions that 32-bit SSE2 cannot do (fild/fist) are fine;
   so is the one addition of 2**64 that completes an unsigned 64-bit
   conversion, which is exact.
Prints what it found; exits 1 on a fault.
"""
import re
import struct
import subprocess
import sys


class Image:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        machine, nsections = struct.unpack_from("<HH", data, pe + 4)
        optsize = struct.unpack_from("<H", data, pe + 20)[0]
        opt = pe + 24
        if machine != 0x14C or struct.unpack_from("<H", data, opt)[0] != 0x10B:
            raise ValueError("not PE32 (i386)")
        self.base = struct.unpack_from("<I", data, opt + 28)[0]
        ndirs = struct.unpack_from("<I", data, opt + 92)[0]
        self.dirs = [struct.unpack_from("<II", data, opt + 96 + 8 * i) for i in range(ndirs)]
        self.sections = []
        for i in range(nsections):
            s = opt + optsize + 40 * i
            name = data[s:s + 8].rstrip(b"\0").decode("ascii", "replace")
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
            flags = struct.unpack_from("<I", data, s + 36)[0]
            self.sections.append((name, va, max(vsize, rawsize), rawptr, rawsize, flags))

    def offset(self, rva):
        """File offset of an RVA backed by file data, else None."""
        for _, va, size, rawptr, rawsize, _ in self.sections:
            if va <= rva < va + size:
                return rawptr + (rva - va) if rva - va < rawsize else None
        return None

    def in_image(self, rva):
        return any(va <= rva < va + size for _, va, size, _, _, _ in self.sections)

    def u32(self, rva):
        off = self.offset(rva)
        return struct.unpack_from("<I", self.data, off)[0] if off is not None else 0

    def cstring(self, rva, limit=260):
        off = self.offset(rva)
        if off is None:
            return None
        end = self.data.find(b"\0", off, off + limit)
        return self.data[off:end].decode("ascii", "replace") if end > off else None


def delay_descriptors(img):
    """(rva, dll, attrs, iat, int) of every delay-load descriptor: recorded or found by shape."""
    found = {}
    rva, size = img.dirs[13] if len(img.dirs) > 13 else (0, 0)
    while size and rva and img.u32(rva + 4):
        found[rva] = rva
        rva += 32
    for _, va, _, rawptr, rawsize, _ in img.sections:
        for off in range(0, rawsize - 32, 4):
            attrs, name, hmod, iat, int_, bound, unload, stamp = struct.unpack_from(
                "<8I", img.data, rawptr + off)
            if attrs != 1 or bound or unload or stamp or not (name and hmod and iat and int_):
                continue
            if not all(img.in_image(x) for x in (name, hmod, iat, int_)):
                continue
            dll = img.cstring(name)
            if dll and re.fullmatch(r"[\w.-]+\.dll", dll, re.I):
                found[va + off] = va + off
    result = []
    for rva in sorted(found):
        attrs, name, _, iat, int_ = struct.unpack_from("<5I", img.data, img.offset(rva))
        result.append((rva, img.cstring(name) or "?", attrs, iat, int_))
    return result


def empty_slots(img, iat, int_):
    """Names of the functions whose delay-load slot holds null in the file."""
    names = []
    for i in range(4096):
        entry = img.u32(int_ + 4 * i)
        if entry == 0:
            break
        if img.u32(iat + 4 * i) == 0:
            name = "#%d" % (entry & 0xFFFF) if entry & 0x80000000 else img.cstring(entry + 2)
            names.append(name or "?")
    return names


X87_ARITHMETIC = re.compile(
    r"f(?:i?(?:add|sub|subr|mul|div|divr)|sqrt|i?comp?p?|ucomi?p?|comip?|chs|abs|rndint|prem1?|scale|"
    r"xtract|2xm1|yl2xp?1?|ptan|patan|sin|cos|sincos|tst|xam)[pslt]?")
LINE = re.compile(r"^\s*[0-9a-f]+:\s+(?:[0-9a-f]{2} )+\s*(\S+)")


def x87_arithmetic(libraries):
    faults = []
    for lib in libraries:
        dump = subprocess.run(["i686-w64-mingw32-objdump", "-d", lib], check=True, capture_output=True,
                              text=True).stdout
        function, recent = "?", []
        for line in dump.splitlines():
            if line.endswith(">:"):
                function, recent = line.split("<", 1)[-1][:-2], []
                continue
            m = LINE.match(line)
            if not m:
                continue
            mnemonic = m.group(1)
            if X87_ARITHMETIC.fullmatch(mnemonic):
                # fildll; cmpl $0,hi; jns; fadds 2**64: an unsigned 64-bit load.
                if not (mnemonic == "fadds" and "fildll" in recent):
                    faults.append("%s: %s in %s" % (lib, line.strip(), function))
            recent = (recent + [mnemonic])[-3:]
    return faults


def main():
    exe, libraries = sys.argv[1], sys.argv[2:]
    with open(exe, "rb") as f:
        img = Image(f.read())
    bad = False
    descriptors = delay_descriptors(img)
    if not descriptors:
        print("delay-load: no descriptor")
    for rva, dll, attrs, iat, int_ in descriptors:
        empty = empty_slots(img, iat, int_)
        recorded = "recorded" if img.dirs[13][0] else "not recorded in the data directory"
        print("delay-load descriptor at %#x for %s (%s)" % (rva, dll, recorded))
        if empty:
            print("  slots left null (a call through null on i386): %s" % ", ".join(empty))
        print("  the exe must not delay-load: list the functions in platform/system_imports.txt")
        bad = True
    if libraries:
        faults = x87_arithmetic(libraries)
        for fault in faults[:20]:
            print("x87 arithmetic: " + fault)
        if faults:
            print("%d x87 arithmetic instruction(s) in our code: build i686 with -msse2 -mfpmath=sse" % len(faults))
            bad = True
        else:
            print("x87: no arithmetic in %d static libraries of ours" % len(libraries))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
