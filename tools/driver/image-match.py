#!/usr/bin/python3
"""Share of a window's pixels that match a reference picture of it: does the
installer's real window show what skinview draws for the same skin?

Usage:
  image-match.py <shot.png> <reference.png> [--at X,Y] [--tolerance N] [--min-share F]

<shot.png> is a screenshot; the window sits in it at X,Y (default 0,0) with
the reference's size. A pixel matches when each of its R, G and B is within
N of the reference's. Prints one line ("match 0.9987 of 240000 pixels ...");
exit status 0 at or above F, 1 below it, 2 when the pictures cannot be
compared (unreadable, window outside the shot, a reference of one flat colour).

(Debian's interpreter: PIL and numpy are its packages, python3-pil and
python3-numpy.)
"""
import argparse
import sys

import numpy as np
from PIL import Image

# The exe and skinview draw with the same toolkit under the same Wine, and
# measured identical (share 1.0); a window that stays black scores 0.0. The
# tolerance absorbs rounding in blending and antialiasing; 0.95 leaves room
# for a hovered button (0.966) or a few glyphs drawn differently, and still
# rejects a window filled with a plain light background (0.71 main window,
# 0.90 dialog at this tolerance).
TOLERANCE = 16
MIN_SHARE = 0.95


def load_rgb(path):
    try:
        with Image.open(path) as image:
            return np.asarray(image.convert("RGB"), dtype=np.int16)
    except OSError as error:
        print(f"cannot compare: {error}")
        sys.exit(2)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("shot")
    parser.add_argument("reference")
    parser.add_argument("--at", default="0,0", help="X,Y of the window in the shot")
    parser.add_argument("--tolerance", type=int, default=TOLERANCE)
    parser.add_argument("--min-share", type=float, default=MIN_SHARE)
    args = parser.parse_args()
    try:
        x, y = (int(v) for v in args.at.split(","))
    except ValueError:
        parser.error(f"--at wants X,Y, not '{args.at}'")

    reference = load_rgb(args.reference)
    shot = load_rgb(args.shot)
    h, w = reference.shape[:2]
    if x < 0 or y < 0 or x + w > shot.shape[1] or y + h > shot.shape[0]:
        print(f"cannot compare: a {w}x{h} window at {x},{y} is not inside the {shot.shape[1]}x{shot.shape[0]} shot")
        return 2
    # A reference that is itself unpainted (black, one colour) would match an
    # unpainted window.
    if (reference == reference[0, 0]).all():
        print(f"cannot compare: the reference {args.reference} is one flat colour")
        return 2

    window = shot[y : y + h, x : x + w]
    matching = (np.abs(window - reference) <= args.tolerance).all(axis=2)
    share = matching.mean()
    passed = share >= args.min_share
    print(
        f"match {share:.4f} of {w * h} pixels (tolerance {args.tolerance}, "
        f"{'needs' if passed else 'below'} {args.min_share:.2f})"
    )
    return 0 if passed else 1


if __name__ == "__main__":
    sys.exit(main())
