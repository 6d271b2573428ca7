"""What a screen reader finds in the game, read over AT-SPI by a real client (pyatspi) on a
private session bus: a named score box, the pictures as named images, readable texts, the
score's changes as they happen, and characters that a switch can press instead of a click."""

import pytest

import a11y
import harness

SCORE_BOX = "得点"
TITLE_SIZE = [178, 239]
TAUNTS = {1: "お前なんか俺の敵じゃねぇ", 5: "ちゃんと目ひらいてる？", 8: "やる気ないだろお前"}


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
    title = [image for image in images if image["extents"][2:] == TITLE_SIZE]
    assert len(title) == 1 and "猫" in title[0]["name"], images
    # The characters wait below the window: none is showing, and nothing can be pressed.
    assert [image["showing"] for image in images] == [i is title[0] for i in images], images
    assert not any(image["actions"] for image in images), images

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


def test_a_switch_presses_the_showing_characters_and_hears_the_taunts(bus, launch):
    game = launch(env=bus.env)
    title_name = [i["name"] for i in a11y.find(bus.tree(game.pid), "image")
                  if i["extents"][2:] == TITLE_SIZE]
    listener = bus.listen(game.pid, 120)
    game.choose_menu(harness.MENU_START)

    def showing_characters():
        images = a11y.find(bus.tree(game.pid), "image")
        return [i for i in images if i["showing"] and i["extents"][2:] != TITLE_SIZE]

    assert harness.within(showing_characters, 10), "no character came into view"
    readings = bus.score(game.pid, *TAUNTS)
    assert [r["score"] for r in readings] == [str(n) for n in TAUNTS], readings
    for reading, taunt in zip(readings, TAUNTS.values()):
        assert taunt in reading["labels"], readings

    # Each taunt reached the listener as a change of the label's name (Qt's bridge sends no
    # name with it: the listener reads it), and each score as the box's new text.
    events = bus.events_until(listener, lambda events: any(
        e.get("data") == "8" for e in events), 15)
    named = [e for e in events if e.get("type") == "object:property-change:accessible-name"
             and e["role"] == "label"]
    assert len(named) == len(TAUNTS), events
    inserted = [e["data"] for e in events if e.get("type") == "object:text-changed:insert"
                and e["name"] == SCORE_BOX]
    assert inserted == [str(n) for n in range(1, 9)], events
    # The characters came into view, moved rather than shown, so the runtime tells of it, not
    # Qt: each once as it came in, and once more if it has left since.
    showing = {}
    for e in events:
        if e.get("type") == "object:state-changed:showing" and e["role"] == "image" \
                and [e["name"]] != title_name:
            showing.setdefault(e["name"], []).append(e["detail"])
    assert showing and all(d in ([1], [1, 0]) for d in showing.values()), showing

    # The title figure and the instructions went with the start; the figure offers nothing.
    tree = bus.tree(game.pid)
    title = [i for i in a11y.find(tree, "image") if [i["name"]] == title_name]
    instructions = [label for label in a11y.find(tree, "label")
                    if label["name"].startswith("ゲームをはじめると")]
    assert [(i["showing"], i["actions"]) for i in title] == [(False, [])], title
    assert [label["showing"] for label in instructions] == [False], instructions

    game.choose_menu(harness.MENU_END)
    assert game.wait_exit(harness.EXIT_DEADLINE) == 0
