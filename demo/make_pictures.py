#!/usr/bin/env python3
"""Writes the demo pictures: make_pictures.py <out folder>. Solid-colour PNGs
with a frame and a 16x16 icon, made with the standard library only."""
import struct
import sys
import zlib
from pathlib import Path


def png(width, height, fill, frame):
    rows = []
    for y in range(height):
        row = bytearray([0])
        for x in range(width):
            edge = x < 4 or y < 4 or x >= width - 4 or y >= height - 4
            row += bytes(frame if edge else fill)
        rows.append(bytes(row))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
            + chunk(b"IEND", b""))


def ico16(colour):
    # One 32-bit image; BMP rows run bottom-up and the AND mask follows.
    size = 16
    pixels = bytes(colour[::-1] + (255,)) * size * size
    mask = b"\x00" * (4 * size)
    bmp = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0) + pixels + mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(bmp), 22) + bmp


out = Path(sys.argv[1])
out.mkdir(parents=True, exist_ok=True)
(out / "cover.png").write_bytes(png(160, 90, (58, 123, 213), (20, 40, 80)))
(out / "partner.png").write_bytes(png(120, 60, (230, 150, 40), (90, 50, 10)))
(out / "torrent.ico").write_bytes(ico16((58, 123, 213)))
