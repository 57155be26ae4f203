#!/usr/bin/python3
"""Is a window drawn at a high DPI crisp, or a 96-DPI picture stretched?

Usage:
  sharpness.py <shot.png> <reference-1x.png> [--at X,Y] [--size W,H]

<shot.png> holds the window at X,Y (default 0,0) with size W,H (default: the
rest of the shot); <reference-1x.png> is the same window drawn at 96 DPI. The measure is the edge width: along every
row and column, a run of steps of one sign is one edge, its width the run's
length; the mean is weighted by each edge's contrast. Drawing at the screen's
DPI keeps edges one or two pixels wide, as at 96 DPI; stretching the 96-DPI
picture (what Windows does to a window that is not DPI-aware) widens every
edge by the scale.

The tool stretches the reference itself, bilinearly as the compositor does,
and prints the three widths ("edge-width shot 1.31 1x 1.28 stretched 1.97").
Exit status 0 when the shot's edges are nearer the 1x width than the stretched
one's, 1 when they are not (the window looks stretched), 2 when the pictures
cannot be compared.

(Debian's interpreter: PIL and numpy are its packages.)
"""
import argparse
import sys

import numpy as np
from PIL import Image

# A step smaller than this is noise (gradients, dithering of the background);
# an edge with less contrast than this is not judged.
STEP = 3
CONTRAST = 96


def edge_width(grey):
    """Contrast-weighted mean width of the edges of a 2-D float array."""
    total_width = total_contrast = 0.0
    for lines in (grey, grey.T):
        diff = np.diff(lines, axis=1)
        sign = np.where(diff > STEP, 1, np.where(diff < -STEP, -1, 0))
        for d, s in zip(diff, sign):
            # Runs of equal non-zero sign: starts where the sign changes.
            change = np.flatnonzero(np.diff(np.concatenate(([0], s, [0]))) != 0)
            for start, end in zip(change[:-1], change[1:]):
                if s[start] == 0:
                    continue
                contrast = abs(float(d[start:end].sum()))
                if contrast >= CONTRAST:
                    total_width += (end - start) * contrast
                    total_contrast += contrast
    return total_width / total_contrast if total_contrast else 0.0


def grey_of(img):
    return np.asarray(img.convert("L"), dtype=np.float64)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("shot")
    parser.add_argument("reference")
    parser.add_argument("--at", default="0,0")
    parser.add_argument("--size", default=None)
    args = parser.parse_args()
    try:
        shot = Image.open(args.shot)
        ref = Image.open(args.reference)
        x, y = (int(v) for v in args.at.split(","))
        w, h = (int(v) for v in args.size.split(",")) if args.size else (shot.width - x, shot.height - y)
    except (OSError, ValueError) as e:
        print(f"cannot compare: {e}")
        return 2
    if x < 0 or y < 0 or x + w > shot.width or y + h > shot.height or w < ref.width:
        print(f"cannot compare: window {w}x{h} at {x},{y} is not inside the {shot.width}x{shot.height} shot")
        return 2
    window = shot.crop((x, y, x + w, y + h))
    stretched = ref.convert("RGB").resize((w, h), Image.BILINEAR)
    ours, one, wide = edge_width(grey_of(window)), edge_width(grey_of(ref)), edge_width(grey_of(stretched))
    print(f"edge-width shot {ours:.2f} 1x {one:.2f} stretched {wide:.2f}")
    if not one or not wide:
        print("cannot compare: no edges")
        return 2
    return 0 if ours < (one + wide) / 2 else 1


if __name__ == "__main__":
    sys.exit(main())
