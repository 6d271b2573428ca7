"""What a screen reader finds in the game, read over AT-SPI by a real client (pyatspi) on a
private session bus: a named score box, the pictures as named images, readable texts, and
the score's changes as they happen."""

import pytest

import a11y
import harness

SCORE_BOX = "得点"


@pytest.fixture
def bus(xvfb, isolated_env):
    with a11y.SessionBus(isolated_env) as session:
        yield session


def test_the_window_reads_as_the_player_sees_it(bus, launch):
    game = launch(env=bus.env)
    tree = bus.tree(game.pid)
    assert [frame["name"] for frame in a11y.find(tree, "frame")] == ["Form1"]

    texts = a11y.find(tree, "text")
    assert [(t["name"], t["text"]) for t in texts] == [(SCORE_BOX, "")], texts

    # The title figure and the five characters: images, each named for what it shows.
    images = a11y.find(tree, "image")
    names = [image["name"] for image in images]
    assert len(images) == 6 and all(names) and len(set(names)) == 6, names
    empty = [f for f in a11y.find(tree, "filler") if not f["children"]]
    assert not empty, f"a picture still reads as an empty panel: {empty}"
    title = [image for image in images if image["extents"][2:] == [178, 239]]
    assert len(title) == 1 and "猫" in title[0]["name"], images

    labels = [label["name"] for label in a11y.find(tree, "label")]
    assert any(name.startswith("ゲームをはじめると５人の悪キャラクター") for name in labels), labels
    entries = [item["name"] for item in a11y.find(tree, "menu item")]
    assert entries == ["ゲーム", "はじまり", "おわり"], entries

    game.choose_menu(harness.MENU_END)
    assert game.wait_exit(harness.EXIT_DEADLINE) == 0


def test_a_click_on_a_character_reaches_the_screen_reader(bus, launch):
    game = launch(env=bus.env)
    bus.tree(game.pid)
    game.choose_menu(harness.MENU_START)
    # The ninja is the slowest character and opaque everywhere: once it is well inside the
    # window, a click at the middle of where AT-SPI says it is lands on it.
    ninja = harness.wait_until(
        lambda: [image for image in a11y.find(bus.tree(game.pid), "image")
                 if "忍者" in image["name"] and image["extents"][1] + image["extents"][3]
                 < game.y + harness.CLIENT_HEIGHT - 40],
        10, "the ninja flying into the window", interval=0.1)[0]
    listener = bus.listen(game.pid, 8)
    # As a player would: aim where AT-SPI says the ninja is, click, and look again if missed.
    for _ in range(3):
        tree = bus.tree(game.pid)
        if [t["text"] for t in a11y.find(tree, "text", SCORE_BOX)] != [""]:
            break
        x, y, width, height = [image for image in a11y.find(tree, "image")
                               if image["name"] == ninja["name"]][0]["extents"]
        game.xdotool("mousemove", x + width // 2, y + height // 2, "click", "1")
    events = bus.events(listener, 15)

    # Every change of the score reached the screen reader as the new text, from "1" on.
    inserted = [e["data"] for e in events if e.get("type") == "object:text-changed:insert"
                and e["role"] == "text" and e["name"] == SCORE_BOX]
    assert inserted and inserted == [str(n) for n in range(1, len(inserted) + 1)], events
    tree = bus.tree(game.pid)
    assert [t["text"] for t in a11y.find(tree, "text", SCORE_BOX)] == [inserted[-1]]
    # The first taunt is readable as the label's text.
    assert any(label["name"] and not label["name"].startswith("ゲーム")
               for label in a11y.find(tree, "label")), a11y.find(tree, "label")

    game.choose_menu(harness.MENU_END)
    assert game.wait_exit(harness.EXIT_DEADLINE) == 0
