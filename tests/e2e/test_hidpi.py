"""The real window on a screen of twice the density (QT_SCALE_FACTOR=2): a client area of
1116 x 928 device pixels, and a title figure drawn at single-device-pixel resolution, not
enlarged from its normal picture.

Run as a script, it measures a screenshot instead:
    test_hidpi.py SHOT.png X Y WIDTH HEIGHT
prints how many sharp colour edges the box holds and the share of them on odd device pixels.
"""

import os
import sys
from pathlib import Path

import pytest
from PIL import Image

import harness

RATIO = 2
# Image2, the title figure, in logical pixels of the client area.
TITLE = (184, 192, 178, 239)
# Colours further apart than this (Euclidean, 0..255 scale) make a sharp edge.
SHARP = 128


def edge_parity(image, box):
    """(edges, share on odd device pixels) of the sharp colour edges inside box.

    An edge lies between two neighbouring pixels, across or down; its position is the index of
    the second one, counted from the box's corner. A picture enlarged from half the density puts
    every edge on an even position; one drawn at full density puts about half on odd ones.
    """
    x0, y0, w, h = box
    px = image.convert("RGB").load()

    def sharp(a, b):
        return sum((p - q) ** 2 for p, q in zip(a, b)) > SHARP * SHARP

    edges = odd = 0
    for y in range(h):
        for x in range(w):
            here = px[x0 + x, y0 + y]
            if x > 0 and sharp(px[x0 + x - 1, y0 + y], here):
                edges += 1
                odd += x % 2
            if y > 0 and sharp(px[x0 + x, y0 + y - 1], here):
                edges += 1
                odd += y % 2
    return edges, (odd / edges if edges else 0.0)


def device(box, ratio=RATIO):
    return tuple(v * ratio for v in box)


def wait_scaled_window(game, ratio):
    """Game.wait_window for a window scaled by ratio: finds it and where its client area is."""
    game.find_window()
    x, y, width, height = game.geometry()
    game.menu_height = height - ratio * harness.CLIENT_HEIGHT
    assert 0 < game.menu_height < ratio * harness.MENU_HEIGHT_MAX, height
    game.x, game.y = x, y + game.menu_height
    return width, height - game.menu_height


@pytest.mark.own_display
def test_title_figure_at_twice_the_density(workdir, isolated_env, launch):
    # a screen large enough for the doubled window
    with harness.Xvfb(workdir, size="1600x1200") as server:
        env = dict(isolated_env, DISPLAY=server.display, QT_SCALE_FACTOR=str(RATIO))
        game = launch(env=env, wait_window=False)
        assert wait_scaled_window(game, RATIO) == (1116, 928)

        figure = device(TITLE)
        source = Path(os.environ["WARUKYARA_SOURCE_DIR"]) / "form" / "pictures"
        twin = Image.open(source / "title@2x.gif").convert("RGBA")
        assert twin.size == figure[2:]

        def shown():
            shot = harness.grab(env, (game.x + figure[0], game.y + figure[1], *figure[2:]))
            wrong = sum(1 for p, q in zip(shot.getdata(), twin.getdata())
                        if q[3] == 255 and p != q[:3])
            return shot if wrong == 0 else None

        shot = harness.wait_until(shown, 10, "the title figure drawn from its dense twin, "
                                             "pixel for pixel", interval=0.2)
        edges, odd = edge_parity(shot, (0, 0, *figure[2:]))
        assert edges > 2000, edges
        assert 0.35 < odd < 0.65, f"{odd:.2f} of {edges} sharp edges on odd device pixels"

        game.choose_menu(harness.MENU_END)
        assert game.wait_exit(harness.EXIT_DEADLINE) == 0


if __name__ == "__main__":
    path, *numbers = sys.argv[1:]
    edges, odd = edge_parity(Image.open(path), tuple(int(n) for n in numbers))
    print(f"{edges} sharp colour edges, {odd:.2f} of them on odd device pixels")
