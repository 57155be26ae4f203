"""A small anti-aliased raster kit for the installer artwork.

Shapes are signed distance fields sampled at pixel centres (negative inside);
coverage is clip(0.5 - d, 0, 1). An edge on a whole-pixel coordinate therefore
comes out as a crisp 1-px line and a curve gets exactly one pixel of smoothing,
which is what small UI images need. Layers are composited in premultiplied
float RGBA and written as straight-alpha PNG.

Everything here is plain float arithmetic in a fixed order, so the same
inputs always give the same bytes.
"""

import math

import numpy as np
from PIL import Image, ImageDraw, ImageFont

FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
FONT_REGULAR = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

# 4x4 ordered-dither matrix. Smooth gradients across a 600-px background
# band visibly in 8 bits; ordered dither hides that and, unlike random
# noise, still compresses well.
_BAYER4 = (np.array([[0, 8, 2, 10],
                     [12, 4, 14, 6],
                     [3, 11, 1, 9],
                     [15, 7, 13, 5]], dtype=np.float64) + 0.5) / 16.0 - 0.5


def rgb(hex_text):
    """'#RRGGBB' -> (r, g, b) in 0..1."""
    h = hex_text.lstrip("#")
    return tuple(int(h[i:i + 2], 16) / 255.0 for i in (0, 2, 4))


def ramp(stops, t):
    """Colour at t (array, 0..1) along [(pos, colour), ...] with pos ascending."""
    t = np.asarray(t, dtype=np.float64)
    pos = [p for p, _ in stops]
    return np.stack([np.interp(t, pos, [c[ch] for _, c in stops]) for ch in range(3)], axis=-1)


# Device pixels per image pixel. Every coordinate and distance the artwork
# names stays in 1x pixels; only the sampling grid and the one-pixel edge
# that `cover` smooths over are in device pixels, so a 2x image is the same
# drawing with its edges as crisp as at 1x.
_scale = 1


def set_scale(scale):
    """Renders every following canvas and glyph mask at `scale` (1, 2, ...)."""
    global _scale
    _scale = scale


def cover(d):
    """Pixel coverage of the inside of a distance field."""
    return np.clip(0.5 - d * _scale, 0.0, 1.0)


def soft(d, radius):
    """A blurred edge: 1 well inside, 0 at `radius` outside, smooth between."""
    t = np.clip((d + radius) / (2.0 * radius), 0.0, 1.0)
    return 1.0 - t * t * (3.0 - 2.0 * t)


def smoothstep(e0, e1, x):
    t = np.clip((np.asarray(x, dtype=np.float64) - e0) / (e1 - e0), 0.0, 1.0)
    return t * t * (3.0 - 2.0 * t)


