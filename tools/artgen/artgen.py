#!/usr/bin/python3
"""Draws every PNG image of the installer skins into ui/skins/.

Usage:
  tools/artgen/artgen.py                 write all images into ui/skins/: the 1x
                                         set and the 2x set ("logo@2x.png")
  tools/artgen/artgen.py --check         regenerate in memory, compare with the
                                         committed files, exit 1 on a difference
  tools/artgen/artgen.py --sheet F.png   also write a contact sheet of all images
  tools/artgen/artgen.py --scale 2 --out D
                                         the same images at twice the pixels into D

The images carry no Chinese text: the toolkit renders every caption and label
with the skin's font, so translations never need new artwork. Colours follow
the skins' own palette (#1890FF / #1675FE blue, #8991AF muted text).
"""

import argparse
import io
import math
import os
import sys

import numpy as np
from PIL import Image, ImageDraw, ImageFont

from raster import (FONT_BOLD, FONT_REGULAR, Canvas, cover, glyph_mask, ramp,
                    rgb, set_scale, smoothstep, soft, text_width)

# --- palette ---------------------------------------------------------------
BRAND = rgb("#1890FF")
BRAND_DEEP = rgb("#1675FE")
BRAND_DARK = rgb("#0E5FD8")
BRAND_LIGHT = rgb("#45ADFF")
VIOLET = rgb("#6C63FF")
INK = rgb("#1F2A44")
MUTED = rgb("#8991AF")
WHITE = (1.0, 1.0, 1.0)
DANGER = rgb("#F5484F")
DANGER_DEEP = rgb("#D9363E")
SUCCESS_LIGHT = rgb("#3AD29F")
SUCCESS = rgb("#16A874")
AMBER_LIGHT = rgb("#FFC53D")
AMBER = rgb("#FA8C16")

NORMAL, HOT, PUSHED = 1, 2, 3


def outline(d):
    """The 1-px line just inside a shape's edge."""
    return cover(d) - cover(d + 1.0)


# --- window chrome -----------------------------------------------------------
def title_button(size, glyph, state):
    """Minimise / close buttons: a bare glyph, a round tint on hover and a
    deeper one when pressed; close turns red like every Windows close box."""
    cv = Canvas(size, size)
    c = size / 2.0
    is_close = glyph == "close"
    # At most 23 px across, so the disc stays a button and not a banner when
    # the 30-px version sits in a 30-px dialog title row.
    r = min(c - 0.5, 11.5)
    if state != NORMAL:
        if is_close:
            cv.paint(cover(cv.circle(c, c, r)), DANGER if state == HOT else DANGER_DEEP)
        else:
            cv.paint(cover(cv.circle(c, c, r)), BRAND, 0.12 if state == HOT else 0.24)
    if state == NORMAL:
        ink = MUTED
    elif is_close:
        ink = WHITE
    else:
        ink = BRAND_DEEP if state == HOT else BRAND_DARK
    arm = 4.5 if size <= 24 else 5.0
    if is_close:
        d = np.minimum(cv.stroke([(c - arm, c - arm), (c + arm, c + arm)], 1.6),
                       cv.stroke([(c + arm, c - arm), (c - arm, c + arm)], 1.6))
    else:
        # Whole-pixel rows keep the bar crisp instead of a grey double line.
        d = cv.rrect(round(c - arm - 0.5), round(c), round(c + arm + 0.5), round(c) + 1.5, 0.0)
    cv.paint(cover(d), ink)
    return cv.image()


def back_button(state):
    """Back arrow at the left of a 64 x 30 pill; the right part stays free for
    a label the skin may add (text padding 24 left)."""
    cv = Canvas(64, 30)
    if state != NORMAL:
        cv.paint(cover(cv.rrect(0, 0, 64, 30, 15)), BRAND, 0.10 if state == HOT else 0.20)
    ink = {NORMAL: MUTED, HOT: BRAND_DEEP, PUSHED: BRAND_DARK}[state]
    cv.paint(cover(cv.stroke([(18.5, 9.5), (13.0, 15.0), (18.5, 20.5)], 1.8)), ink)
    return cv.image()


