#!/usr/bin/env python3
"""Draws the twelve lamp pictures of the LED button as 16-colour BMP files.

Each lamp is described as geometry (circles, triangles, a light from the upper
left) and sampled at pixel centres into the 16 standard colours, without
dithering. The same geometry at twice the scale gives the "@2x" pictures for
screens scaled to 200 %, so both sizes show the same lamp.

Usage: scripts/draw-leds.py [output folder]   (default: resources/leds)
"""

import math
import os
import struct
import sys

# The standard 16-colour palette, in its usual order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, NAVY, TEAL, SILVER, GRAY = 0, 1, 4, 6, 7, 8
RED, YELLOW, BLUE, CYAN, WHITE = 9, 11, 12, 14, 15
KEY = YELLOW  # background; the button paints it over with its face colour

LOOKS = ("OFF", "ON", "DOWN")


def write_bmp(path, pixels):
    """Writes rows of palette indices (top row first) as a 4-bit BMP."""
    height, width = len(pixels), len(pixels[0])
    row_bytes = ((width * 4 + 31) // 32) * 4
    body = bytearray()
    for row in reversed(pixels):
        packed = bytearray(row_bytes)
        for x, index in enumerate(row):
            packed[x // 2] |= index << (4 if x % 2 == 0 else 0)
        body += packed
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(body), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(body), 3780, 3780, 16, 16)
    with open(path, "wb") as out:
        out.write(header + info + palette + body)


def depths(inside, width, height, scale):
    """For every pixel, how many pixels deep it lies inside the shape (0: outside),
    counted in 96-dpi pixels along rows and columns, so that rims are one pixel
    wide at either scale."""
    w, h = width * scale, height * scale
    mask = [[inside((x + 0.5) / scale, (y + 0.5) / scale) for x in range(w)] for y in range(h)]
    step = [[-1 if mask[y][x] else 0 for x in range(w)] for y in range(h)]
    frontier = [(x, y) for y in range(h) for x in range(w) if not mask[y][x]]
    # Pixels just beyond the picture's edge count as outside too.
    frontier += [(x, -1) for x in range(w)] + [(x, h) for x in range(w)]
    frontier += [(-1, y) for y in range(h)] + [(w, y) for y in range(h)]
    level = 0
    while frontier:
        level += 1
        grown = []
        for x, y in frontier:
            for nx, ny in ((x + 1, y), (x - 1, y), (x, y + 1), (x, y - 1)):
                if 0 <= nx < w and 0 <= ny < h and step[ny][nx] < 0:
                    step[ny][nx] = level
                    grown.append((nx, ny))
        frontier = grown
    return [[(s + scale - 1) // scale for s in row] for row in step]


def draw(width, height, scale, inside, shade):
    """Samples shade(x, y, depth) at every pixel centre (x, y in 96-dpi units)."""
    depth = depths(inside, width, height, scale)
    return [[shade((x + 0.5) / scale, (y + 0.5) / scale, depth[y][x]) if depth[y][x] else KEY
             for x in range(width * scale)] for y in range(height * scale)]


def facing_light(dx, dy):
    """How much a surface normal (dx, dy) faces the light from the upper left, -1 .. 1."""
    length = math.hypot(dx, dy) or 1.0
    return -(dx + dy) / (length * math.sqrt(2.0))


def round_blue(look):
    """RoundLED: a glass dome sunk in a silver bezel, 20 x 16."""
    cx, cy = 10.0, 8.0

    def inside(x, y):
        return math.hypot(x - cx, y - cy) < 7.9

    def shade(x, y, depth):
        dx, dy = x - cx, y - cy
        light = facing_light(dx, dy)
        if depth == 1:  # the hole in the panel: its upper-left side in shadow
            return GRAY if light > -0.3 else WHITE
        if depth == 2:
            return GRAY if light > 0.8 else SILVER
        spot = math.hypot(x - (cx - 1.5), y - (cy - 1.5))  # reflection of the light
        if look == "OFF":
            if spot < 0.8:
                return TEAL
            if depth == 3 and light > 0.3:
                return BLUE
            return NAVY
        if look == "ON":
            if spot < 0.8:
                return WHITE
            if spot < 1.9:
                return CYAN
            return NAVY if depth == 3 and light < 0.3 else TEAL
        if spot < 1.2:
            return WHITE
        return TEAL if depth == 3 and light < -0.3 else CYAN

    return inside, shade


def round_red(look):
    """RedLed: a red lamp in a black ring with a bevelled rim, 16 x 16."""
    cx, cy = 8.0, 8.0
    dots = [(cx + 4.6 * math.cos(i * math.pi / 6), cy + 4.6 * math.sin(i * math.pi / 6))
            for i in range(12)]

    def inside(x, y):
        return math.hypot(x - cx, y - cy) < 7.9

    def shade(x, y, depth):
        dx, dy = x - cx, y - cy
        d = math.hypot(dx, dy)
        if depth == 1:
            return GRAY if facing_light(dx, dy) > -0.3 else WHITE
        if look == "DOWN":
            for i, (px, py) in enumerate(dots):
                if math.hypot(x - px, y - py) < 0.75:
                    return WHITE if i % 2 == 0 else RED
        if d > 3.4:
            return BLACK
        if look == "OFF":
            return MAROON if d < 2.1 else BLACK
        return RED

    return inside, shade


def triangle(look, point_down):
    """TriLEDDown / TriLEDUp: a bevelled triangle with a glass body, 20 x 11."""
    if point_down:
        corners = [(0.0, 0.0), (20.0, 0.0), (10.0, 11.4)]
        # (start, end, colour): the flat top and the left edge in shadow, the right edge lit.
        edges = [(corners[0], corners[1], GRAY), (corners[1], corners[2], WHITE),
                 (corners[2], corners[0], GRAY)]
    else:
        corners = [(10.0, -0.4), (20.0, 11.0), (0.0, 11.0)]
        # Both slanted edges in shadow, the flat bottom lit.
        edges = [(corners[0], corners[1], GRAY), (corners[1], corners[2], WHITE),
                 (corners[2], corners[0], GRAY)]
    # Centre of the glass: the incentre, where the spot of light sits.
    lengths = [math.dist(corners[(i + 1) % 3], corners[(i + 2) % 3]) for i in range(3)]
    total = sum(lengths)
    gx = sum(lengths[i] * corners[i][0] for i in range(3)) / total
    gy = sum(lengths[i] * corners[i][1] for i in range(3)) / total

    def distance_inside(x, y, start, end):
        (x0, y0), (x1, y1) = start, end
        ex, ey = x1 - x0, y1 - y0
        return ((y - y0) * ex - (x - x0) * ey) / math.hypot(ex, ey)

    def inside(x, y):
        return all(distance_inside(x, y, s, e) > -0.05 for s, e, _ in edges)

    def shade(x, y, depth):
        if depth == 1:
            return min((distance_inside(x, y, s, e), colour) for s, e, colour in edges)[1]
        centre = math.hypot((x - gx) * 0.7, y - gy)
        if look == "OFF":
            return TEAL if centre < 0.9 else NAVY
        if look == "ON":  # the glow follows the shape, brightest in the middle
            if centre < 0.8:
                return WHITE
            if centre < 1.7:
                return CYAN
            return TEAL if depth >= 3 else NAVY
        if math.hypot((x - (gx - 1.5)) * 0.6, y - (gy - 1.0)) < 0.7:
            return WHITE
        return CYAN

    return inside, shade


LAMPS = {  # picture number: (width, height, drawing of one look)
    1: (20, 11, lambda look: triangle(look, point_down=True)),
    2: (20, 11, lambda look: triangle(look, point_down=False)),
    3: (20, 16, round_blue),
    4: (16, 16, round_red),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "resources/leds"
    os.makedirs(folder, exist_ok=True)
    for number, (width, height, drawing) in LAMPS.items():
        for look in LOOKS:
            for scale, suffix in ((1, ""), (2, "@2x")):
                pixels = draw(width, height, scale, *drawing(look))
                write_bmp(os.path.join(folder, f"{look}{number}{suffix}.bmp"), pixels)


if __name__ == "__main__":
    main()
