"""Turn the rasterised SVGs in WORK into the game's picture files in OUT.

    python3 build.py WORK OUT TARGET...

WORK holds NAME.png files made by rsvg-convert (see art/render).  Every
random choice below uses its own fixed seed, so the output is reproducible.
"""

import os
import sys

import artkit

WORK = OUT = None


def png(name):
    return artkit.read_png(os.path.join(WORK, name + ".png"))


# ------------------------------------------------------------------ title

def title():
    pal = artkit.web_palette()
    cube = lambda r, g, b: pal.index((r, g, b))
    transparent = 216
    black, grey, cream, pink = cube(0, 0, 0), cube(102, 102, 102), cube(255, 255, 204), cube(255, 153, 204)
    pic = png("title")
    idx = artkit.map_to_palette(pic, pal, transparent, allowed=[black, grey, cream, pink])
    w, h = pic.w, pic.h
    # pastel speckle, only well inside the cream and pink areas
    speck = artkit.rng(1701)
    pastels = [cube(*c) for c in ((255, 204, 255), (204, 255, 255), (204, 255, 204),
                                  (255, 204, 153), (204, 204, 255), (255, 255, 153))]
    pink_dots = [cube(*c) for c in ((255, 204, 255), (255, 255, 204), (204, 204, 255),
                                    (255, 204, 204))]
    out = list(idx)
    for y in range(2, h - 2):
        for x in range(2, w - 2):
            c = idx[y * w + x]
            if c not in (cream, pink):
                speck.random()
                continue
            roll = speck.random()
            if roll > 0.055:
                continue
            if any(idx[(y + dy) * w + x + dx] != c
                   for dy in (-2, -1, 0, 1, 2) for dx in (-2, -1, 0, 1, 2)):
                continue
            out[y * w + x] = speck.choice(pastels if c == cream else pink_dots)
    frame = artkit.Frame(out, w, h, transparent=transparent)
    artkit.write_gif(os.path.join(OUT, "title.gif"), w, h, pal, [frame])


# ------------------------------------------------------------ character3

def character3():
    pal = [(0, 0, 0), (132, 132, 132), (198, 198, 198), (239, 239, 239),
           (255, 0, 0), (0, 0, 0), (0, 0, 0), (0, 0, 0)]
    body = png("character3")
    frames = []
    for face in ("character3-calm", "character3-goggle"):
        pic = artkit.over(body, png(face))
        idx = artkit.map_to_palette(pic, pal, 5, allowed=[0, 1, 2, 3, 4])
        frames.append(artkit.Frame(idx, pic.w, pic.h, left=1, top=0, delay=100,
                                   disposal=2, transparent=5))
    artkit.write_gif(os.path.join(OUT, "character3.gif"), 40, 40, pal, frames,
                     background=5, loop=0)


# ------------------------------------------------------------ character2

CHAR2_PALETTE = [(192, 192, 192), (255, 235, 0), (253, 202, 138), (170, 157, 0),
                 (110, 74, 32), (0, 135, 64), (0, 0, 0), (0, 0, 0)]


def character2():
    pic = png("character2")
    idx = artkit.map_to_palette(pic, CHAR2_PALETTE, 0, allowed=[1, 2, 3, 4, 5, 6])
    path = os.path.join(OUT, "character2.gif")
    frame = artkit.Frame(idx, pic.w, pic.h, transparent=0, interlace=True)
    artkit.write_gif(path, pic.w, pic.h, CHAR2_PALETTE, [frame], background=0)
    # The game's copy of this picture has its background colour index set
    # past the end of the 8-entry table; keep that byte as it is.
    with open(path, "r+b") as fh:
        fh.seek(11)
        fh.write(bytes([255]))


# ------------------------------------------------------------ character0

def pencil(pic, seed, count, angle, spread):
    """Scatter short pencil strokes over the opaque part of pic.

    Each stroke is a 4..8 pixel line at about `angle` degrees; most darken the
    colour underneath a little, some lighten it like paper showing through."""
    import math
    r = artkit.rng(seed)
    shade = [1.0] * (pic.w * pic.h)
    for _ in range(count):
        x, y = r.uniform(0, pic.w), r.uniform(0, pic.h)
        a = math.radians(angle + r.uniform(-spread, spread))
        n = r.randint(4, 8)
        f = r.choice((0.95, 0.96, 1.04, 1.05, 1.07))
        for k in range(n):
            px, py = int(x + k * math.cos(a)), int(y + k * math.sin(a))
            if 0 <= px < pic.w and 0 <= py < pic.h:
                shade[py * pic.w + px] *= f
    out = []
    for (cr, cg, cb, ca), s in zip(pic.px, shade):
        s = min(1.15, max(0.8, s))
        out.append((min(255, int(cr * s)), min(255, int(cg * s)), min(255, int(cb * s)), ca))
    return artkit.Picture(pic.w, pic.h, out)


def character0():
    base = pencil(png("character0"), 4242, 420, -60, 8)
    pics = [artkit.over(base, png(f)) for f in ("character0-open", "character0-smile")]
    # One shared palette for both frames; index 0 is the transparent one.
    colours = [p[:3] for pic in pics for p in pic.px if p[3] >= 128]
    pal = [(255, 0, 255)] + artkit.median_cut(colours, 127)
    pal += [(0, 0, 0)] * (128 - len(pal))
    allowed = list(range(1, 128))
    shape = [p[3] >= 128 for p in base.px]
    frames = []
    for pic, delay in zip(pics, (100, 35)):
        if [p[3] >= 128 for p in pic.px] != shape:
            raise SystemExit("character0: faces must stay inside the head")
        idx = artkit.map_to_palette(pic, pal, 0, allowed=allowed)
        frames.append(artkit.Frame(idx, pic.w, pic.h, delay=delay, disposal=1,
                                   transparent=0))
    artkit.write_gif(os.path.join(OUT, "character0.gif"), base.w, base.h, pal,
                     frames, background=0, loop=0)


TARGETS = {
    "character0": character0,
    "character2": character2,
    "character3": character3,
    "title": title,
}


def main():
    global WORK, OUT
    WORK, OUT = sys.argv[1], sys.argv[2]
    for name in sys.argv[3:] or sorted(TARGETS):
        TARGETS[name]()


if __name__ == "__main__":
    main()
