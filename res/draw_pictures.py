#!/usr/bin/env python3
"""Draws Quillon's four pictures and writes them as Windows .ico/.cur files.

    python3 res/draw_pictures.py          # from the repository root

Only the standard library is used, so the pictures can be rebuilt on any
machine that has Python 3, and the output is byte-for-byte the same on
every run.  The files land next to this script.

  Quillon.ico  32x32, 8 bpp   the program icon: a globe with a location pin
  Refresh.ico  16x16, 1 bpp   the refresh button's symbol, black on clear
  Social.ico   16x16, 4 bpp   the social network's "f" logo
  Hand.cur     32x32, 1 bpp   the pointing-hand pointer, hot spot (0, 0)
"""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


# --------------------------------------------------------------------------
# File writing
# --------------------------------------------------------------------------

def _pack_rows(pixels, width, bpp):
    """Packs palette indices into DIB rows, bottom row first, each row
    padded to a multiple of 4 bytes as GDI expects."""
    stride = ((width * bpp + 31) // 32) * 4
    out = bytearray()
    for row in reversed(pixels):
        bits = bytearray(stride)
        for x, index in enumerate(row):
            bit = x * bpp
            shift = 8 - bpp - (bit % 8)
            bits[bit // 8] |= (index & ((1 << bpp) - 1)) << shift
        out += bits
    return bytes(out)


def dib_image(pixels, palette, bpp):
    """Builds one icon/cursor image: BITMAPINFOHEADER, palette, XOR bitmap
    and AND mask.  `pixels` holds palette indices, None where the picture
    is transparent; those get index 0 in the XOR bitmap (palette[0] must be
    black) and a set bit in the mask, which Windows shows as see-through."""
    height = len(pixels)
    width = len(pixels[0])
    ncolours = 1 << bpp
    if len(palette) > ncolours:
        raise ValueError("palette has %d colours, %d bpp holds %d"
                         % (len(palette), bpp, ncolours))
    if palette[0] != (0, 0, 0):
        raise ValueError("palette[0] must be black for the mask to work")
    colour_rows = [[0 if p is None else p for p in row] for row in pixels]
    mask_rows = [[1 if p is None else 0 for p in row] for row in pixels]
    xor = _pack_rows(colour_rows, width, bpp)
    mask = _pack_rows(mask_rows, width, 1)
    header = struct.pack(
        "<IiiHHIIiiII",
        40,              # biSize
        width,
        height * 2,      # XOR bitmap and AND mask stacked
        1,               # biPlanes
        bpp,
        0,               # BI_RGB
        len(xor) + len(mask),
        0, 0,            # no resolution
        0, 0)            # every palette entry is used
    full = list(palette) + [(0, 0, 0)] * (ncolours - len(palette))
    quads = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in full)
    return width, height, bpp, header + quads + xor + mask


def write_icon_file(path, images, cursor_hotspot=None):
    """Writes an ICONDIR with one entry per image.  With `cursor_hotspot`
    the file is a cursor (type 2) and the entry's planes/bit count fields
    carry the hot spot instead."""
    kind = 1 if cursor_hotspot is None else 2
    data = struct.pack("<HHH", 0, kind, len(images))
    offset = 6 + 16 * len(images)
    blobs = []
    for width, height, bpp, blob in images:
        colour_count = (1 << bpp) if bpp < 8 else 0
        if cursor_hotspot is None:
            field1, field2 = 1, bpp
        else:
            field1, field2 = cursor_hotspot
        data += struct.pack("<BBBBHHII",
                            width % 256, height % 256, colour_count, 0,
                            field1, field2, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    data += b"".join(blobs)
    with open(path, "wb") as f:
        f.write(data)


def from_pixel_art(rows, legend, size=None):
    """Turns strings (one character per pixel) into palette indices.  With
    `size`, short rows and missing rows are padded with '.' (transparent),
    so a small drawing in a large canvas stays readable in the source."""
    if size is not None:
        w, h = size
        if len(rows) > h or any(len(r) > w for r in rows):
            raise ValueError("pixel art larger than %dx%d" % size)
        rows = [r.ljust(w, ".") for r in rows] + ["." * w] * (h - len(rows))
    width = len(rows[0])
    for r in rows:
        if len(r) != width:
            raise ValueError("ragged pixel art row: %r" % r)
    return [[legend[c] for c in r] for r in rows]


# --------------------------------------------------------------------------
# Quillon.ico: a shaded blue globe with a yellow location pin
# --------------------------------------------------------------------------

def _mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


GLOBE_C = (15.0, 17.0)
GLOBE_R = 14.5
PIN_HEAD = (23.5, 8.5)
PIN_R = 6.0
PIN_TIP = (23.5, 21.5)

OCEAN_LIGHT = (120, 196, 255)
OCEAN_MID = (30, 118, 220)
OCEAN_DARK = (10, 52, 138)
GRID = (225, 242, 255)
GLOBE_EDGE = (8, 34, 92)
PIN_LIGHT = (255, 236, 140)
PIN_MID = (255, 192, 0)
PIN_DARK = (214, 128, 0)
PIN_EDGE = (92, 50, 0)
PIN_HOLE = (255, 255, 255)


def _pin_sdf(x, y):
    """Signed distance (negative inside) to the pin: a circle joined to a
    triangle whose sides run tangent from the tip to the circle."""
    hx, hy = PIN_HEAD
    tx, ty = PIN_TIP
    circle = math.hypot(x - hx, y - hy) - PIN_R
    d = ty - hy
    # Tangent points seen from the tip.
    s = PIN_R / d
    c = math.sqrt(1 - s * s)
    # Each side leaves the tip at angle asin(s) off the upward axis; its
    # outward normal is that direction turned a quarter away from the axis.
    edges = [(sign * c, s) for sign in (-1, 1)]
    inside_tri = max(nx * (x - tx) + ny * (y - ty) for nx, ny in edges)
    # Cut the triangle at the circle's centre line so it does not poke out
    # above the head.
    inside_tri = max(inside_tri, y - ty, hy - y)
    return min(circle, inside_tri)


def _globe_colour(x, y):
    cx, cy = GLOBE_C
    r = GLOBE_R
    dx, dy = x - cx, y - cy
    d = math.hypot(dx, dy)
    if d > r:
        return None
    if d > r - 1.15:
        return GLOBE_EDGE
    z = math.sqrt(max(r * r - d * d, 0.0))
    # Light from the upper left so the ball reads as round.
    lx, ly, lz = -0.45, -0.55, 0.70
    n = math.sqrt(lx * lx + ly * ly + lz * lz)
    lam = (dx * lx + dy * ly + z * lz) / (r * n)
    lam = max(0.0, min(1.0, lam))
    if lam < 0.55:
        colour = _mix(OCEAN_DARK, OCEAN_MID, lam / 0.55)
    else:
        colour = _mix(OCEAN_MID, OCEAN_LIGHT, (lam - 0.55) / 0.45)
    # Parallels are straight lines in this view; meridians are ellipses.
    line = 0.55
    on_grid = False
    for lat in (-0.62, 0.0, 0.62):
        if abs(dy - r * math.sin(lat)) < line:
            on_grid = True
    half = math.sqrt(max(r * r - dy * dy, 0.0))
    for lon in (-1.05, 0.0, 1.05):
        if abs(dx - half * math.sin(lon)) < line:
            on_grid = True
    if on_grid:
        colour = _mix(colour, GRID, 0.75)
    return colour


def _icon_colour(x, y):
    p = _pin_sdf(x, y)
    if p <= 0:
        if p > -1.15:
            return PIN_EDGE
        hx, hy = PIN_HEAD
        if math.hypot(x - hx, y - hy) < 2.0:
            return PIN_HOLE
        # Brighter on the left, like the globe.
        t = (x - (hx - PIN_R)) / (2 * PIN_R)
        t = max(0.0, min(1.0, t))
        if t < 0.5:
            return _mix(PIN_LIGHT, PIN_MID, t / 0.5)
        return _mix(PIN_MID, PIN_DARK, (t - 0.5) / 0.5)
    # A thin dark gap around the pin keeps it apart from the globe.
    if p < 0.9 and _globe_colour(x, y) is not None:
        return GLOBE_EDGE
    return _globe_colour(x, y)


def draw_program_icon(size=32, samples=4):
    """Renders with 4x4 samples per pixel so the grid and the shading come
    out smooth; the 1-bit mask takes a pixel when most samples hit."""
    rgb = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            hits = 0
            for j in range(samples):
                for i in range(samples):
                    c = _icon_colour(px + (i + 0.5) / samples,
                                     py + (j + 0.5) / samples)
                    if c is not None:
                        hits += 1
                        for k in range(3):
                            acc[k] += c[k]
            if hits * 2 < samples * samples:
                row.append(None)
            else:
                row.append(tuple(int(round(a / hits)) for a in acc))
        rgb.append(row)
    return _to_palette(rgb, 256)


def _to_palette(rgb, limit):
    """Maps colours onto at most `limit` palette entries (index 0 black,
    kept for the transparent pixels), coarsening the colour steps only as
    far as needed."""
    step = 1
    while True:
        def q(c):
            return tuple(min(255, (v + step // 2) // step * step) for v in c)
        colours = sorted({q(c) for row in rgb for c in row if c is not None}
                         - {(0, 0, 0)})
        if len(colours) < limit:
            break
        step *= 2
    palette = [(0, 0, 0)] + colours
    index = {c: i for i, c in enumerate(palette)}
    pixels = [[None if c is None else index[q(c)] for c in row]
              for row in rgb]
    return pixels, palette


# --------------------------------------------------------------------------
# Refresh.ico: two clockwise arrows forming a circle
# --------------------------------------------------------------------------

REFRESH = [
    "................",
    "................",
    ".....######.....",
    "....########....",
    "...###....###...",
    "..###......###..",
    "..........######",
    "..##.......####.",
    ".####.......##..",
    "######..........",
    "..###......###..",
    "...###....###...",
    "....########....",
    ".....######.....",
    "................",
    "................",
]


# --------------------------------------------------------------------------
# Social.ico: white "f" on a blue rounded square
# --------------------------------------------------------------------------

SOCIAL = [
    "..BBBBBBBBBBBB..",
    ".BBBBBBBBBBBBBB.",
    "BBBBBBBBBBBBBBBB",
    "BBBBBBBBBLWWWBBB",
    "BBBBBBBBWWWWWBBB",
    "BBBBBBBLWWLBBBBB",
    "BBBBBBBWWWBBBBBB",
    "BBBBBWWWWWWWBBBB",
    "BBBBBWWWWWWWBBBB",
    "BBBBBBBWWWBBBBBB",
    "BBBBBBBWWWBBBBBB",
    "BBBBBBBWWWBBBBBB",
    "BBBBBBBWWWBBBBBB",
    "BBBBBBBWWWBBBBBB",
    ".BBBBBBWWWBBBBB.",
    "..BBBBBWWWBBBB..",
]
SOCIAL_PALETTE = [(0, 0, 0), (24, 119, 242), (255, 255, 255), (140, 187, 248)]
SOCIAL_LEGEND = {".": None, "B": 1, "W": 2, "L": 3}


# --------------------------------------------------------------------------
# Hand.cur: pointing hand, fingertip in the top-left corner
# --------------------------------------------------------------------------

HAND = [
    ".XXXX.",
    "X----X",
    "X----X",
    "X----X",
    "X----X",
    "X----X",
    "X----X",
    "X----XXXXX",
    "X----X----XXXXX",
    "X----X----X----XXXX",
    "X----X----X----X---X",
    "X----X----X----X---X",
    "X----X----X----X---X",
    "X----X----X----X---X",
    "X----XXXXXXXX--X---X",
    "X------------X-----X",
    "X------------X-----X",
    "X---XXXXXXXXX------X",
    "X--X---------------X",
    "X------------------X",
    ".X----------------X",
    ".X----------------X",
    "..X--------------X",
    "..X--------------X",
    "...X------------X",
    "...X------------X",
    "...XXXXXXXXXXXXXX",
]
HAND_PALETTE = [(0, 0, 0), (255, 255, 255)]
HAND_LEGEND = {".": None, "X": 0, "-": 1}


def main():
    pixels, palette = draw_program_icon()
    write_icon_file(os.path.join(HERE, "Quillon.ico"),
                    [dib_image(pixels, palette, 8)])

    refresh = from_pixel_art(REFRESH, {".": None, "#": 0})
    write_icon_file(os.path.join(HERE, "Refresh.ico"),
                    [dib_image(refresh, [(0, 0, 0), (255, 255, 255)], 1)])

    social = from_pixel_art(SOCIAL, SOCIAL_LEGEND)
    write_icon_file(os.path.join(HERE, "Social.ico"),
                    [dib_image(social, SOCIAL_PALETTE, 4)])

    hand = from_pixel_art(HAND, HAND_LEGEND, size=(32, 32))
    write_icon_file(os.path.join(HERE, "Hand.cur"),
                    [dib_image(hand, HAND_PALETTE, 1)],
                    cursor_hotspot=(0, 0))


if __name__ == "__main__":
    main()