# --- main window ---------------------------------------------------------------
def background():
    """600 x 400 client background: a cool light wash, two soft colour clouds,
    faint orbit lines in the top-right corner and a crisp 1-px frame."""
    w, h = 600, 400
    cv = Canvas(w, h)
    base = ramp([(0.0, rgb("#E8F1FF")), (0.55, rgb("#FFFFFF")), (1.0, rgb("#F6F8FC"))], cv.y / h)
    cv.paint(1.0, base)
    # Soft clouds: radial fades, no blur pass needed.
    for cx, cy, r, colour, strength in ((610, -30, 300, rgb("#CFE2FF"), 0.70),
                                        (-60, 430, 260, rgb("#E5E1FF"), 0.55),
                                        (250, -120, 230, rgb("#DDEEFF"), 0.45)):
        dist = np.hypot(cv.x - cx, cv.y - cy) / r
        cv.paint(1.0 - smoothstep(0.0, 1.0, dist), colour, strength)
    for r in (150.0, 215.0, 280.0):
        cv.paint(cover(np.abs(cv.circle(600, 0, r)) - 0.5), BRAND, 0.07)
    for cx, cy in ((600 - 150 * math.sin(0.95), 150 * math.cos(0.95)),
                   (600 - 215 * math.sin(1.25), 215 * math.cos(1.25)),
                   (600 - 280 * math.sin(0.55), 280 * math.cos(0.55))):
        cv.paint(cover(cv.circle(cx, cy, 2.5)), BRAND, 0.22)
    cv.paint(outline(cv.rrect(0, 0, w, h, 0)), rgb("#D3DBEA"))
    # Stored as RGBA like every other image, so the toolkit meets one pixel
    # format only.
    return cv.image(dither=True)


def logo():
    """Product mark and word mark, 294 x 80, transparent around."""
    w, h = 294, 80
    size, gap = 30, 14
    first, second = "Ondra", "Velqor"
    word = text_width(first + second, FONT_BOLD, size)
    while 64 + gap + word > w - 4:
        size -= 1
        word = text_width(first + second, FONT_BOLD, size)
    x0 = round((w - (64 + gap + word)) / 2.0)
    cv = Canvas(w, h)
    top = 6
    # Shadow under the tile, tinted with the brand colour so it reads as light.
    cv.paint(soft(cv.rrect(x0 + 4, top + 8, x0 + 60, top + 66, 16), 6.0), BRAND, 0.30)
    tile = cv.rrect(x0, top, x0 + 64, top + 64, 16)
    diag = ((cv.x - x0) + (cv.y - top)) / 128.0
    cv.paint(cover(tile), ramp([(0.0, rgb("#3AA8FF")), (1.0, rgb("#5B62FF"))], diag))
    cv.paint(outline(tile) * (cv.y < top + 32), WHITE, 0.25)
    cx, cy = x0 + 32.0, top + 32.0
    cv.paint(cover(np.abs(cv.circle(cx, cy, 17.0)) - 2.5), WHITE, 0.40)
    cv.paint(cover(cv.stroke([(cx - 10.5, cy - 9.5), (cx, cy + 11.5), (cx + 10.5, cy - 9.5)], 6.5)),
             WHITE)
    baseline = top + 32 + round(size * 0.36)
    tx = x0 + 64 + gap
    cv.paint(glyph_mask(w, h, first, FONT_BOLD, size, tx, baseline, "ls"), INK)
    tx2 = tx + text_width(first, FONT_BOLD, size)
    cv.paint(glyph_mask(w, h, second, FONT_BOLD, size, tx2, baseline, "ls"), BRAND_DEEP)
    return cv.image()


