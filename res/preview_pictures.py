#!/usr/bin/env python3
"""Writes enlarged PNG previews of the .ico/.cur files in res/.

    python3 res/preview_pictures.py /tmp/quillon-previews

It decodes the files themselves (not the drawing script's data), so what
it shows is what Windows will get.  Transparent pixels appear as a light
checkerboard.  Besides one large picture per file it writes sheet.png with
every picture at 1x, 2x and 4x on a white and on a button-grey background,
to judge how they read at their real size.  Standard library only.
"""

import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
FILES = ["Quillon.ico", "Refresh.ico", "Social.ico", "Hand.cur"]


def decode_icon_file(path):
    """Returns (kind, entries); each entry is a dict with the directory
    fields and the decoded rows of (r, g, b) or None for transparent."""
    data = open(path, "rb").read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind not in (1, 2) or count < 1:
        raise ValueError("%s: not an icon or cursor" % path)
    entries = []
    for n in range(count):
        (w, h, colours, _, f1, f2, size,
         offset) = struct.unpack_from("<BBBBHHII", data, 6 + 16 * n)
        (bi_size, bw, bh, planes, bpp, compression,
         _, _, _, used, _) = struct.unpack_from("<IiiHHIIiiII", data, offset)
        if bi_size != 40 or compression != 0 or planes != 1:
            raise ValueError("%s: unexpected bitmap header" % path)
        width, height = bw, bh // 2
        if (w or 256, h or 256) != (width, height):
            raise ValueError("%s: directory size differs from bitmap" % path)
        ncolours = used or (1 << bpp)
        pal_at = offset + bi_size
        palette = [struct.unpack_from("<BBBB", data, pal_at + 4 * i)[2::-1]
                   for i in range(ncolours)]
        xor_at = pal_at + 4 * ncolours
        stride = ((width * bpp + 31) // 32) * 4
        mask_at = xor_at + stride * height
        mask_stride = ((width + 31) // 32) * 4
        if mask_at + mask_stride * height != offset + size:
            raise ValueError("%s: image size does not add up" % path)

        def bits(base, row_stride, depth, x, y):
            row = base + row_stride * (height - 1 - y)   # bottom-up
            bit = x * depth
            byte = data[row + bit // 8]
            return (byte >> (8 - depth - bit % 8)) & ((1 << depth) - 1)

        rows = []
        for y in range(height):
            row = []
            for x in range(width):
                index = bits(xor_at, stride, bpp, x, y)
                if bits(mask_at, mask_stride, 1, x, y):
                    # Mask set with a black XOR pixel is see-through; any
                    # other colour would invert the screen, which none of
                    # our pictures should do.
                    if palette[index] != (0, 0, 0):
                        raise ValueError("%s: inverting pixel at %d,%d"
                                         % (path, x, y))
                    row.append(None)
                else:
                    row.append(palette[index])
            rows.append(row)
        entries.append({"width": width, "height": height, "bpp": bpp,
                        "colours": colours, "field1": f1, "field2": f2,
                        "rows": rows})
    return kind, entries


def write_png(path, canvas):
    height = len(canvas)
    width = len(canvas[0])
    raw = b"".join(b"\0" + bytes(v for px in row for v in px)
                   for row in canvas)

    def chunk(tag, body):
        return (struct.pack(">I", len(body)) + tag + body
                + struct.pack(">I", zlib.crc32(tag + body) & 0xffffffff))

    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2,
                                        0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9))
           + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def checker(x, y):
    return (255, 255, 255) if (x // 4 + y // 4) % 2 == 0 else (214, 214, 214)


def enlarged(rows, scale, background=None, grid=False):
    h, w = len(rows), len(rows[0])
    out = []
    for y in range(h * scale):
        line = []
        for x in range(w * scale):
            c = rows[y // scale][x // scale]
            if c is None:
                c = background if background else checker(x, y)
            if grid and (x % scale == 0 or y % scale == 0):
                c = tuple(int(v * 0.85) for v in c)
            line.append(c)
        out.append(line)
    return out


def paste(canvas, img, left, top):
    for y, row in enumerate(img):
        canvas[top + y][left:left + len(row)] = row


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: preview_pictures.py OUTPUT_DIR")
    out_dir = sys.argv[1]
    os.makedirs(out_dir, exist_ok=True)
    pictures = []
    for name in FILES:
        kind, entries = decode_icon_file(os.path.join(HERE, name))
        e = entries[0]
        pictures.append((name, e["rows"]))
        big = enlarged(e["rows"], 16 if e["width"] <= 16 else 8, grid=True)
        if kind == 2:
            # Mark the hot spot with a red dot so its place can be checked.
            hx, hy = e["field1"], e["field2"]
            for dy in range(3):
                for dx in range(3):
                    big[hy * 8 + dy][hx * 8 + dx] = (230, 0, 0)
        write_png(os.path.join(out_dir, os.path.splitext(name)[0] + ".png"),
                  big)
        print("%s: %s %dx%d, %d bpp, %s" % (
            name, "cursor" if kind == 2 else "icon", e["width"], e["height"],
            e["bpp"], ("hot spot %d,%d" % (e["field1"], e["field2"]))
            if kind == 2 else "%d entries" % len(entries)))

    # Sheet: one band per background, each picture at 1x, 2x and 4x.
    backgrounds = [(255, 255, 255), (240, 240, 240), (60, 60, 60)]
    band_h = 4 * 32 + 16
    width = 16 + sum((1 + 2 + 4) * len(r[0]) + 3 * 8 + 16 for _, r in pictures)
    canvas = [[(255, 255, 255)] * width for _ in range(band_h * len(backgrounds))]
    for b, bg in enumerate(backgrounds):
        top = b * band_h
        for y in range(top, top + band_h):
            canvas[y] = [bg] * width
        x = 16
        for _, rows in pictures:
            for scale in (1, 2, 4):
                paste(canvas, enlarged(rows, scale, background=bg), x, top + 8)
                x += len(rows[0]) * scale + 8
            x += 16
    write_png(os.path.join(out_dir, "sheet.png"), canvas)


if __name__ == "__main__":
    main()
