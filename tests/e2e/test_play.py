"""A player's game: after "はじまり" a character rises from the bottom left; a click on it,
found on a screenshot, shows the score 1 and the first taunt; the game goes on for 12 s."""

import time

import harness
from harness import CLIENT_HEIGHT, CLIENT_WIDTH, MENU_START

PURPLE = (192, 0, 192)
BLUE = (0, 0, 255)
SCORE_BOX = (8, 24, 65, 41)
TAUNT = (160, 16, 329, 49)


def test_a_click_on_a_character_scores(xvfb, launch):
    game = launch()
    time.sleep(0.3)
    game.choose_menu(MENU_START)
    started = time.monotonic()

    time.sleep(0.3)
    first = harness.find_character(game.screenshot())
    assert first is not None, "no character in view 0.3 s after はじまり"
    x, y = first
    assert x < CLIENT_WIDTH // 2 and y > CLIENT_HEIGHT // 2, \
        f"the first character seen is not near the bottom left ({x}, {y})"

    scored = None
    for attempt in range(1, 9):
        time.sleep(0.2)
        aim = harness.find_character(game.screenshot())
        if aim is None:
            continue
        game.click(*aim)
        time.sleep(0.3)
        shot = game.screenshot()
        if harness.count_colour(shot, SCORE_BOX, PURPLE) > 0:
            scored = shot
            break
    assert scored is not None, "no click on a character scored in 8 attempts"
    print(f"a click on the character at {aim} scored (attempt {attempt})")

    blue = harness.count_colour(scored, TAUNT, BLUE)
    assert blue > 100, f"no taunt in blue after the first point ({blue} blue pixels)"

    while time.monotonic() - started < 12:
        assert game.running(), "the game ended during play"
        time.sleep(0.5)
    assert game.running(), "the game ended during play"
