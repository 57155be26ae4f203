#!/usr/bin/python3
"""image-match.py on small pictures: a painted window passes wherever it sits
in the shot, an unpainted (black) one fails, and pictures that cannot be
compared are refused rather than scored."""
import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np
from PIL import Image

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "image-match.py")
W, H = 60, 40  # the window
AT = (25, 30)  # where it sits in the 100x80 shot


def window():
    """A light gradient with a dark "button", like a skin page."""
    y, x = np.mgrid[0:H, 0:W]
    rgb = np.stack([200 + x // 2, 220 + y // 2, np.full_like(x, 250)], axis=2)
    rgb[15:25, 10:50] = (30, 110, 240)
    return rgb.astype(np.uint8)


def shot_with(win, at=AT):
    shot = np.zeros((80, 100, 3), np.uint8)
    if win is not None:
        shot[at[1] : at[1] + H, at[0] : at[0] + W] = win
    return shot


class ImageMatchTest(unittest.TestCase):
    def run_match(self, shot, reference, *args):
        with tempfile.TemporaryDirectory() as tmp:
            paths = [os.path.join(tmp, n) for n in ("shot.png", "reference.png")]
            Image.fromarray(shot).save(paths[0])
            Image.fromarray(reference).save(paths[1])
            return subprocess.run([SCRIPT, *paths, *args], capture_output=True, text=True)

    def test_cases(self):
        at = "--at=%d,%d" % AT
        shifted = np.clip(window().astype(int) + 12, 0, 255).astype(np.uint8)
        light = np.full((H, W, 3), (210, 230, 250), np.uint8)
        cases = [
            # name, shot, reference, args, exit status, share printed
            ("painted", shot_with(window()), window(), [at], 0, "match 1.0000"),
            ("rounding within the tolerance", shot_with(shifted), window(), [at], 0, "match 1.0000"),
            ("black window", shot_with(None), window(), [at], 1, "match 0.0000"),
            ("plain light fill", shot_with(light), window(), [at], 1, "below 0.95"),
            ("painted, but looked for elsewhere", shot_with(window()), window(), ["--at=0,0"], 1, "below"),
            ("window outside the shot", shot_with(window()), window(), ["--at=50,50"], 2, "not inside"),
            ("flat reference", shot_with(None), np.zeros((H, W, 3), np.uint8), [at], 2, "one flat colour"),
        ]
        for name, shot, reference, args, status, text in cases:
            with self.subTest(name):
                result = self.run_match(shot, reference, *args)
                self.assertEqual(result.returncode, status, result.stdout + result.stderr)
                self.assertIn(text, result.stdout)


if __name__ == "__main__":
    sys.exit(unittest.main())
