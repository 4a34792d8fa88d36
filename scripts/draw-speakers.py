#!/usr/bin/env python3
"""Draws the speaker button's two pictures, 24-bit bitmaps of 56 x 54 pixels
with their twice-size versions: SpkrOn.bmp, a black loudspeaker with three
sound-wave arcs, and SpkrOff.bmp, the same under a red prohibition sign, on
white, the edges smoothed with greys. Run from anywhere:
    scripts/draw-speakers.py
"""
import math
import pathlib
import struct

WIDTH, HEIGHT = 56, 54
SAMPLES = 4  # per pixel and direction, for the smoothed edges
WHITE, BLACK, RED = (255, 255, 255), (0, 0, 0), (237, 28, 36)

WAVE_CENTRE = (26.0, 27.0)
WAVE_RADII = (8.0, 15.0, 22.0)
WAVE_HALF_ANGLE = math.radians(45)
WAVE_THICKNESS = 3.0
SIGN_CENTRE = (24.0, 27.0)
SIGN_OUTER, SIGN_INNER = 20.0, 15.0
BAR_HALF_WIDTH = 2.6


def loudspeaker(x, y, arcs):
    if 6 <= x < 14 and 20 <= y < 34:  # the magnet block
        return True
    if 14 <= x < 26:  # the cone, widening to the right
        half = 7 + (x - 14) * 10 / 12
        if abs(y - 27) < half:
            return True
    dx, dy = x - WAVE_CENTRE[0], y - WAVE_CENTRE[1]
    if dx > 0 and abs(math.atan2(dy, dx)) <= WAVE_HALF_ANGLE:
        distance = math.hypot(dx, dy)
        return any(abs(distance - radius) < WAVE_THICKNESS / 2 for radius in arcs)
    return False


def prohibition(x, y):
    dx, dy = x - SIGN_CENTRE[0], y - SIGN_CENTRE[1]
    distance = math.hypot(dx, dy)
    if SIGN_INNER <= distance < SIGN_OUTER:
        return True
    # The bar from the upper right to the lower left: along x = -y.
    return distance < SIGN_INNER and abs(dx + dy) / math.sqrt(2) < BAR_HALF_WIDTH


def picture(scale, muted):
    rows = []
    for py in range(HEIGHT * scale):
        row = []
        for px in range(WIDTH * scale):
            black = red = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / scale
                    y = (py + (sy + 0.5) / SAMPLES) / scale
                    if muted and prohibition(x, y):
                        red += 1
                    elif loudspeaker(x, y, WAVE_RADII):
                        black += 1
            total = SAMPLES * SAMPLES
            kb, kr = black / total, red / total
            row.append(tuple(round(w * (1 - kb - kr) + b * kb + r * kr)
                             for w, b, r in zip(WHITE, BLACK, RED)))
        rows.append(row)
    return rows


def bmp(rows):
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) // 4 * 4
    data = b"".join(
        bytes(c for r, g, b in row for c in (b, g, r)).ljust(stride, b"\0")
        for row in reversed(rows))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + data


if __name__ == "__main__":
    folder = pathlib.Path(__file__).resolve().parent.parent / "resources"
    for name, muted in (("SpkrOn", False), ("SpkrOff", True)):
        for scale, suffix in ((1, ""), (2, "@2x")):
            (folder / f"{name}{suffix}.bmp").write_bytes(bmp(picture(scale, muted)))
