#!/usr/bin/python3
"""sharpness.py on small pictures: a window drawn anew at 2x passes against
its 1x picture, the 1x picture stretched to 2x fails, and pictures that
cannot be compared are refused rather than judged."""
import os
import subprocess
import tempfile
import unittest

import numpy as np
from PIL import Image

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "sharpness.py")


def window(scale):
    """A light page with a dark bar and a ring, drawn at `scale` with edges
    one device pixel wide (as the toolkit and artgen draw)."""
    h, w = 60 * scale, 90 * scale
    y, x = (np.mgrid[0:h, 0:w] + 0.5) / scale
    grey = np.full((h, w), 235.0)
    bar = np.clip(0.5 - np.maximum(abs(x - 45) - 30, abs(y - 40) - 6) * scale, 0, 1)
    ring = np.clip(0.5 - (abs(np.hypot(x - 45, y - 18) - 10) - 1.5) * scale, 0, 1)
    grey = grey * (1 - bar) + 30 * bar
    grey = grey * (1 - ring) + 60 * ring
    return Image.fromarray(grey.astype(np.uint8)).convert("RGB")


class SharpnessTest(unittest.TestCase):
    def run_tool(self, shot, reference, *args):
        with tempfile.TemporaryDirectory() as tmp:
            paths = [os.path.join(tmp, n) for n in ("shot.png", "reference.png")]
            shot.save(paths[0])
            reference.save(paths[1])
            return subprocess.run([SCRIPT, *paths, *args], capture_output=True, text=True)

    def test_drawn_at_the_scale_passes_stretched_fails(self):
        one = window(1)
        crisp = self.run_tool(window(2), one)
        self.assertEqual(crisp.returncode, 0, crisp.stdout)
        stretched = self.run_tool(one.resize((180, 120), Image.BILINEAR), one)
        self.assertEqual(stretched.returncode, 1, stretched.stdout)

    def test_window_inside_a_larger_shot(self):
        shot = Image.new("RGB", (220, 160), (0, 0, 0))
        shot.paste(window(2), (20, 30))
        result = self.run_tool(shot, window(1), "--at", "20,30", "--size", "180,120")
        self.assertEqual(result.returncode, 0, result.stdout)

    def test_pictures_that_cannot_be_compared(self):
        flat = Image.new("RGB", (90, 60), (200, 200, 200))
        self.assertEqual(self.run_tool(flat, flat).returncode, 2)  # no edges
        result = self.run_tool(window(2), window(1), "--at", "100,0")
        self.assertEqual(result.returncode, 2, result.stdout)  # outside the shot


if __name__ == "__main__":
    unittest.main()
