#!/usr/bin/env python3
"""Draws the installer's icon: seven PNG-compressed images in one .ico.

The design is a rounded square in the product's blue with a white orbit
ring and dot. Run again only to change the design:
    python3 tools/make-icon.py resources/kavoorvane.ico
"""
import math
import struct
import sys
import zlib

SIZES = [16, 20, 24, 32, 40, 48, 64]


def pixel(x, y, n):
    # Sample at the pixel centre in a unit square.
    u = (x + 0.5) / n
    v = (y + 0.5) / n
    r = 0.18
    dx = max(abs(u - 0.5) - (0.5 - r), 0.0)
    dy = max(abs(v - 0.5) - (0.5 - r), 0.0)
    if math.hypot(dx, dy) > r:
        return (0, 0, 0, 0)
    d = math.hypot(u - 0.5, v - 0.55)
    if abs(d - 0.26) < 0.06:
        return (255, 255, 255, 255)
    if math.hypot(u - 0.70, v - 0.30) < 0.09:
        return (255, 196, 64, 255)
    t = v
    return (int(30 + 40 * t), int(90 + 60 * t), int(200 + 40 * t), 255)


def png(n):
    rows = b"".join(
        b"\0" + bytes(c for x in range(n) for c in pixel(x, y, n)) for y in range(n))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main(path):
    images = [png(n) for n in SIZES]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for n, data in zip(SIZES, images):
        entries += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(header + entries + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1])