def pill_button(state, stops_by_state):
    """A 200 x 46 call-to-action pill; the toolkit writes its white label."""
    cv = Canvas(200, 46)
    body = cv.rrect(0, 0, 200, 46, 23)
    t = (cv.x / 200.0) * 0.8 + (cv.y / 46.0) * 0.2
    cv.paint(cover(body), ramp(stops_by_state[state], t))
    if state == PUSHED:
        # A faint inner shadow along the top makes it look pressed in.
        cv.paint(cover(body) * (1.0 - smoothstep(0.0, 5.0, cv.y)), rgb("#0A3E9E"), 0.25)
    else:
        cv.paint(outline(body) * (cv.y < 23), WHITE, 0.30)
    return cv.image()


INSTALL_STOPS = {
    NORMAL: [(0.0, rgb("#2E9BFF")), (1.0, rgb("#1675FE"))],
    HOT: [(0.0, rgb("#4AAEFF")), (1.0, rgb("#2E86FF"))],
    PUSHED: [(0.0, rgb("#1A82EE")), (1.0, rgb("#0F5FDC"))],
}
EXPERIENCE_STOPS = {
    NORMAL: [(0.0, rgb("#2E8FFF")), (1.0, rgb("#5F5CFF"))],
    HOT: [(0.0, rgb("#4BA2FF")), (1.0, rgb("#7572FF"))],
    PUSHED: [(0.0, rgb("#1B77E6")), (1.0, rgb("#4B47E0"))],
}


def check_box(checked):
    """15 x 14 box image for the dest rect "0,2,15,16": a 14 x 14 box with a
    transparent last column, so it is drawn 1:1 without scaling."""
    cv = Canvas(15, 14)
    box = cv.rrect(0, 0, 14, 14, 3)
    if checked:
        cv.paint(cover(box), ramp([(0.0, BRAND_LIGHT), (1.0, BRAND_DEEP)], cv.y / 14.0))
        cv.paint(cover(cv.stroke([(3.6, 7.1), (6.0, 9.6), (10.5, 4.7)], 1.7)), WHITE)
    else:
        cv.paint(cover(box), WHITE)
        cv.paint(outline(box), rgb("#B5BFD4"))
    return cv.image()


def custom_arrow(hot):
    """16 x 16 chevron after the "custom install" link (dest "84,2,100,18")."""
    cv = Canvas(16, 16)
    cv.paint(cover(cv.stroke([(6.5, 4.5), (10.0, 8.0), (6.5, 11.5)], 1.6)),
             BRAND if hot else MUTED)
    return cv.image()


def outlined_box(w, h, fill, border):
    cv = Canvas(w, h)
    box = cv.rrect(0, 0, w, h, 4)
    cv.paint(cover(box), fill)
    cv.paint(outline(box), border)
    return cv.image()


def browse_button(state):
    """81 x 32 secondary button beside the folder field; its label comes from
    the skin. Hover and press tint it with the brand blue."""
    fill, border = {NORMAL: (WHITE, rgb("#C9D2E3")),
                    HOT: (rgb("#F0F7FF"), BRAND),
                    PUSHED: (rgb("#DCEBFF"), BRAND_DEEP)}[state]
    return outlined_box(81, 32, fill, border)


def folder_field():
    """340 x 32 frame of the folder edit box (text padding "9,0,9,3")."""
    return outlined_box(340, 32, WHITE, rgb("#D0D7E5"))


def tip_bubble():
    """116 x 32 hint bubble: a 26-px body and a tail at the bottom left that
    points at the agreement check box below it."""
    cv = Canvas(116, 32)
    body = cv.rrect(0, 0, 116, 26, 4)
    tail = cv.polygon([(9.0, 25.0), (23.0, 25.0), (16.0, 32.0)])
    cv.paint(cover(np.minimum(body, tail)), rgb("#2B3245"), 0.92)
    return cv.image()


def progress_track():
    cv = Canvas(520, 8)
    cv.paint(cover(cv.rrect(0, 0, 520, 8, 2)), rgb("#E2E8F3"))
    return cv.image()


def progress_fill():
    """Full-length fill: the toolkit shows its left part, so the gradient
    travels from blue to violet as the installation proceeds."""
    cv = Canvas(520, 8)
    bar = cv.rrect(0, 0, 520, 8, 2)
    cv.paint(cover(bar), ramp([(0.0, rgb("#36A3FF")), (0.6, BRAND_DEEP), (1.0, VIOLET)],
                              cv.x / 520.0))
    return cv.image()


