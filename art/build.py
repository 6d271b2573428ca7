"""Turn the rasterised SVGs in WORK into the game's picture files in OUT.

    python3 build.py WORK OUT [--scale 2] TARGET...

WORK holds NAME.png files made by rsvg-convert (see art/render), and
NAME@2x.png at twice the size for the pictures of high-density screens
(written as NAME@2x.gif).  Every random choice below uses its own fixed seed,
so the output is reproducible, and the dense pictures scatter their dots and
strokes where the normal ones do.
"""

import os
import sys

import artkit

WORK = OUT = None
SCALE = 1


def png(name, scale=None):
    scale = SCALE if scale is None else scale
    suffix = "@%dx" % scale if scale > 1 else ""
    return artkit.read_png(os.path.join(WORK, name + suffix + ".png"))


def out(name, ext):
    return os.path.join(OUT, name + ("@%dx" % SCALE if SCALE > 1 else "") + "." + ext)


# ------------------------------------------------------------------ title

def title():
    pal = artkit.web_palette()
    cube = lambda r, g, b: pal.index((r, g, b))
    transparent = 216
    black, grey, cream, pink = cube(0, 0, 0), cube(102, 102, 102), cube(255, 255, 204), cube(255, 153, 204)
    allowed = [black, grey, cream, pink]
    pic = png("title", 1)
    idx = artkit.map_to_palette(pic, pal, transparent, allowed=allowed)
    w, h = pic.w, pic.h
    # pastel speckle, only well inside the cream and pink areas; chosen on the normal
    # picture so that the dense one carries the same dots
    speck = artkit.rng(1701)
    pastels = [cube(*c) for c in ((255, 204, 255), (204, 255, 255), (204, 255, 204),
                                  (255, 204, 153), (204, 204, 255), (255, 255, 153))]
    pink_dots = [cube(*c) for c in ((255, 204, 255), (255, 255, 204), (204, 204, 255),
                                    (255, 204, 204))]
    dots = {}
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
            dots[x, y] = (c, speck.choice(pastels if c == cream else pink_dots))
    if SCALE > 1:
        pic = png("title")
        idx = artkit.map_to_palette(pic, pal, transparent, allowed=allowed)
    w, h = pic.w, pic.h
    speckled = list(idx)
    for (x, y), (under, dot) in dots.items():
        block = [(x * SCALE + dx) + (y * SCALE + dy) * w
                 for dy in range(SCALE) for dx in range(SCALE)]
        if all(idx[i] == under for i in block):
            for i in block:
                speckled[i] = dot
    frame = artkit.Frame(speckled, w, h, transparent=transparent)
    artkit.write_gif(out("title", "gif"), w, h, pal, [frame])


# ------------------------------------------------------------ character3

def character3():
    pal = [(0, 0, 0), (132, 132, 132), (198, 198, 198), (239, 239, 239),
           (255, 0, 0), (0, 0, 0), (0, 0, 0), (0, 0, 0)]
    body = png("character3")
    frames = []
    for face in ("character3-calm", "character3-goggle"):
        pic = artkit.over(body, png(face))
        idx = artkit.map_to_palette(pic, pal, 5, allowed=[0, 1, 2, 3, 4])
        frames.append(artkit.Frame(idx, pic.w, pic.h, left=SCALE, top=0, delay=100,
                                   disposal=2, transparent=5))
    artkit.write_gif(out("character3", "gif"), 40 * SCALE, 40 * SCALE, pal, frames,
                     background=5, loop=0)


# ------------------------------------------------------------ character2

CHAR2_PALETTE = [(192, 192, 192), (255, 235, 0), (253, 202, 138), (170, 157, 0),
                 (110, 74, 32), (0, 135, 64), (0, 0, 0), (0, 0, 0)]


