#!/usr/bin/env python3
"""Draws the 32 x 32, 24-bit program icon and writes it as an RGB PNG (no alpha channel).

The picture: a strip of film on a blue tile with an orange arrow leaving it, the recording
becoming a file. Run it again after changing the drawing; the PNG is committed beside it.
"""
import struct
import sys
import zlib

SIZE = 32
NAVY = (22, 44, 92)
NAVY_LIGHT = (44, 86, 160)
FILM = (34, 34, 38)
HOLE = (236, 236, 228)
FRAME = (120, 170, 220)
ARROW = (250, 150, 30)
ARROW_EDGE = (180, 90, 10)


def blend(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def draw():
    px = [[NAVY] * SIZE for _ in range(SIZE)]
    # A tile lit from the top left.
    for y in range(SIZE):
        for x in range(SIZE):
            px[y][x] = blend(NAVY_LIGHT, NAVY, (x + y) / (2 * SIZE - 2))
    # The film strip: rows 7..24, columns 2..21, perforations along both edges.
    for y in range(7, 25):
        for x in range(2, 22):
            px[y][x] = FILM
    for x in range(3, 21, 4):
        for dx in range(2):
            for y in (8, 9, 22, 23):
                px[y][x + dx] = HOLE
    # Two picture frames on the strip.
    for left in (4, 13):
        for y in range(11, 21):
            for x in range(left, left + 7):
                px[y][x] = blend(FRAME, NAVY_LIGHT, (y - 11) / 10)
    # The arrow: a shaft from the strip and a head pointing right.
    for y in range(14, 18):
        for x in range(18, 24):
            px[y][x] = ARROW
    for i in range(9):
        for y in range(16 - (8 - i), 16 + (8 - i)):
            x = 22 + i
            if 0 <= x < SIZE:
                edge = y in (16 - (8 - i), 16 + (8 - i) - 1)
                px[y][x] = ARROW_EDGE if edge else ARROW
    return px


def scaled(px, size, samples=4):
    """The drawing at another size: each pixel averages samples x samples points of the 32-pixel
    picture, so multiples of 32 keep its crisp pixels and other sizes get smoothed edges."""
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            total = [0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    u = int((x + (sx + 0.5) / samples) * SIZE / size)
                    v = int((y + (sy + 0.5) / samples) * SIZE / size)
                    for i, c in enumerate(px[v][u]):
                        total[i] += c
            row.append(tuple(round(t / (samples * samples)) for t in total))
        out.append(row)
    return out


def png(px):
    size = len(px)
    raw = b"".join(b"\x00" + bytes(c for p in row for c in p) for row in px)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)  # 8 bits per channel, RGB
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


# The sizes of the desktop's icon theme (share/icons/hicolor/NxN/apps).
THEME_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)


if __name__ == "__main__":
    # make_icon.py [zentrova.png]: the program's own 32 x 32 icon.
    # make_icon.py --theme FOLDER: FOLDER/NxN/apps/zentrova.png for every theme size.
    if len(sys.argv) > 2 and sys.argv[1] == "--theme":
        import os
        for size in THEME_SIZES:
            folder = os.path.join(sys.argv[2], f"{size}x{size}", "apps")
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "zentrova.png"), "wb") as f:
                f.write(png(scaled(draw(), size)))
    else:
        out = sys.argv[1] if len(sys.argv) > 1 else "zentrova.png"
        with open(out, "wb") as f:
            f.write(png(draw()))