def finished_mark():
    """80 x 80 success mark on the finished page."""
    cv = Canvas(80, 80)
    cv.paint(cover(cv.circle(40, 40, 38)), SUCCESS_LIGHT, 0.16)
    disc = cv.circle(40, 40, 30)
    cv.paint(cover(disc), ramp([(0.0, SUCCESS_LIGHT), (1.0, SUCCESS)], (cv.x + cv.y) / 160.0))
    cv.paint(outline(disc) * (cv.y < 40), WHITE, 0.30)
    cv.paint(cover(cv.stroke([(27.0, 41.0), (36.0, 50.0), (53.5, 32.0)], 5.0)), WHITE)
    return cv.image()


INSTALL_CENTRE = 100.0


def install_arrow(cv, bob):
    """The download arrow, `bob` pixels below its rest position."""
    c = INSTALL_CENTRE
    return np.minimum(cv.stroke([(c, 74.0 + bob), (c, 104.0 + bob)], 6.0),
                      cv.stroke([(c - 12.0, 93.0 + bob), (c, 105.0 + bob), (c + 12.0, 93.0 + bob)],
                                6.0))


def install_base():
    """The still part of the 200 x 200 progress animation, drawn once under
    the frames: halo, ring track, the disc and its tray. Only the comet and
    the arrow move, so the frames carry nothing else and pack small."""
    cv = Canvas(200, 200)
    c = INSTALL_CENTRE
    cv.paint(soft(cv.circle(c, c, 66.0), 8.0), BRAND, 0.09)
    cv.paint(cover(np.abs(cv.circle(c, c, 84.0)) - 2.5), BRAND, 0.10)
    # Disc with its own soft shadow.
    cv.paint(soft(cv.circle(c, c + 6.0, 50.0), 9.0), BRAND_DEEP, 0.30)
    disc = cv.circle(c, c, 54.0)
    cv.paint(cover(disc), ramp([(0.0, BRAND_LIGHT), (1.0, BRAND_DEEP)], (cv.y - 46.0) / 108.0))
    cv.paint(outline(disc) * (cv.y < c), WHITE, 0.30)
    cv.paint(cover(cv.stroke([(c - 20.0, 108.0), (c - 20.0, 120.0), (c + 20.0, 120.0),
                              (c + 20.0, 108.0)], 5.0)), WHITE, 0.85)
    return cv.image()


def install_frame(k, count=25):
    """Frame k of the progress animation, on transparency over install_base():
    a comet sweeps once round the track per cycle while the download arrow
    bobs; frame `count` would equal frame 0, so the loop is seamless."""
    phase = k / float(count)
    cv = Canvas(200, 200)
    c = INSTALL_CENTRE
    # Comet: bright head, tail fading over 130 degrees.
    sweep = math.radians(130.0)
    head = 2.0 * math.pi * phase
    behind = np.mod(head - cv.angle(c, c), 2.0 * math.pi)
    fade = np.where(behind <= sweep, 1.0 - behind / sweep, 0.0) ** 1.4
    ring = cover(np.abs(cv.circle(c, c, 84.0)) - 2.5)
    colour = ramp([(0.0, BRAND), (1.0, VIOLET)], behind / sweep)
    hx, hy = c + 84.0 * math.sin(head), c - 84.0 * math.cos(head)
    cv.paint(np.maximum(ring * fade, cover(cv.circle(hx, hy, 2.5))), colour)
    cv.paint(cover(install_arrow(cv, 4.0 * math.sin(2.0 * math.pi * phase))), WHITE)
    # 256 colours chosen from the frame's own (a comet of two hues and a
    # white arrow) show no difference to the eye, and let the build store each
    # frame as a palette image: a quarter fewer bytes in the archive.
    quantised = cv.image().quantize(256, method=Image.Quantize.LIBIMAGEQUANT,
                                    dither=Image.Dither.NONE).convert("RGBA")
    pixels = np.array(quantised)
    pixels[pixels[..., 3] == 0] = 0
    return Image.fromarray(pixels, "RGBA")


