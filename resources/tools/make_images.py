#!/usr/bin/env python3
"""Draws the installer's pictures and icons (standard library only).

Usage: make_images.py <output folder>
Writes check.png (9 x 11, the done mark of a stage item), poster.png
(173 x 241, shown until the picture of the first media item arrives),
vexa.ico (32 x 32 and 16 x 16) and vexa_small.ico (16 x 16).

Shapes are described by signed distances (negative inside) and anti-aliased
analytically, so every run gives the same bytes and there is nothing to
keep in the repository but this script.
"""
import math
import os
import struct
import sys
import zlib


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def coverage(distance):
    """Pixel coverage of a shape whose edge lies at distance 0 (one-pixel ramp)."""
    return clamp01(0.5 - distance)


def dist_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = clamp01(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def dist_triangle(px, py, pts):
    """Signed distance to a triangle given clockwise in screen coordinates."""
    inside = True
    best = float("inf")
    for i in range(3):
        ax, ay = pts[i]
        bx, by = pts[(i + 1) % 3]
        best = min(best, dist_segment(px, py, ax, ay, bx, by))
        if (bx - ax) * (py - ay) - (by - ay) * (px - ax) < 0:
            inside = False
    return -best if inside else best


def dist_round_box(px, py, cx, cy, half, radius):
    qx = abs(px - cx) - half + radius
    qy = abs(py - cy) - half + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def over(dst, src, alpha):
    """Paints colour src with the given alpha over the opaque colour dst."""
    return mix(dst, src, alpha)


def play_triangle(cx, cy, size):
    """A play symbol centred on its visual middle (a third of the way in)."""
    h = size
    w = size * math.sqrt(3) / 2
    left = cx - w / 3
    return [(left, cy - h / 2), (left + w, cy), (left, cy + h / 2)]


# --- PNG ---------------------------------------------------------------------

def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def filter_rows(rows, bpp):
    """Adaptive filtering: per row the filter with the smallest absolute sum."""
    out = bytearray()
    prev = bytes(len(rows[0]))
    for row in rows:
        candidates = []
        for ftype in range(5):
            f = bytearray()
            for i, x in enumerate(row):
                a = row[i - bpp] if i >= bpp else 0
                b = prev[i]
                c = prev[i - bpp] if i >= bpp else 0
                pred = (0, a, b, (a + b) // 2, paeth(a, b, c))[ftype]
                f.append((x - pred) & 0xFF)
            score = sum(v if v < 128 else 256 - v for v in f)
            candidates.append((score, ftype, f))
        _, ftype, f = min(candidates)
        out.append(ftype)
        out += f
        prev = row
    return bytes(out)


def write_png(path, width, height, pixels, alpha):
    """pixels: rows of (r, g, b[, a]) tuples with components in 0..255."""
    bpp = 4 if alpha else 3
    rows = [bytes(c for px in row for c in px[:bpp]) for row in pixels]
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6 if alpha else 2, 0, 0, 0)
    data = (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) +
            png_chunk(b"IDAT", zlib.compress(filter_rows(rows, bpp), 9)) +
            png_chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(data)


# --- ICO ---------------------------------------------------------------------

def ico_image(size, pixels):
    """A 32-bit DIB icon image (with its AND mask, which older systems need)."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def write_ico(path, images):
    """images: list of (size, pixels)."""
    blobs = [ico_image(size, px) for size, px in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for (size, _), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


# --- The pictures ------------------------------------------------------------

GREEN = (46, 160, 67)
WHITE = (255, 255, 255)


def draw_check():
    """9 x 11 tick on a transparent ground."""
    w, h = 9, 11
    a, b, c = (1.2, 6.2), (3.6, 8.8), (7.9, 2.0)
    half_stroke = 0.95
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            px, py = x + 0.5, y + 0.5
            d = min(dist_segment(px, py, *a, *b), dist_segment(px, py, *b, *c)) - half_stroke
            alpha = round(255 * coverage(d))
            row.append(GREEN + (alpha,) if alpha else (0, 0, 0, 0))
        rows.append(row)
    return w, h, rows


def draw_poster():
    """173 x 241 placeholder: a dusk gradient, a ring with a play symbol and
    two pale bars where a title would stand."""
    w, h = 173, 241
    top, bottom = (28, 44, 82), (96, 38, 108)
    cx, cy, ring_r = w / 2, h * 0.42, 38.0
    tri = play_triangle(cx, cy, 34.0)
    rows = []
    for y in range(h):
        row = []
        for x in range(w):
            px, py = x + 0.5, y + 0.5
            col = mix(top, bottom, py / h)
            # A soft vignette keeps the edges from looking flat.
            v = math.hypot((px - cx) / w, (py - h / 2) / h)
            col = mix(col, (10, 10, 24), clamp01(v * 0.9 - 0.15))
            glow = clamp01(1.0 - math.hypot(px - cx, py - cy) / 70.0) * 0.25
            col = over(col, (150, 160, 255), glow)
            ring = abs(math.hypot(px - cx, py - cy) - ring_r) - 2.0
            col = over(col, WHITE, 0.85 * coverage(ring))
            col = over(col, WHITE, 0.95 * coverage(dist_triangle(px, py, tri)))
            for bar_y, bar_w in ((h * 0.78, 110.0), (h * 0.85, 70.0)):
                d = max(abs(px - cx) - bar_w / 2, abs(py - bar_y) - 3.0)
                col = over(col, (220, 220, 240), 0.35 * coverage(d))
            row.append(tuple(int(round(c)) for c in col))
        rows.append(row)
    return w, h, rows


def draw_icon(size):
    """The program's icon: a rounded square in the product's colours with a
    white play symbol."""
    s = float(size)
    light, dark = (255, 140, 40), (214, 50, 48)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            box = dist_round_box(px, py, s / 2, s / 2, s / 2 - 0.5, s * 0.22)
            alpha = coverage(box)
            if alpha <= 0.0:
                row.append((0, 0, 0, 0))
                continue
            col = mix(light, dark, (px + py) / (2 * s))
            tri = play_triangle(s / 2 + s * 0.03, s / 2, s * 0.5)
            col = over(col, WHITE, coverage(dist_triangle(px, py, tri)))
            row.append(tuple(int(round(c)) for c in col) + (int(round(255 * alpha)),))
        rows.append(row)
    return rows


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    w, h, px = draw_check()
    write_png(os.path.join(out, "check.png"), w, h, px, alpha=True)
    w, h, px = draw_poster()
    write_png(os.path.join(out, "poster.png"), w, h, px, alpha=False)
    write_ico(os.path.join(out, "vexa.ico"), [(32, draw_icon(32)), (16, draw_icon(16))])
    write_ico(os.path.join(out, "vexa_small.ico"), [(16, draw_icon(16))])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
