#!/usr/bin/env python3
"""Draws Quillon's two icons and writes them as Windows .ico files.

  quillon.ico   (IDI_MAIN, 168)  a printer with a lightning bolt
  passbook.ico  (IDI_ABOUT, 154) a bank passbook

Each icon holds a 32x32 and a 16x16 image, 32 bits per pixel with alpha.
The program's icon is also written as PNG files in the sizes of the
desktop's icon theme (icons/quillon-<n>.png, installed on Linux).
The pictures are made of a few shapes in a 32-unit square; every size is
rendered from the same shapes with 4x4 supersampling. Standard library only.

  python3 res/make_icons.py [--png DIR]   (--png also writes previews)
"""

import os
import struct
import sys
import zlib

SAMPLES = 4  # supersampling per axis


def inside(poly, x, y):
    """Even-odd test of point (x, y) against a polygon."""
    hit = False
    n = len(poly)
    for i in range(n):
        x0, y0 = poly[i]
        x1, y1 = poly[(i + 1) % n]
        if (y0 > y) != (y1 > y):
            cross = x0 + (y - y0) * (x1 - x0) / (y1 - y0)
            if x < cross:
                hit = not hit
    return hit


def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def line(x0, y0, x1, y1, width):
    """A straight stroke as a quadrilateral."""
    dx, dy = x1 - x0, y1 - y0
    length = (dx * dx + dy * dy) ** 0.5 or 1.0
    nx, ny = -dy / length * width / 2, dx / length * width / 2
    return [(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)]


def outline(poly, width):
    """The closed outline of a polygon as strokes."""
    return [line(*poly[i], *poly[(i + 1) % len(poly)], width) for i in range(len(poly))]


def bounds(poly):
    xs = [x for x, _ in poly]
    ys = [y for _, y in poly]
    return min(xs), min(ys), max(xs), max(ys)


def render(shapes, size):
    """shapes: list of (colour (r, g, b), [polygons]) painted in order.
    Returns rows of (r, g, b, a), top row first. Only the pixels within a
    shape's bounding box are sampled, and a sample is only tested against the
    polygons whose box holds it: a point outside a polygon's box is never
    inside it, so the result is the same as testing every sample."""
    scale = 32.0 / size
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for colour, polys in shapes:
        boxes = [(bounds(p), p) for p in polys]
        x0 = max(0, int(min(b[0] for b, _ in boxes) / scale))
        y0 = max(0, int(min(b[1] for b, _ in boxes) / scale))
        x1 = min(size - 1, int(max(b[2] for b, _ in boxes) / scale))
        y1 = min(size - 1, int(max(b[3] for b, _ in boxes) / scale))
        for py in range(y0, y1 + 1):
            for px in range(x0, x1 + 1):
                covered = 0
                for sy in range(SAMPLES):
                    y = (py + (sy + 0.5) / SAMPLES) * scale
                    row = [(b, p) for b, p in boxes if b[1] <= y <= b[3]]
                    if not row:
                        continue
                    for sx in range(SAMPLES):
                        x = (px + (sx + 0.5) / SAMPLES) * scale
                        if any(b[0] <= x <= b[2] and inside(p, x, y) for b, p in row):
                            covered += 1
                if not covered:
                    continue
                a = covered / (SAMPLES * SAMPLES)
                r0, g0, b0, a0 = pixels[py][px]
                a0 /= 255.0
                out = a + a0 * (1 - a)
                mix = [(c * a + c0 * a0 * (1 - a)) / out for c, c0 in zip(colour, (r0, g0, b0))]
                pixels[py][px] = tuple(int(round(v)) for v in mix) + (int(round(out * 255)),)
    return pixels


# Colours
INK = (34, 40, 49)
BODY = (112, 128, 144)
BODY_LIGHT = (160, 174, 188)
PAPER = (250, 250, 245)
RULE = (170, 178, 190)
SLOT = (40, 46, 56)
LED = (60, 200, 90)
BOLT = (255, 204, 0)
BOLT_EDGE = (150, 90, 0)
COVER = (28, 70, 140)
SPINE = (18, 46, 96)
GOLD = (230, 186, 60)


