"""Sky with eight sprayed clouds -> background.bmp (664 x 495, two colours).

    python3 background.py OUT.bmp [OUT@2x.png]

The second file is the same sky for screens of twice the density: 1328 x 990
pixels, the clouds in the same places, sprayed in pixels half as wide, and
stored as a two-colour PNG (a BMP of it would be four megabytes).

Each cloud is a cluster of soft round puffs (a flat-bottomed cumulus).  The
puffs add up to a density field; every pixel turns white with a probability
given by that field, so the cloud is nearly solid in its middle and breaks
up into a fine spray at its rim.  The window only shows the top-left
558 x 464 pixels, so the composition is balanced for that part; the right
and bottom clouds are mostly beyond it and only peek in.
"""

import math
import sys

import artkit

W, H = 664, 495
SKY = (173, 230, 248)
WHITE = (255, 255, 255)

# (centre x, centre y, width scale, height scale, seed for the puff layout)
CLOUDS = [
    (292, 4, 0.95, 0.85, 11),    # cut by the top edge
    (6, 236, 0.80, 0.85, 12),    # cut by the left edge
    (636, 222, 1.25, 1.00, 13),  # cut by the right edge
    (150, 492, 1.05, 0.95, 14),  # cut by the bottom edge
    (112, 96, 0.72, 0.70, 15),
    (462, 84, 0.80, 0.72, 16),
    (236, 282, 0.85, 0.80, 17),
    (440, 362, 0.70, 0.68, 18),
]


def puffs(cx, cy, sx, sy, seed):
    """Circles (x, y, r) making one cumulus: a flat base and rounded tops."""
    r = artkit.rng(seed)
    out = []
    half = 92 * sx
    # the flat base: a row of low puffs
    n_base = 6
    for i in range(n_base):
        x = cx - half * 0.9 + 1.8 * half * i / (n_base - 1) + r.uniform(-4, 4)
        out.append((x, cy + 20 * sy, (23 + r.uniform(-2, 3)) * sy))
    # the billowing top: round heads of different sizes, tallest off-centre
    n_top = 4 + r.randrange(2)
    peak = r.uniform(-0.35, 0.35)
    for i in range(n_top):
        t = -0.8 + 1.6 * i / (n_top - 1) + r.uniform(-0.06, 0.06)
        x = cx + t * half
        near = max(0.0, 1 - abs(t - peak) / 1.1)
        rad = (18 + 26 * near + r.uniform(-2, 4)) * sy
        out.append((x, cy + 16 * sy - rad * 1.05, rad))
    # a body filling the space between the base and the heads
    for t in (-0.45, 0.0, 0.45):
        out.append((cx + t * half, cy + 4 * sy, 28 * sy))
    return out


def depth(x, y, circles):
    """How far (in pixels) the point lies inside the cloud; negative outside.

    A smooth union of the puffs, so neighbouring puffs melt together."""
    k = 5.0
    acc = 0.0
    for (px, py, pr) in circles:
        g = pr - math.hypot(x - px, y - py)
        if g > -40:
            acc += math.exp(g / k)
    return k * math.log(acc) if acc > 0 else -99.0


def smoothstep(a, b, v):
    t = min(1.0, max(0.0, (v - a) / (b - a)))
    return t * t * (3 - 2 * t)


def sky(scale):
    """Rows of colours at `scale` pixels per pixel of the normal picture."""
    clouds = [puffs(*c) for c in CLOUDS]
    spray = artkit.rng(20240611)
    rows = []
    for Y in range(H * scale):
        # the normal picture samples each pixel where it lies; a dense pixel samples its own
        # centre in the same coordinates
        y = (Y + 0.5) / scale - 0.5
        row = []
        for X in range(W * scale):
            x = (X + 0.5) / scale - 0.5
            p = 0.0
            for circles in clouds:
                if abs(x - circles[0][0]) > 260 and abs(x - circles[-1][0]) > 260:
                    continue
                p = max(p, smoothstep(-8.0, 11.0, depth(x, y, circles)))
            p = p ** 1.6 * 0.985
            row.append(WHITE if spray.random() < p else SKY)
        rows.append(row)
    return rows


def main(out_path, dense_path=None):
    artkit.write_bmp24(out_path, W, H, sky(1))
    if dense_path:
        palette = [SKY, WHITE]
        rows = [[palette.index(c) for c in row] for row in sky(2)]
        artkit.write_png_indexed(dense_path, 2 * W, 2 * H, palette, rows)


if __name__ == "__main__":
    main(*sys.argv[1:3])
