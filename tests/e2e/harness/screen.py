"""What the tests compute from what they see: the game's colours, and pixels counted or found in
a screenshot."""

SKY = (173, 230, 248)
WHITE = (255, 255, 255)
# The score box, in the client area, and the colour of its digits.
SCORE_BOX = (8, 24, 65, 41)
SCORE_COLOUR = (192, 0, 192)

def near(a, b, tolerance):
    """Whether two RGB colours lie within tolerance of each other (Euclidean, 0..255 scale)."""
    return sum((x - y) ** 2 for x, y in zip(a, b)) <= tolerance * tolerance


def count_colour(image, box, colour, tolerance=31):
    """How many pixels of box = (x, y, width, height) in image have about that colour.

    The default tolerance is 12 % of full scale, loose enough for anti-aliased text.
    """
    x, y, w, h = box
    data = image.crop((x, y, x + w, y + h)).getdata()
    return sum(1 for p in data if near(p[:3], colour, tolerance))


def pixel(image, x, y):
    return tuple(image.getpixel((x, y))[:3])


def find_character(image):
    """A point on a character in a shot of the client area, or None.

    A character is what is neither sky nor cloud below the score box. The slowest characters
    trail at the bottom left; of the character furthest that way, the solid point nearest its
    middle, so that a click a little late or early still lands on it.
    """
    width, height = image.size
    px = image.load()

    def character(x, y):
        p = px[x, y][:3]
        return not _each_channel_near(p, SKY) and not _each_channel_near(p, WHITE)

    def solid(x, y):
        return 4 <= x < width - 4 and 4 <= y < height - 4 and all(
            character(x + dx, y + dy) for dx in (-4, 0, 4) for dy in (-4, 0, 4))

    best = None
    for y in range(height - 5, 89, -3):
        if best is not None and y - 4 <= best[0]:
            break  # no point higher up can lie further bottom-left
        for x in range(4, width - 4, 3):
            if best is not None and y - x <= best[0]:
                break
            if solid(x, y):
                best = (y - x, x, y)
    if best is None:
        return None
    # The character around that point, on the same 3-pixel grid, no further than a
    # character's size from it.
    _, x0, y0 = best
    blob, todo = {(x0, y0)}, [(x0, y0)]
    while todo:
        x, y = todo.pop()
        for n in ((x + 3, y), (x - 3, y), (x, y + 3), (x, y - 3)):
            if (n not in blob and 4 <= n[0] < width - 4 and 89 < n[1] < height - 4
                    and abs(n[0] - x0) < 160 and abs(n[1] - y0) < 160 and character(*n)):
                blob.add(n)
                todo.append(n)
    cx = sum(x for x, _ in blob) / len(blob)
    cy = sum(y for _, y in blob) / len(blob)
    for x, y in sorted(blob, key=lambda p: (p[0] - cx) ** 2 + (p[1] - cy) ** 2):
        if solid(x, y):
            return x, y
    return x0, y0


def _each_channel_near(a, b, tolerance=24):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))
