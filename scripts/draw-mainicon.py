#!/usr/bin/env python3
"""Draws the application icon, MAINICON.png: 32 x 32 pixels in the standard
16-colour palette plus one transparent entry, and MAINICON@2x.png, the same
pixels doubled, for scaled screens and the tray. Run from anywhere:
    scripts/draw-mainicon.py
"""
import math
import pathlib
import struct
import zlib

SIZE = 32
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, GREEN, RED, MAGENTA, CYAN = 0, 2, 9, 13, 14
TRANSPARENT = len(PALETTE)

GLYPHS = {
    "S": ["###", "#..", "###", "..#", "###"],
    "O": ["###", "#.#", "#.#", "#.#", "###"],
    "2": ["###", "..#", "###", "#..", "###"],
    "R": ["##.", "#.#", "##.", "#.#", "#.#"],
}


def draw():
    pixels = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def put(x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            pixels[y][x] = colour

    def rectangle(left, top, width, height, colour):
        for y in range(top, top + height):
            for x in range(left, left + width):
                put(x, y, colour)

    def path(points, colour):
        for x, y in points:
            put(x, y, colour)

    rectangle(0, 1, 13, 9, RED)
    rectangle(0, 22, 13, 9, CYAN)

    # Headphones: two round ear pieces joined by a thin arc over the top.
    for cx, cy in ((18, 18), (28, 18)):
        for y in range(cy - 3, cy + 4):
            for x in range(cx - 3, cx + 4):
                if (x - cx) ** 2 + (y - cy) ** 2 <= 10:
                    put(x, y, GREEN)
    centre_x, centre_y, radius_x, radius_y = 23.0, 15.0, 6.0, 7.0
    for step in range(181):
        angle = math.pi * step / 180
        put(round(centre_x - radius_x * math.cos(angle)),
            round(centre_y - radius_y * math.sin(angle)), GREEN)

    for index, letter in enumerate("SO2R"):
        for row, line in enumerate(GLYPHS[letter]):
            for column, mark in enumerate(line):
                if mark == "#":
                    put(1 + 4 * index + column, 13 + row, BLACK)

    # Cables: from the red box's top right, right and down to above the
    # arc's left end; from the cyan box's middle right, up to the left ear.
    path([(13, 2), (14, 2), (15, 3), (15, 4), (16, 5), (16, 6), (16, 7)], MAGENTA)
    path([(13, 26), (14, 26), (15, 25), (16, 24), (17, 23), (18, 22)], MAGENTA)
    return pixels


def png(pixels):
    size = len(pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 3, 0, 0, 0)
    palette = b"".join(bytes(colour) for colour in PALETTE) + bytes(3)
    alpha = bytes([255] * len(PALETTE) + [0])
    rows = b"".join(b"\0" + bytes(row) for row in pixels)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", palette)
            + chunk(b"tRNS", alpha) + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


if __name__ == "__main__":
    folder = pathlib.Path(__file__).resolve().parent.parent / "resources"
    pixels = draw()
    (folder / "MAINICON.png").write_bytes(png(pixels))
    doubled = [[colour for colour in row for _ in range(2)] for row in pixels for _ in range(2)]
    (folder / "MAINICON@2x.png").write_bytes(png(doubled))