# --- dialog icons ----------------------------------------------------------------
def icon_disc(light, deep):
    cv = Canvas(40, 40)
    disc = cv.circle(20, 20, 19)
    cv.paint(cover(disc), ramp([(0.0, light), (1.0, deep)], (cv.x + cv.y) / 80.0))
    cv.paint(outline(disc) * (cv.y < 20), WHITE, 0.30)
    return cv


def icon_question():
    cv = icon_disc(BRAND_LIGHT, BRAND_DEEP)
    cv.paint(glyph_mask(40, 40, "?", FONT_BOLD, 25, 20.0, 20.0), WHITE)
    return cv.image()


def icon_warning():
    cv = icon_disc(AMBER_LIGHT, AMBER)
    cv.paint(cover(cv.stroke([(20.0, 10.5), (20.0, 22.5)], 4.2)), WHITE)
    cv.paint(cover(cv.circle(20.0, 29.0, 2.5)), WHITE)
    return cv.image()


def icon_network():
    """Wi-Fi waves with the outer ones faded (a weak signal) and a small amber
    badge: the connection is the problem."""
    cv = icon_disc(BRAND_LIGHT, BRAND_DEEP)
    base_x, base_y = 18.5, 27.0
    half = math.radians(45.0)
    for r, strength in ((6.0, 1.0), (11.0, 0.65), (16.0, 0.35)):
        cv.paint(cover(cv.arc(base_x, base_y, r, -half, 2.0 * half, 2.8)), WHITE, strength)
    cv.paint(cover(cv.circle(base_x, base_y, 2.2)), WHITE)
    badge = cv.circle(31.5, 31.5, 7.5)
    cv.erase(cover(badge - 1.5))
    cv.paint(cover(badge), ramp([(0.0, AMBER_LIGHT), (1.0, AMBER)], (cv.y - 24.0) / 15.0))
    cv.paint(cover(cv.stroke([(31.5, 27.8), (31.5, 31.6)], 2.0)), WHITE)
    cv.paint(cover(cv.circle(31.5, 35.0, 1.15)), WHITE)
    return cv.image()


# --- the image list ----------------------------------------------------------------
def three_states(path_format, draw):
    """Normal, hot and pushed images named 1, 2, 3."""
    return [(path_format.format(i), lambda s=state: draw(s))
            for i, state in enumerate((NORMAL, HOT, PUSHED), 1)]


def images():
    """(path under ui/skins, drawing function) for every image, in a fixed order."""
    common, main, box = "res/common/", "res/mainWnd/", "res/MessageBoxWnd/"
    out = []
    out += three_states(common + "closebtn{}.png", lambda s: title_button(24, "close", s))
    out += three_states(common + "closebtnM_{}.png", lambda s: title_button(30, "close", s))
    out += three_states(common + "minbtn{}.png", lambda s: title_button(24, "min", s))
    out += [(f"{main}bg{i}.png", background) for i in range(1, 5)]
    out += three_states(main + "backBtn{}.png", back_button)
    out += [(main + "Cb1.png", lambda: check_box(False)), (main + "Cb2.png", lambda: check_box(True))]
    out += three_states(main + "chDirBtn{}.png", browse_button)
    out += [(main + "customeBtn1.png", lambda: custom_arrow(False)),
            (main + "customeBtn2.png", lambda: custom_arrow(True))]
    out += three_states(main + "experienceBtn{}.png", lambda s: pill_button(s, EXPERIENCE_STOPS))
    out += [(main + "finished.png", finished_mark)]
    out += three_states(main + "installBtn{}.png", lambda s: pill_button(s, INSTALL_STOPS))
    out += [(main + "installDirEdit.png", folder_field),
            (main + "installPrg1.png", progress_track),
            (main + "installPrg2.png", progress_fill),
            (main + "logo.png", logo),
            (main + "tipLbl.png", tip_bubble),
            (main + "installBtnAnimateBg.png", install_base)]
    out += [(f"{main}installBtnAnimate/{k:03d}.png", lambda k=k: install_frame(k)) for k in range(25)]
    out += [(box + "icoNetwork.png", icon_network),
            (box + "icoQuest.png", icon_question),
            (box + "icoWarn.png", icon_warning)]
    return out


