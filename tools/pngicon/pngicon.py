#!/usr/bin/env python3
"""Rewrites an icon file so that every image in it is PNG-compressed.

  pngicon.py <in.ico> <out.ico>

Windows Vista and later read PNG images of any size in an icon; an
uncompressed 32-bit bitmap of 48x48 takes 9.6 KB. Each bitmap entry becomes a
PNG of the same RGBA pixels (its AND mask is not needed: with an alpha
channel Windows ignores it), recompressed by zopflipng; PNG entries go
through zopflipng as they are. The result is kept only when ImageMagick's
compare finds every image's pixels the same, alpha included and with alpha
off (the colours under transparent pixels). app/res/setup.ico was made so.
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_from_bitmap(dib):
    """A 32-bit BI_RGB icon bitmap (bottom-up BGRA, then the AND mask) as an RGBA PNG."""
    header_size, width, double_height, _, bits, compression = struct.unpack_from("<IiiHHI", dib, 0)
    if bits != 32 or compression != 0:
        sys.exit(f"pngicon: only 32-bit uncompressed bitmaps, not {bits}-bit compression {compression}")
    height = double_height // 2
    rows = []
    for y in range(height - 1, -1, -1):
        row = dib[header_size + y * width * 4:header_size + (y + 1) * width * 4]
        rgba = bytearray(row)
        rgba[0::4], rgba[2::4] = row[2::4], row[0::4]
        rows.append(b"\0" + bytes(rgba))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (PNG_SIGNATURE + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) +
            chunk(b"IEND", b""))


def zopfli(png, work):
    source, smaller = os.path.join(work, "in.png"), os.path.join(work, "out.png")
    with open(source, "wb") as f:
        f.write(png)
    subprocess.run(["zopflipng", "-y", source, smaller], check=True, capture_output=True)
    with open(smaller, "rb") as f:
        result = f.read()
    return result if len(result) < len(png) else png


def same_pixels(a, b):
    for alpha in ([], ["-alpha", "off"]):
        result = subprocess.run(["compare", "-metric", "AE"] + alpha + [a, b, "null:"], capture_output=True, text=True)
        if result.returncode > 1 or float(result.stderr.split()[0]) != 0:
            return False
    return True


def main():
    source, target = sys.argv[1:3]
    with open(source, "rb") as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        sys.exit(f"pngicon: {source} is not an icon file")
    entries = [struct.unpack_from("<BBBBHHII", data, 6 + 16 * i) for i in range(count)]
    images = []
    with tempfile.TemporaryDirectory() as work:
        for *_, size, offset in entries:
            image = data[offset:offset + size]
            images.append(zopfli(image if image.startswith(PNG_SIGNATURE) else png_from_bitmap(image), work))
        out = bytearray(struct.pack("<HHH", 0, 1, count))
        offset = 6 + 16 * count
        for (width, height, colours, reserved, planes, bits, _, _), image in zip(entries, images):
            out += struct.pack("<BBBBHHII", width, height, colours, reserved, planes, bits, len(image), offset)
            offset += len(image)
        for image in images:
            out += image
        candidate = os.path.join(work, "out.ico")
        with open(candidate, "wb") as f:
            f.write(out)
        for i in range(count):
            if not same_pixels(f"{source}[{i}]", f"{candidate}[{i}]"):
                sys.exit(f"pngicon: image {i} would change its pixels; {target} not written")
    with open(target, "wb") as f:
        f.write(out)
    print(f"pngicon: {len(data)} -> {len(out)} bytes")


if __name__ == "__main__":
    main()
