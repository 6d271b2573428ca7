"""Pixel versions of the program icon (icon.svg) for the smallest sizes.

A vector window shrunk to 16 or 32 pixels turns to mush, so the small
images are drawn here on the pixel grid: polygons filled by pixel centre,
outlines with Bresenham lines, all in the classic 16-colour palette.

    python3 icon.py OUT_ICO PNG16 PNG32

writes the three-image .ico (32x32 1 bpp, 32x32 4 bpp, 16x16 4 bpp) and the
16 and 32 pixel PNGs (through ImageMagick, metadata stripped).
"""

import subprocess
import sys

import artkit

BLACK, SILVER, GREY, CYAN, WHITE = 0, 7, 8, 14, 15
CLEAR = -1

# Per size: window corners (top-left, top-right, bottom-right, bottom-left),
# the title bar's lower edge, the shadow offset, content lines, close box.
LAYOUT = {
    32: dict(window=[(2, 3), (26, 7), (26, 23), (2, 26)],
             bar=[(2, 9), (26, 12)],
             shadow=3,
             lines=[((5, 15), (19, 16)), ((5, 18), (22, 18)), ((5, 21), (16, 21))],
             close=[(22, 8), (23, 8), (22, 9), (23, 9), (22, 10), (23, 10)]),
    16: dict(window=[(1, 1), (13, 3), (13, 11), (1, 13)],
             bar=[(1, 4), (13, 6)],
             shadow=2,
             lines=[((3, 8), (9, 8)), ((3, 10), (10, 10))],
             close=[]),
}


def line(p, q):
    (x0, y0), (x1, y1) = p, q
    dx, dy = abs(x1 - x0), -abs(y1 - y0)
    sx, sy = (1 if x0 < x1 else -1), (1 if y0 < y1 else -1)
    err = dx + dy
    pts = []
    while True:
        pts.append((x0, y0))
        if (x0, y0) == (x1, y1):
            return pts
        e2 = 2 * err
        if e2 >= dy:
            err += dy
            x0 += sx
        if e2 <= dx:
            err += dx
            y0 += sy


def inside(poly, x, y):
    hit = False
    n = len(poly)
    for i in range(n):
        (x0, y0), (x1, y1) = poly[i], poly[(i + 1) % n]
        if (y0 > y) != (y1 > y):
            xc = x0 + (y - y0) * (x1 - x0) / (y1 - y0)
            if x < xc:
                hit = not hit
    return hit


def draw(size):
    L = LAYOUT[size]
    g = [[CLEAR] * size for _ in range(size)]

    def fill(poly, c):
        for y in range(size):
            for x in range(size):
                if inside(poly, x, y):
                    g[y][x] = c

    def stroke(poly, c, closed=True):
        n = len(poly)
        for i in range(n if closed else n - 1):
            for (x, y) in line(poly[i], poly[(i + 1) % n]):
                if 0 <= x < size and 0 <= y < size:
                    g[y][x] = c

    win = L["window"]
    off = L["shadow"]
    shadow = [(x + off, y + off) for (x, y) in win]
    fill(shadow, GREY)
    stroke(shadow, GREY)
    fill(win, WHITE)
    bar = [win[0], win[1], L["bar"][1], L["bar"][0]]
    fill(bar, CYAN)
    for a, b in L["lines"]:
        stroke([a, b], SILVER, closed=False)
    stroke(win, BLACK)
    stroke(L["bar"], BLACK, closed=False)
    for (x, y) in L["close"]:
        g[y][x] = WHITE
    return g


def mono(g):
    """Two-colour version: white window, black bar, checkered shadow."""
    out = []
    for y, row in enumerate(g):
        r = []
        for x, c in enumerate(row):
            if c == CLEAR:
                r.append(CLEAR)
            elif c == GREY:
                r.append(0 if (x + y) % 2 == 0 else CLEAR)
            elif c in (BLACK, CYAN):
                r.append(0)
            elif c == SILVER:
                r.append(0 if x % 2 == 0 else 1)
            else:
                r.append(1)
        out.append(r)
    return out


def ico_image(g, pal):
    size = len(g)
    idx = [max(c, 0) for row in g for c in row]
    mask = [1 if c == CLEAR else 0 for row in g for c in row]
    return (size, size, pal, idx, mask)


def write_png(g, path):
    size = len(g)
    raw = bytearray()
    for row in g:
        for c in row:
            raw += bytes(artkit.VGA16[c]) + b"\xff" if c != CLEAR else b"\x00\x00\x00\x00"
    subprocess.run([artkit.CONVERT, "-size", "%dx%d" % (size, size), "-depth", "8",
                    "rgba:-", "-strip", "-define", "png:exclude-chunks=date,time",
                    "PNG32:" + path], input=bytes(raw), check=True)


def main(ico, png16, png32):
    g32, g16 = draw(32), draw(16)
    artkit.write_ico(ico, [ico_image(mono(g32), artkit.MONO),
                           ico_image(g32, artkit.VGA16),
                           ico_image(g16, artkit.VGA16)])
    write_png(g16, png16)
    write_png(g32, png32)


if __name__ == "__main__":
    main(*sys.argv[1:4])
