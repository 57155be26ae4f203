#!/usr/bin/env python3
"""Packs the skin folder into the 7z archive embedded in the exe.

  pack_skins.py <skins-dir> <image-list> <stage-dir> <out.7z>

Copies the skins into a stage folder, adds a plain placeholder for every
listed image the folder does not have yet (and says so), recompresses every
PNG losslessly with zopflipng, then runs 7zz a -t7z -m0=lzma2 -ms=on.
"""
import concurrent.futures
import os
import shutil
import struct
import subprocess
import sys
import zlib


def png(width, height, pixel):
    """An RGBA PNG; pixel(x, y) -> (r, g, b, a)."""
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")


def placeholder(path, width, height, frame=None):
    """A flat tile whose colour tells the state (1 normal, 2 hot, 3 pushed);
    animation frames carry a dot that runs round the tile."""
    name = os.path.basename(path)
    state = name[-5] if name[-5:-4].isdigit() else "1"
    colour = {"1": (120, 150, 200), "2": (70, 160, 255), "3": (30, 80, 170)}.get(state, (120, 150, 200))
    if frame is not None:
        import math
        angle = 2 * math.pi * frame / 25
        cx, cy = width / 2 + width / 3 * math.cos(angle), height / 2 + height / 3 * math.sin(angle)

        def pixel(x, y):
            inside = (x - cx) ** 2 + (y - cy) ** 2 < (width / 10) ** 2
            return (24, 144, 255, 255) if inside else (24, 144, 255, 40)
    else:
        def pixel(x, y):
            edge = x in (0, width - 1) or y in (0, height - 1)
            return (*colour, 255) if edge else (*colour, 200)
    with open(path, "wb") as f:
        f.write(png(width, height, pixel))


def same_pixels(a, b):
    """True when two images have the same pixels, by ImageMagick's compare:
    as shown (alpha included), and with alpha off, so that the colours kept
    under fully transparent pixels count too."""
    for alpha in ([], ["-alpha", "off"]):
        result = subprocess.run(["compare", "-metric", "AE"] + alpha + [a, b, "null:"], capture_output=True, text=True)
        if result.returncode > 1 or float(result.stderr.split()[0]) != 0:
            return False
    return True


def recompress(path):
    """Replaces the PNG by zopflipng's smaller encoding of it when its pixels
    (transparent ones' colours too) decode the same; returns the bytes saved."""
    smaller = path + ".zopfli"
    subprocess.run(["zopflipng", "-y", path, smaller], check=True, capture_output=True)
    before, after = os.path.getsize(path), os.path.getsize(smaller)
    if after < before and same_pixels(smaller, path):
        os.replace(smaller, path)
        return before - after
    if after < before:
        print(f"pack_skins: zopflipng changed the pixels of {path}: kept as it was", file=sys.stderr)
    os.remove(smaller)
    return 0


def main():
    skins, image_list, stage, out = sys.argv[1:5]
    shutil.rmtree(stage, ignore_errors=True)
    shutil.copytree(skins, stage)
    filled = 0
    for line in open(image_list, encoding="utf-8"):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        parts = line.split()
        width, height = (int(v) for v in parts[1].split("x"))
        frames = int(parts[2][1:]) if len(parts) > 2 else None
        for i in range(frames or 1):
            rel = parts[0] % i if frames else parts[0]
            target = os.path.join(stage, rel)
            if os.path.exists(target):
                continue
            os.makedirs(os.path.dirname(target), exist_ok=True)
            placeholder(target, width, height, i if frames else None)
            filled += 1
    if filled:
        print(f"pack_skins: {filled} images missing from {skins}: placeholders used", file=sys.stderr)
    # The archive is LZMA, which cannot shrink deflate streams; zopfli's
    # smaller ones (same pixels) make the exe smaller.
    images = [os.path.join(root, f) for root, _, files in os.walk(stage) for f in files if f.endswith(".png")]
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        savings = list(pool.map(recompress, images))
    print(f"pack_skins: {sum(1 for s in savings if s)} of {len(images)} images recompressed, {sum(savings)} bytes saved")
    if os.path.exists(out):
        os.remove(out)
    entries = sorted(os.listdir(stage))
    subprocess.run(["7zz", "a", "-t7z", "-m0=lzma2", "-ms=on", "-bd", "-bso0", os.path.abspath(out)] + entries,
                   cwd=stage, check=True)


if __name__ == "__main__":
    main()