def character2():
    pic = png("character2")
    idx = artkit.map_to_palette(pic, CHAR2_PALETTE, 0, allowed=[1, 2, 3, 4, 5, 6])
    path = out("character2", "gif")
    frame = artkit.Frame(idx, pic.w, pic.h, transparent=0, interlace=True)
    artkit.write_gif(path, pic.w, pic.h, CHAR2_PALETTE, [frame], background=0)
    # The game's copy of this picture has its background colour index set
    # past the end of the 8-entry table; keep that byte as it is.
    with open(path, "r+b") as fh:
        fh.seek(11)
        fh.write(bytes([255]))


# ------------------------------------------------------------ character0

def pencil(pic, seed, count, angle, spread, scale):
    """Scatter short pencil strokes over the opaque part of pic.

    Each stroke is a 4..8 pixel line at about `angle` degrees; most darken the
    colour underneath a little, some lighten it like paper showing through.
    On a dense picture the same strokes are drawn with the same width, along
    the finer pixel grid."""
    import math
    r = artkit.rng(seed)
    shade = [1.0] * (pic.w * pic.h)
    w, h = pic.w // scale, pic.h // scale
    for _ in range(count):
        x, y = r.uniform(0, w), r.uniform(0, h)
        a = math.radians(angle + r.uniform(-spread, spread))
        n = r.randint(4, 8)
        f = r.choice((0.95, 0.96, 1.04, 1.05, 1.07))
        covered = []
        for k in range(n * scale):
            t = k / scale
            px = int(x * scale + t * scale * math.cos(a))
            py = int(y * scale + t * scale * math.sin(a))
            covered += [(px + dx, py + dy) for dy in range(scale) for dx in range(scale)]
        if scale > 1:  # the blocks of neighbouring steps overlap; shade each pixel once
            covered = sorted(set(covered))
        for (px, py) in covered:
            if 0 <= px < pic.w and 0 <= py < pic.h:
                shade[py * pic.w + px] *= f
    out = []
    for (cr, cg, cb, ca), s in zip(pic.px, shade):
        s = min(1.15, max(0.8, s))
        out.append((min(255, int(cr * s)), min(255, int(cg * s)), min(255, int(cb * s)), ca))
    return artkit.Picture(pic.w, pic.h, out)


def portraits(scale):
    base = pencil(png("character0", scale), 4242, 420, -60, 8, scale)
    return base, [artkit.over(base, png(f, scale)) for f in ("character0-open", "character0-smile")]


def character0():
    base, pics = portraits(1)
    # One shared palette for both frames, taken from the normal picture so that the dense
    # one has the same colours; index 0 is the transparent one.
    colours = [p[:3] for pic in pics for p in pic.px if p[3] >= 128]
    pal = [(255, 0, 255)] + artkit.median_cut(colours, 127)
    pal += [(0, 0, 0)] * (128 - len(pal))
    if SCALE > 1:
        base, pics = portraits(SCALE)
    allowed = list(range(1, 128))
    shape = [p[3] >= 128 for p in base.px]
    frames = []
    for pic, delay in zip(pics, (100, 35)):
        if [p[3] >= 128 for p in pic.px] != shape:
            raise SystemExit("character0: faces must stay inside the head")
        idx = artkit.map_to_palette(pic, pal, 0, allowed=allowed)
        frames.append(artkit.Frame(idx, pic.w, pic.h, delay=delay, disposal=1,
                                   transparent=0))
    artkit.write_gif(out("character0", "gif"), base.w, base.h, pal,
                     frames, background=0, loop=0)


TARGETS = {
    "character0": character0,
    "character2": character2,
    "character3": character3,
    "title": title,
}


def main():
    global WORK, OUT, SCALE
    WORK, OUT = sys.argv[1], sys.argv[2]
    names = sys.argv[3:]
    if names[:1] == ["--scale"]:
        SCALE, names = int(names[1]), names[2:]
    for name in names or sorted(TARGETS):
        TARGETS[name]()


if __name__ == "__main__":
    main()
