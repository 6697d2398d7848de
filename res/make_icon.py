#!/usr/bin/env python3
"""Draw the Moodshuttle icon and write it as a multi-image .ico.

Usage: python3 make_icon.py [output.ico]   (default: moodshuttle.ico beside this script)

Every image is a classic DIB entry (no PNG) so windres and old Windows accept it.
The output is deterministic: the same bytes on every run.
"""
import math
import struct
import sys
from pathlib import Path

# (size, bits per pixel) in directory order.
IMAGES = [(48, 8), (32, 8), (16, 8), (48, 32), (32, 24), (16, 32)]
SAMPLES = 4  # 4x4 supersampling per pixel

BORDER = (28, 78, 160)
FILL_TOP = (112, 178, 250)
FILL_BOTTOM = (52, 122, 222)
ARROW = (255, 255, 255)

# Artwork in unit coordinates, y pointing down. Edges sit on 1/16 steps so they
# land on whole pixels at 16, 32 and 48 and stay crisp.
BUBBLE = (1 / 16, 1 / 16, 15 / 16, 11 / 16, 0.22)  # left, top, right, bottom, corner radius
TAIL = [(3 / 16, 10 / 16), (8.5 / 16, 10 / 16), (2 / 16, 15 / 16)]


def arrow_polygon():
    """Arrow heading up-right, centred in the bubble body."""
    local = [(-0.29, -0.085), (0.04, -0.085), (0.04, -0.2), (0.3, 0.0),
             (0.04, 0.2), (0.04, 0.085), (-0.29, 0.085)]
    cx, cy, a = 0.5, 6 / 16, math.radians(-45)
    ca, sa = math.cos(a), math.sin(a)
    return [(cx + u * ca - v * sa, cy + u * sa + v * ca) for u, v in local]


ARROW_POLY = arrow_polygon()


def sdf_round_rect(x, y, rect):
    left, top, right, bottom, r = rect
    hx, hy = (right - left) / 2 - r, (bottom - top) / 2 - r
    dx = abs(x - (left + right) / 2) - hx
    dy = abs(y - (top + bottom) / 2) - hy
    outside = math.hypot(max(dx, 0.0), max(dy, 0.0))
    return outside + min(max(dx, dy), 0.0) - r


def inside_polygon(x, y, poly):
    inside = False
    for (x1, y1), (x2, y2) in zip(poly, poly[1:] + poly[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def sdf_polygon(x, y, poly):
    best = float("inf")
    for (x1, y1), (x2, y2) in zip(poly, poly[1:] + poly[:1]):
        ex, ey = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * ex + (y - y1) * ey) / (ex * ex + ey * ey)))
        best = min(best, math.hypot(x - x1 - t * ex, y - y1 - t * ey))
    return -best if inside_polygon(x, y, poly) else best


def shade(x, y, border_width):
    """Colour of the artwork at a point, or None where it is background."""
    # min() of signed distances is the union, so the seam between body and tail gets no border.
    d = min(sdf_round_rect(x, y, BUBBLE), sdf_polygon(x, y, TAIL))
    if d > 0:
        return None
    if d > -border_width:
        return BORDER
    if inside_polygon(x, y, ARROW_POLY):
        return ARROW
    t = max(0.0, min(1.0, (y - BUBBLE[1]) / (TAIL[2][1] - BUBBLE[1])))
    return tuple(round(a + (b - a) * t) for a, b in zip(FILL_TOP, FILL_BOTTOM))


def render(size):
    """Rows top to bottom of (r, g, b, coverage); colour is the mean of covered samples."""
    border_width = max(1.0, size / 32) / size
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc, hits = [0, 0, 0], 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = shade((px + (sx + 0.5) / SAMPLES) / size,
                              (py + (sy + 0.5) / SAMPLES) / size, border_width)
                    if c is not None:
                        hits += 1
                        acc = [a + v for a, v in zip(acc, c)]
            n = SAMPLES * SAMPLES
            rgb = [round(a / hits) for a in acc] if hits else [0, 0, 0]
            row.append((*rgb, hits / n))
        rows.append(row)
    return rows


def ramp(stops, count):
    """count colours spread evenly along the polyline through stops."""
    out = []
    for i in range(count):
        t = i / (count - 1) * (len(stops) - 1)
        k = min(int(t), len(stops) - 2)
        out.append(tuple(round(a + (b - a) * (t - k)) for a, b in zip(stops[k], stops[k + 1])))
    return out


def build_palette():
    """6x6x6 cube plus ramps for the bubble shades, arrow edges and greys: 256 entries."""
    levels = [0, 51, 102, 153, 204, 255]
    pal = [(r, g, b) for r in levels for g in levels for b in levels]
    pal += ramp([BORDER, FILL_BOTTOM, FILL_TOP], 16)
    # Anti-aliased arrow edges blend fill into white; the cube alone turns them pinkish.
    pal += ramp([FILL_BOTTOM, ARROW], 10)[1:-1] + ramp([FILL_TOP, ARROW], 8)[1:-1]
    pal += [(round(255 * i / 11),) * 3 for i in range(1, 11)]
    assert len(pal) == 256, len(pal)
    return pal


PALETTE = build_palette()


def nearest(rgb):
    return min(range(256), key=lambda i: sum((a - b) ** 2 for a, b in zip(rgb, PALETTE[i])))


def row_stride(width, bpp):
    return (width * bpp + 31) // 32 * 4


def encode_dib(rows, bpp):
    """BITMAPINFOHEADER, palette if any, bottom-up XOR bitmap, then the 1-bpp AND mask."""
    size = len(rows)
    xor, mask = bytearray(), bytearray()
    cache = {}
    for row in reversed(rows):
        line, bits = bytearray(), bytearray(row_stride(size, 1))
        for x, (r, g, b, cov) in enumerate(row):
            clear = cov < 0.5
            if clear:
                bits[x // 8] |= 0x80 >> (x % 8)
            if bpp == 32:
                line += bytes((b, g, r, round(cov * 255)) if cov else (0, 0, 0, 0))
            elif clear:  # black XOR under a set mask bit leaves the screen untouched
                line += bytes(bpp // 8)
            elif bpp == 24:
                line += bytes((b, g, r))
            else:
                line.append(cache.setdefault((r, g, b), nearest((r, g, b))))
        line += bytes(row_stride(size, bpp) - len(line))
        xor += line
        mask += bits
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE) if bpp == 8 else b""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + palette + bytes(xor) + bytes(mask)


def build_ico(images):
    """ICONDIR, one ICONDIRENTRY per image, then the DIB payloads in the same order."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bpp, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, bpp, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, _, data in images)


def main():
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("moodshuttle.ico")
    rendered = {}
    images = []
    for size, bpp in IMAGES:
        if size not in rendered:
            rendered[size] = render(size)
        rows = rendered[size]
        images.append((size, bpp, encode_dib(rows, bpp)))
    target.write_bytes(build_ico(images))


if __name__ == "__main__":
    main()
