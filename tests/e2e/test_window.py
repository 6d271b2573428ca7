"""The real window: named Form1, a client area of the form's size under a menu bar, the
program's icon; "はじまり" hides the instructions; "おわり" ends the program with status 0."""

import time

import harness
from harness import CLIENT_HEIGHT, CLIENT_WIDTH, MENU_END, MENU_START

RED = (255, 0, 0)
# Where the red instructions stand on the title screen.
INSTRUCTIONS = (48, 112, 473, 65)


def test_title_screen_start_and_end(launch):
    game = launch()
    _, _, width, height = game.geometry()
    assert (width, height) == (CLIENT_WIDTH, CLIENT_HEIGHT + game.menu_height)
    icons = harness.icon_sizes(game.env, game.window_id)
    assert (32, 32) in icons, f"the window carries no 32 x 32 icon (icons: {icons})"

    def red():
        return harness.count_colour(game.screenshot(), INSTRUCTIONS, RED)

    harness.wait_until(lambda: red() > 500, 10, "the red instructions on the title screen")

    game.choose_menu(MENU_START)
    harness.wait_until(lambda: red() == 0 or not game.running(), 10,
                       "the instructions hidden after はじまり")
    assert game.running(), "the game ended after はじまり"

    game.choose_menu(MENU_END)
    began = time.monotonic()
    assert game.wait_exit(harness.EXIT_DEADLINE) == 0, "おわり did not end the game with status 0"
    print(f"おわり ended the game after {time.monotonic() - began:.2f} s")
