"""A run-time error in a real window: a build of the game whose Timer1 raises one some seconds
after "はじまり". Exactly one report appears, nothing moves while it is open, and once the
player dismisses it the program ends with a non-zero status, without a second report."""

import time

import harness
from harness import MENU_START, REPORT_TITLE


def test_one_report_then_a_failing_end(launch, faulty_path):
    game = launch(binary=faulty_path)
    env = game.env

    def reports():
        return harness.windows_named(env, REPORT_TITLE)

    game.choose_menu(MENU_START)
    began = time.monotonic()

    # The comparison below must be able to see flight at all: before the fault, shots differ.
    harness.wait_until(lambda: harness.find_character(game.screenshot()), 10,
                       "a character in view after はじまり")
    flying = game.screenshot().tobytes()
    harness.wait_until(lambda: reports() or game.screenshot().tobytes() != flying, 5,
                       "the characters moving")
    assert not reports(), "a report appeared before the window had moved at all"

    def report_or_end():
        assert game.running(), f"the game ended with status {game.returncode} without a report"
        return reports()

    harness.wait_until(report_or_end, 20, "a report after はじまり")
    boxes = reports()
    assert len(boxes) == 1, f"{len(boxes)} reports are open, not one"
    box = boxes[0]
    print(f"one report, {time.monotonic() - began:.1f} s after はじまり")

    # Without a window manager the report stays where it is put: off the client area, so the
    # whole window can be watched.
    game.xdotool("windowmove", box, 620, 560)
    bx, by, _, _ = harness.window_geometry(env, box)
    assert bx >= 600 and by >= 540, f"the report could not be moved off the window ({bx}, {by})"
    # Where the report was is drawn again, which changes the window once; after that nothing
    # may move.
    still = game.wait_settled(0.5, 10)
    assert harness.find_character(still) is not None, \
        "no character in view while the report is open, so stillness would prove nothing"
    # Not a wait: a second of watching is what "nothing moves" means here.
    watch = harness.Deadline(1)
    while not watch.expired():
        assert game.screenshot().tobytes() == still.tobytes(), \
            "the window changed during a second with the report open"
    assert len(reports()) == 1, "more or fewer than one report a second later"
    assert game.running(), "the game ended with its report still open"

    game.xdotool("windowfocus", "--sync", box)
    game.key("Return")
    status = game.wait_exit(harness.EXIT_DEADLINE)
    assert status is not None, \
        f"the game was still running {harness.EXIT_DEADLINE} s after the report was dismissed " \
        f"({len(reports())} open)"
    assert status != 0, "the game ended with status 0 after a run-time error"
    assert status > 0, f"the game died of signal {-status}"
    errors = [line for line in game.stderr_lines() if "run-time error" in line.lower()]
    assert len(errors) == 1, f"{len(errors)} run-time error lines on stderr, not one: " \
                             f"{game.stderr_text()}"
