#!/usr/bin/env python3
"""Builds the toolkit tests' 7z archive: mixed-case names, a folder, the
4 MiB size limit on both sides, an empty file, byte-order marks and small
PNGs with known pixels (one with 2x art).   make_fixture.py <stage-dir> <out.7z>"""
import os
import shutil
import struct
import subprocess
import sys
import zlib

LIMIT = 4194304


def png(width, height, pixels):
    rows = b"".join(b"\0" + b"".join(bytes(p) for p in pixels[y * width:(y + 1) * width]) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def sized_skin(size):
    head, tail = b"<Window><!--", b"--></Window>"
    return head + b"x" * (size - len(head) - len(tail)) + tail


def main():
    stage, out = sys.argv[1:3]
    shutil.rmtree(stage, ignore_errors=True)
    os.makedirs(os.path.join(stage, "res", "Sub"))
    skin = '<?xml version="1.0"?><Window size="10,20"><Label name="a" text="中文"/></Window>'.encode("utf-8")
    files = {
        "mainWnd.xml": skin,
        "bom.xml": b"\xef\xbb\xbf" + skin,
        "exact.xml": sized_skin(LIMIT),
        "over.xml": sized_skin(LIMIT + 1),
        "empty.xml": b"",
        "res/Sub/Pixel.png": png(2, 1, [(255, 0, 0, 128), (0, 0, 255, 255)]),
        # 3 x 3: red corners, green edges, blue middle (nine-grid checks).
        "res/grid.png": png(3, 3, [(255, 0, 0, 255), (0, 255, 0, 255), (255, 0, 0, 255),
                                   (0, 255, 0, 255), (0, 0, 255, 255), (0, 255, 0, 255),
                                   (255, 0, 0, 255), (0, 255, 0, 255), (255, 0, 0, 255)]),
        # An edge between white and black, 1x and 2x (the 2x art's name).
        "res/edge.png": png(4, 1, [(255, 255, 255, 255)] * 2 + [(0, 0, 0, 255)] * 2),
        "res/edge@2x.png": png(8, 2, ([(255, 255, 255, 255)] * 3 + [(0, 0, 0, 255)] * 5) * 2),
    }
    for name, data in files.items():
        with open(os.path.join(stage, name), "wb") as f:
            f.write(data)
    if os.path.exists(out):
        os.remove(out)
    subprocess.run(["7zz", "a", "-t7z", "-m0=lzma2", "-ms=on", "-bd", "-bso0", os.path.abspath(out)] +
                   sorted(os.listdir(stage)), cwd=stage, check=True)


if __name__ == "__main__":
    main()
