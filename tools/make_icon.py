#!/usr/bin/env python3
"""Draws the installer's icon and writes it as a Windows .ico file.

The icon is a crimson rounded square with a white arrow pointing down onto a white bar
("download and install"). Six 32-bit images: 16, 32, 48, 64 and 128 pixels as BMP entries,
256 pixels as a PNG entry. Python standard library only, so the build can run it anywhere.

    make_icon.py OUTPUT.ico
"""
import struct
import sys
import zlib

SIZES = (16, 32, 48, 64, 128, 256)
PNG_SIZES = (256,)
FACE = (220, 20, 60)  # the cancel button's face colour
WHITE = (255, 255, 255)
SAMPLES = 4  # supersampling per axis, for smooth edges


def inside_rounded_square(x, y, radius):
    """x, y in the unit square; the square spans 0.04..0.96 with corners of |radius|."""
    lo, hi = 0.04, 0.96
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y):
    """A downward arrow above a bar; y grows downwards."""
    shaft = 0.42 <= x <= 0.58 and 0.18 <= y <= 0.50
    head = 0.46 <= y <= 0.70 and abs(x - 0.5) <= (0.70 - y) * 1.05
    bar = 0.24 <= x <= 0.76 and 0.76 <= y <= 0.84
    return shaft or head or bar


def render(size):
    """Rows of (r, g, b, a) tuples, top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            face = mark = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    if inside_rounded_square(x, y, 0.18):
                        face += 1
                        if inside_arrow(x, y):
                            mark += 1
            total = SAMPLES * SAMPLES
            alpha = round(255 * face / total)
            if face == 0:
                row.append((0, 0, 0, 0))
                continue
            share = mark / face
            colour = tuple(round(f * (1 - share) + w * share) for f, w in zip(FACE, WHITE))
            row.append(colour + (alpha,))
        rows.append(row)
    return rows


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def encode_png(size, rows):
    raw = b"".join(b"\x00" + bytes(c for pixel in row for c in pixel) for row in rows)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(b"IDAT", zlib.compress(raw, 9))
            + png_chunk(b"IEND", b""))


def encode_bmp(size, rows):
    """An icon BMP entry: header with doubled height, BGRA rows bottom-up, then the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def build_icon():
    images = []
    for size in SIZES:
        rows = render(size)
        images.append((size, encode_png(size, rows) if size in PNG_SIZES else encode_bmp(size, rows)))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, data in images:
        dim = 0 if size >= 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(build_icon())


if __name__ == "__main__":
    main()
