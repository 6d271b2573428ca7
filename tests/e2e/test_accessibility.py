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
    listener = bus.listen(game.pid, 120)
    game.choose_menu(harness.MENU_START)

    # Aimed from screenshots: on a busy machine one reading of the tree can outlast a flight.
    def scored():
        game.click_character()
        return harness.within(lambda: harness.count_colour(
            game.screenshot(), harness.SCORE_BOX, harness.SCORE_COLOUR) > 0, 1)

    harness.wait_until(scored, 30, "a click on a character scoring", interval=0)
    score = [t["text"] for t in a11y.find(bus.tree(game.pid), "text", SCORE_BOX)][0]
    events = bus.events_until(listener, lambda events: any(
        e.get("type") == "object:text-changed:insert" and e.get("data") == score
        for e in events), 15)

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
