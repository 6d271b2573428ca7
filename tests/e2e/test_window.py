"""The real window: named Form1, a 558 x 464 client area under a menu bar, the program's icon;
"はじまり" hides the instructions; "おわり" ends the program with status 0 within a second."""

import time

import harness
from harness import CLIENT_HEIGHT, CLIENT_WIDTH, MENU_END, MENU_START, SKY

RED = (255, 0, 0)
# Where the red instructions stand on the title screen.
INSTRUCTIONS = (48, 112, 473, 65)


def test_title_screen_start_and_end(xvfb, launch):
    game = launch()
    _, _, width, height = game.geometry()
    assert (width, height) == (CLIENT_WIDTH, CLIENT_HEIGHT + game.menu_height)
    icons = harness.icon_sizes(game.env, game.window_id)
    assert (32, 32) in icons, f"the window carries no 32 x 32 icon (icons: {icons})"

    time.sleep(0.3)
    title = game.screenshot()
    red = harness.count_colour(title, INSTRUCTIONS, RED)
    assert red > 500, f"the instructions are not shown ({red} red pixels)"
    assert harness.pixel(title, 540, 450) == SKY, "no sky at the bottom right of the client area"

    game.choose_menu(MENU_START)
    time.sleep(0.5)
    red = harness.count_colour(game.screenshot(), INSTRUCTIONS, RED)
    assert red == 0, f"the instructions are still shown after はじまり ({red} red pixels)"
    assert game.running(), "the game ended after はじまり"

    game.choose_menu(MENU_END)
    assert game.wait_exit(1) == 0, "おわり did not end the game with status 0 within a second"