def png_bytes(img):
    buf = io.BytesIO()
    # No text chunks or timestamps: the bytes depend on the pixels alone.
    img.save(buf, format="PNG", optimize=True)
    return buf.getvalue()


def contact_sheet(rendered, path):
    """All images on a checkerboard (so transparency shows), small ones
    enlarged with nearest-neighbour so single pixels can be judged."""
    font = ImageFont.truetype(FONT_REGULAR, 11)
    tiles = []
    for name, img in rendered:
        scale = 1 if max(img.size) >= 150 else (2 if max(img.size) >= 40 else 4)
        big = img.convert("RGBA").resize((img.width * scale, img.height * scale), Image.NEAREST)
        tw, th = max(big.width, 150) + 16, big.height + 34
        tile = Image.new("RGBA", (tw, th), (255, 255, 255, 255))
        cells = (np.indices((big.height, big.width)) // 8).sum(axis=0) % 2
        checker = Image.fromarray(np.where(cells[..., None] == 0, [236, 238, 242, 255],
                                           [255, 255, 255, 255]).astype(np.uint8), "RGBA")
        checker.alpha_composite(big)
        tile.paste(checker, (8, 8))
        label = f"{name.split('/')[-1]} {img.width}x{img.height}" + (f" x{scale}" if scale > 1 else "")
        ImageDraw.Draw(tile).text((8, big.height + 14), label, font=font, fill=(60, 60, 60, 255))
        tiles.append(tile)
    width = 1400
    rows, row, x = [], [], 0
    for tile in tiles:
        if x + tile.width > width and row:
            rows.append(row)
            row, x = [], 0
        row.append(tile)
        x += tile.width
    rows.append(row)
    height = sum(max(t.height for t in r) for r in rows)
    sheet = Image.new("RGBA", (width, height), (255, 255, 255, 255))
    y = 0
    for r in rows:
        x = 0
        for tile in r:
            sheet.paste(tile, (x, y))
            x += tile.width
        y += max(t.height for t in r)
    sheet.convert("RGB").save(path)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description="Draws the installer skin images.")
    parser.add_argument("--out", default=os.path.join(here, "..", "..", "ui", "skins"),
                        help="skin folder (default: ui/skins of this repository)")
    parser.add_argument("--check", action="store_true",
                        help="compare with the files in --out instead of writing")
    parser.add_argument("--sheet", help="also write a contact sheet PNG here")
    parser.add_argument("--scale", type=int, default=None,
                        help="only this scale, under the 1x names (device pixels per skin pixel); needs --out")
    args = parser.parse_args()
    if args.scale is not None and args.out == parser.get_default("out"):
        parser.error("--scale writes into a folder of its own: give --out")
    out = os.path.normpath(args.out)

    # The skins ship 1x and 2x art side by side; the toolkit takes "name@2x.png"
    # above 96 DPI (toolkit/README.md).
    scales = [(args.scale, "")] if args.scale else [(1, ""), (2, "@2x")]
    rendered, differ = [], []
    for scale, suffix in scales:
        set_scale(scale)
        for base, draw in images():
            stem, ext = os.path.splitext(base)
            rendered.append((stem + suffix + ext, draw()))
    for name, img in rendered:
        data = png_bytes(img)
        path = os.path.join(out, *name.split("/"))
        if args.check:
            try:
                with open(path, "rb") as f:
                    same = f.read() == data
            except OSError:
                same = False
            if not same:
                differ.append(name)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    if args.sheet:
        contact_sheet(rendered, args.sheet)
    if args.check:
        for name in differ:
            print(f"differs: {name}", file=sys.stderr)
        print(f"{len(rendered) - len(differ)} of {len(rendered)} images match")
        return 1 if differ else 0
    print(f"wrote {len(rendered)} images under {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