class Canvas:
    """A premultiplied RGBA float surface with pixel-centre coordinates."""

    def __init__(self, w, h):
        self.w, self.h = w, h
        dw, dh = round(w * _scale), round(h * _scale)
        self.col = np.zeros((dh, dw, 3))
        self.alpha = np.zeros((dh, dw))
        ys, xs = np.mgrid[0:dh, 0:dw].astype(np.float64)
        self.x = (xs + 0.5) / _scale
        self.y = (ys + 0.5) / _scale

    # --- distance fields -------------------------------------------------
    def circle(self, cx, cy, r):
        return np.hypot(self.x - cx, self.y - cy) - r

    def rrect(self, x0, y0, x1, y1, r):
        """Rounded rectangle with edges at x0..x1, y0..y1 and corner radius r."""
        cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
        qx = np.abs(self.x - cx) - ((x1 - x0) / 2.0 - r)
        qy = np.abs(self.y - cy) - ((y1 - y0) / 2.0 - r)
        outside = np.hypot(np.maximum(qx, 0.0), np.maximum(qy, 0.0))
        return outside + np.minimum(np.maximum(qx, qy), 0.0) - r

    def segment(self, ax, ay, bx, by):
        """Distance to the segment a-b."""
        px, py = self.x - ax, self.y - ay
        vx, vy = bx - ax, by - ay
        t = np.clip((px * vx + py * vy) / (vx * vx + vy * vy), 0.0, 1.0)
        return np.hypot(px - vx * t, py - vy * t)

    def stroke(self, points, width):
        """A polyline drawn with a round pen of the given width."""
        d = None
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            s = self.segment(ax, ay, bx, by)
            d = s if d is None else np.minimum(d, s)
        return d - width / 2.0

    def polygon(self, points):
        """Convex polygon, points clockwise on screen (y down)."""
        d = None
        n = len(points)
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            ex, ey = bx - ax, by - ay
            length = math.hypot(ex, ey)
            # Outward normal of a clockwise edge in y-down coordinates.
            s = ((self.x - ax) * ey - (self.y - ay) * ex) / length
            d = s if d is None else np.maximum(d, s)
        return d

    def angle(self, cx, cy):
        """Clockwise screen angle from 12 o'clock, 0..2pi."""
        return np.mod(np.arctan2(self.x - cx, -(self.y - cy)), 2.0 * math.pi)

    # --- paint -------------------------------------------------------------
    def paint(self, amount, colour, opacity=1.0):
        """Composites `colour` over the canvas with coverage `amount`."""
        a = np.clip(amount, 0.0, 1.0) * opacity
        a = np.broadcast_to(a, self.alpha.shape)
        c = np.broadcast_to(np.asarray(colour, dtype=np.float64), self.alpha.shape + (3,))
        self.col = c * a[..., None] + self.col * (1.0 - a)[..., None]
        self.alpha = a + self.alpha * (1.0 - a)

    def erase(self, amount):
        """Cuts a hole: removes `amount` of what is there."""
        keep = 1.0 - np.clip(amount, 0.0, 1.0)
        self.col = self.col * keep[..., None]
        self.alpha = self.alpha * keep

    def arc(self, cx, cy, r, start, sweep, width):
        """An arc of radius r with round ends, from angle `start` clockwise
        through `sweep` (radians, 0 = 12 o'clock)."""
        along = np.mod(self.angle(cx, cy) - start, 2.0 * math.pi)
        on_ring = np.abs(np.hypot(self.x - cx, self.y - cy) - r)
        ends = np.minimum(
            np.hypot(self.x - (cx + r * math.sin(start)), self.y - (cy - r * math.cos(start))),
            np.hypot(self.x - (cx + r * math.sin(start + sweep)),
                     self.y - (cy - r * math.cos(start + sweep))))
        return np.where(along <= sweep, on_ring, ends) - width / 2.0

    def image(self, dither=False):
        a = self.alpha
        safe = np.where(a > 0.0, a, 1.0)
        straight = self.col / safe[..., None]
        if dither:
            dh, dw = a.shape
            bayer = np.tile(_BAYER4, (dh // 4 + 1, dw // 4 + 1))[:dh, :dw]
            straight = straight + bayer[..., None] / 255.0
        rgb8 = np.clip(np.floor(straight * 255.0 + 0.5), 0, 255).astype(np.uint8)
        a8 = np.clip(np.floor(a * 255.0 + 0.5), 0, 255).astype(np.uint8)
        # Fully transparent pixels carry no colour: zero them so equal images
        # compress equally and no stray colour bleeds when a decoder scales.
        rgb8[a8 == 0] = 0
        return Image.fromarray(np.dstack([rgb8, a8]), "RGBA")


def glyph_mask(w, h, text, font_path, size, x, y, anchor=None, supersample=4):
    """Text coverage, rendered at `supersample` times the size and box-filtered
    down so glyph edges get the same soft 1-px finish as the shapes.

    With anchor None the ink box is centred on (x, y), which centres a single
    symbol optically; otherwise `anchor` is Pillow's (e.g. "ls": left end of
    the baseline).
    """
    ss = supersample * _scale
    w, h = round(w * _scale), round(h * _scale)
    font = ImageFont.truetype(font_path, round(size * ss))
    big = Image.new("L", (w * supersample, h * supersample), 0)
    draw = ImageDraw.Draw(big)
    if anchor is None:
        left, top, right, bottom = draw.textbbox((0, 0), text, font=font)
        pos = (round(x * ss - (left + right) / 2.0), round(y * ss - (top + bottom) / 2.0))
        draw.text(pos, text, font=font, fill=255)
    else:
        draw.text((round(x * ss), round(y * ss)), text, font=font, fill=255, anchor=anchor)
    arr = np.asarray(big, dtype=np.float64) / 255.0
    return arr.reshape(h, supersample, w, supersample).mean(axis=(1, 3))


def text_width(text, font_path, size):
    return ImageFont.truetype(font_path, size).getlength(text)