def printer():
    sheet_in = rect(9, 2, 23, 12)
    body = [(4, 11), (28, 11), (30, 13), (30, 24), (2, 24), (2, 13)]
    sheet_out = rect(8, 21, 24, 30)
    bolt = [(20, 9), (12, 20), (16.5, 20), (12.5, 30.5), (23.5, 16.5), (18.5, 16.5), (23, 9)]
    return [
        (PAPER, [sheet_in]),
        (INK, outline(sheet_in, 1.0)),
        (RULE, [rect(11, 5, 21, 6), rect(11, 8, 19, 9)]),
        (BODY, [body]),
        (INK, outline(body, 1.2)),
        (BODY_LIGHT, [rect(4, 16, 28, 20)]),
        (SLOT, [rect(7, 12.5, 25, 14)]),
        (LED, [rect(25, 17, 27, 19)]),
        (PAPER, [sheet_out]),
        (INK, outline(sheet_out, 1.0)),
        (RULE, [rect(10, 25, 22, 26), rect(10, 27.5, 18, 28.5)]),
        (BOLT, [bolt]),
        (BOLT_EDGE, outline(bolt, 1.0)),
    ]


def passbook():
    pages = rect(8, 5, 28, 29)
    cover = rect(5, 3, 26, 28)
    emblem = [(15.5 + 4.5 * c, 12.5 + 4.5 * s) for c, s in
              ((1, 0), (0.7, 0.7), (0, 1), (-0.7, 0.7), (-1, 0), (-0.7, -0.7), (0, -1), (0.7, -0.7))]
    return [
        (PAPER, [pages]),
        (INK, outline(pages, 1.0)),
        (RULE, [rect(26.5, 8, 27.5, 9), rect(26.5, 12, 27.5, 13), rect(26.5, 16, 27.5, 17),
                rect(26.5, 20, 27.5, 21), rect(26.5, 24, 27.5, 25)]),
        (COVER, [cover]),
        (SPINE, [rect(5, 3, 8.5, 28)]),
        (INK, outline(cover, 1.2)),
        (GOLD, [emblem]),
        (COVER, [rect(14.5, 10, 16.5, 15)]),
        (GOLD, [rect(11, 20, 23, 21.5), rect(13, 23.5, 21, 24.5)]),
    ]


def ico_image(pixels):
    """One icon image: BITMAPINFOHEADER, BGRA rows bottom-up, AND mask."""
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + bytes(mask)


def write_ico(path, images):
    entries, data = b"", b""
    offset = 6 + 16 * len(images)
    for pixels in images:
        size = len(pixels)
        blob = ico_image(pixels)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        data += blob
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, len(images)) + entries + data)


def write_png(path, pixels, zoom=8):
    size = len(pixels)
    raw = b""
    for row in pixels:
        line_bytes = b"".join(bytes(p) for p in row for _ in range(zoom))
        raw += (b"\0" + line_bytes) * zoom

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(
            ">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", size * zoom, size * zoom, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw)))
        f.write(chunk(b"IEND", b""))


# The sizes of the program's icon as PNG files, for the desktop's icon theme
# (hicolor/<n>x<n>/apps/quillon.png when installed).
PNG_SIZES = (16, 32, 48, 64, 128, 256)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    preview = sys.argv[2] if len(sys.argv) == 3 and sys.argv[1] == "--png" else None
    for name, shapes in (("quillon", printer()), ("passbook", passbook())):
        images = [render(shapes, 32), render(shapes, 16)]
        write_ico(os.path.join(here, name + ".ico"), images)
        if preview:
            for pixels in images:
                write_png(os.path.join(preview, "%s-%d.png" % (name, len(pixels))), pixels)
    for size in PNG_SIZES:
        write_png(os.path.join(here, "icons", "quillon-%d.png" % size), render(printer(), size),
                  zoom=1)


if __name__ == "__main__":
    main()
