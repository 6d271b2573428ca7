"""A player's game: after "はじまり" a character rises from the bottom left; a click on it,
found on a screenshot, shows the score 1 and the first taunt; the game goes on for 12 s."""

import time

import harness
from harness import CLIENT_HEIGHT, CLIENT_WIDTH, MENU_START, SCORE_BOX, SCORE_COLOUR

BLUE = (0, 0, 255)
TAUNT = (160, 16, 329, 49)


def test_a_click_on_a_character_scores(launch):
    game = launch()
    game.choose_menu(MENU_START)
    started = time.monotonic()

    x, y = harness.wait_until(lambda: harness.find_character(game.screenshot()), 10,
                              "a character in view after はじまり")
    assert x < CLIENT_WIDTH // 2 and y > CLIENT_HEIGHT // 2, \
        f"the first character seen is not near the bottom left ({x}, {y})"

    def scored():
        shot = game.screenshot()
        return shot if harness.count_colour(shot, SCORE_BOX, SCORE_COLOUR) > 0 else None

    # The slowest character stays in view for seconds; aim again until one click lands.
    shot = aim = None
    flight = harness.Deadline(20)
    attempts = 0
    while shot is None and not flight.expired():
        aim = game.click_character(spread=2)
        if aim is None:
            continue
        attempts += 1
        # A miss never scores, so this bound only costs time on a miss.
        shot = harness.within(scored, 1.5, interval=0.1)
    assert shot is not None, f"none of {attempts} clicks at a character scored"
    print(f"a click on the character at {aim} scored (attempt {attempts})")

    harness.wait_until(lambda: harness.count_colour(game.screenshot(), TAUNT, BLUE) > 100, 5,
                       "the first taunt in blue after the first point")

    status = game.wait_exit(max(0.0, 12 - (time.monotonic() - started)))
    assert status is None, f"the game ended with status {status} during play"
