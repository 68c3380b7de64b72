#!/usr/bin/env python3
"""Draws the control's two pictures and writes them as Windows bitmap files next to this script.

appearance.bmp  32 x 31 pixels, 8 bits per pixel, a palette of exactly 156 colours: the control's
                look on a form at design time.
toolbox.bmp     16 x 15 pixels, 24 bits per pixel: the control's button in a toolbox.

Both show the same motif: a raised tile holding a small canvas whose colours run through the hues
from left to right and from light to dark from top to bottom, with a circle and a stroke drawn on
it, and (on the larger picture) a stack of three sheets below the canvas.

The output is deterministic; the committed .bmp files are what this script writes. Run it again
after changing the drawing:  python3 make_art.py
"""

import colorsys
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

FACE = (212, 208, 200)
HIGHLIGHT = (255, 255, 255)
LIGHT = (232, 230, 226)
SHADOW = (128, 128, 128)
DARK = (64, 64, 64)
INK = (16, 16, 24)
PAPER = (250, 250, 244)
PAPER_EDGE = (112, 108, 100)
ACCENT = (200, 40, 32)

# Fixed colours first, then the canvas ramp; together exactly 156 palette entries.
FIXED = [FACE, HIGHLIGHT, LIGHT, SHADOW, DARK, INK, PAPER, PAPER_EDGE, ACCENT,
         (0, 0, 0), (96, 96, 96), (176, 176, 176), (224, 224, 216), (40, 72, 160), (248, 200, 48), (32, 128, 64)]
HUES = 14
SHADES = 10
PALETTE_SIZE = len(FIXED) + HUES * SHADES  # 156


def ramp(hue_step, shade_step, hues=HUES, shades=SHADES):
    """The canvas colour: hue by column band, lightness by row band."""
    h = hue_step / hues
    l = 0.78 - 0.46 * shade_step / max(shades - 1, 1)
    r, g, b = colorsys.hls_to_rgb(h, l, 0.72)
    return (round(r * 255), round(g * 255), round(b * 255))


def tile(width, height):
    """A raised tile: face colour, light edges top and left, dark edges bottom and right."""
    px = [[FACE] * width for _ in range(height)]
    for x in range(width):
        px[0][x] = HIGHLIGHT
        px[height - 1][x] = DARK
        if 0 < x < width - 1:
            px[1][x] = LIGHT
            px[height - 2][x] = SHADOW
    for y in range(height):
        px[y][0] = HIGHLIGHT
        px[y][width - 1] = DARK
        if 0 < y < height - 1:
            px[y][1] = LIGHT if y < height - 2 else SHADOW
            px[y][width - 2] = SHADOW
    return px


def canvas(px, left, top, width, height, hues, shades):
    for y in range(height):
        for x in range(width):
            px[top + y][left + x] = ramp(x * hues // width, y * shades // height, hues, shades)


def circle(px, cx, cy, r, colour):
    """A one-pixel outline, by the midpoint rule."""
    x, y, d = r, 0, 1 - r
    while x >= y:
        for dx, dy in ((x, y), (y, x), (-y, x), (-x, y), (-x, -y), (-y, -x), (y, -x), (x, -y)):
            px[cy + dy][cx + dx] = colour
        y += 1
        if d < 0:
            d += 2 * y + 1
        else:
            x -= 1
            d += 2 * (y - x) + 1


def stroke(px, x0, y0, x1, y1, colour):
    steps = max(abs(x1 - x0), abs(y1 - y0))
    for i in range(steps + 1):
        px[y0 + round(i * (y1 - y0) / steps)][x0 + round(i * (x1 - x0) / steps)] = colour


def sheet(px, left, top, width, height):
    for y in range(top, top + height):
        for x in range(left, left + width):
            edge = y in (top, top + height - 1) or x in (left, left + width - 1)
            px[y][x] = PAPER_EDGE if edge else PAPER


def appearance():
    px = tile(32, 31)
    canvas(px, 3, 3, 26, 17, HUES, SHADES)
    # 26 columns and 17 rows: every one of the 14 hue bands and 10 shade bands gets at least one
    # column and one row, so each ramp colour of the palette has its place on the canvas.
    circle(px, 11, 11, 5, INK)
    stroke(px, 17, 17, 26, 5, ACCENT)
    sheet(px, 4, 21, 12, 7)
    sheet(px, 8, 22, 12, 7)
    sheet(px, 12, 23, 12, 7)
    stroke(px, 14, 25, 21, 25, INK)
    stroke(px, 14, 27, 19, 27, INK)
    return px


def toolbox():
    px = tile(16, 15)
    canvas(px, 2, 2, 12, 11, 7, 5)
    circle(px, 6, 7, 3, INK)
    stroke(px, 9, 11, 13, 3, ACCENT)
    return px


def write_bmp(path, pixels, bits, palette=None):
    height = len(pixels)
    width = len(pixels[0])
    row_bytes = ((width * bits + 31) // 32) * 4
    colours = len(palette) if palette else 0
    rows = []
    for row in reversed(pixels):  # bottom-up
        if bits == 8:
            data = bytes(palette.index(c) for c in row)
        else:
            data = b"".join(bytes((c[2], c[1], c[0])) for c in row)
        rows.append(data + b"\0" * (row_bytes - len(data)))
    bits_data = b"".join(rows)
    palette_data = b"".join(bytes((c[2], c[1], c[0], 0)) for c in palette) if palette else b""
    offset = 14 + 40 + len(palette_data)
    header = struct.pack("<2sIHHI", b"BM", offset + len(bits_data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(bits_data), 3780, 3780, colours, colours)
    with open(path, "wb") as f:
        f.write(header + info + palette_data + bits_data)


def main():
    ramp_colours = [ramp(h, s) for s in range(SHADES) for h in range(HUES)]
    palette = FIXED + ramp_colours
    assert len(palette) == PALETTE_SIZE == 156
    assert len(set(palette)) == len(palette), "palette entries must be distinct"
    picture = appearance()
    used = {c for row in picture for c in row}
    assert used <= set(palette), "every pixel must be a palette colour"
    write_bmp(os.path.join(HERE, "appearance.bmp"), picture, 8, palette)
    write_bmp(os.path.join(HERE, "toolbox.bmp"), toolbox(), 24)


if __name__ == "__main__":
    main()
