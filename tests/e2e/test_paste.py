"""Pasting into the score box: an owner of the clipboard that never answers costs one line, not a
frozen window, and an owner that answers still gets its text into the box, capped."""

import ctypes
import re
import subprocess
import time

import pytest
from PIL import ImageChops

import harness
from harness import CLIENT_HEIGHT, CLIENT_WIDTH

SCORE_BOX_POINT = (30, 44)
SCORE_BOX = (8, 24, 73, 65)  # left, top, right, bottom
BELOW_THE_BOX = (0, 90, CLIENT_WIDTH, CLIENT_HEIGHT)
BOX_LIMIT = 4096
NO_ANSWER = re.compile(r"^warukyara\.clipboard: .*did not answer within 2 s")


class StalledOwner:
    """An X client that takes CLIPBOARD and PRIMARY and then never reads a request, as a hung
    application does. It lives in this process, which simply never looks at its connection."""

    def __init__(self, display):
        x = ctypes.CDLL("libX11.so.6")
        x.XOpenDisplay.restype = ctypes.c_void_p
        x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x.XDefaultRootWindow.restype = ctypes.c_ulong
        x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x.XCreateSimpleWindow.restype = ctypes.c_ulong
        x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + [ctypes.c_int] * 2 \
            + [ctypes.c_uint] * 3 + [ctypes.c_ulong] * 2
        x.XInternAtom.restype = ctypes.c_ulong
        x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x.XSetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                         ctypes.c_ulong]
        x.XGetSelectionOwner.restype = ctypes.c_ulong
        x.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.x = x
        self.display = x.XOpenDisplay(display.encode())
        assert self.display, f"cannot open {display}"
        window = x.XCreateSimpleWindow(self.display, x.XDefaultRootWindow(self.display),
                                       0, 0, 1, 1, 0, 0, 0)
        for name in (b"CLIPBOARD", b"PRIMARY"):
            atom = x.XInternAtom(self.display, name, 0)
            x.XSetSelectionOwner(self.display, atom, window, 0)
            x.XSync(self.display, 0)
            assert x.XGetSelectionOwner(self.display, atom) == window, f"{name} not taken"

    def close(self):
        self.x.XCloseDisplay(self.display)


def _longest_standstill(game, seconds):
    """The longest time, in seconds, the picture below the score box stood still while it was
    watched for this many seconds."""
    last = game.screenshot().crop(BELOW_THE_BOX)
    changed = began = time.monotonic()
    longest = 0.0
    while time.monotonic() - began < seconds:
        shot = game.screenshot().crop(BELOW_THE_BOX)
        now = time.monotonic()
        if ImageChops.difference(last, shot).getbbox():
            last, changed = shot, now
        longest = max(longest, now - changed)
    return longest


def _lines_of_no_answer(game, count):
    return harness.wait_until(
        lambda: len(lines := [s for s in game.stderr_lines() if NO_ANSWER.search(s)]) >= count
        and lines, 3, f"{count} lines of no answer")


def test_an_owner_that_never_answers_costs_a_line_not_a_frozen_window(xvfb, launch):
    owner = StalledOwner(xvfb.display)
    try:
        game = launch()
        box = (game.x + SCORE_BOX_POINT[0], game.y + SCORE_BOX_POINT[1])
        game.click(*SCORE_BOX_POINT)
        # A middle click pastes the primary selection: the menu must still open at once after it.
        game.xdotool("mousemove", *box, "click", "2")
        began = time.monotonic()
        game.xdotool("mousemove", game.x + 20, game.y - game.menu_height // 2, "click", "1")
        harness.wait_until(game.popups, 5, "the menu opening")
        menu_took = time.monotonic() - began
        game.key("Down", "Return")  # はじまり
        harness.wait_until(lambda: not game.popups(), 5, "the menu closing")
        game.key("ctrl+v")
        still = _longest_standstill(game, 2.5)
        _lines_of_no_answer(game, 2)
        # The box's own menu: it opens at once, and its Paste waits for nobody either.
        game.xdotool("mousemove", *box, "click", "3")
        began = time.monotonic()
        harness.wait_until(game.popups, 5, "the score box's menu")
        context_took = time.monotonic() - began
        # Paste is the one entry an empty box enables, so the first Down must land on it.
        game.key("Down", "Return")
        lines = _lines_of_no_answer(game, 3)
    finally:
        owner.close()
    print(f"stalled owner: menu after the middle click in {menu_took:.2f} s, the flight stood "
          f"still at most {still:.2f} s after Ctrl+V, the box's menu in {context_took:.2f} s")
    assert menu_took < 1.0, f"the menu took {menu_took:.2f} s to open after a middle click"
    assert still < 0.5, f"the flight stood still for {still:.2f} s after Ctrl+V"
    assert context_took < 1.0, f"the score box's menu took {context_took:.2f} s to open"
    assert len(lines) == 3 and "primary" in lines[0], f"not one line per paste: {lines}"


def _own(game, selection, path, *loops):
    owner = harness.spawn(["xclip", "-quiet", *loops, "-selection", selection, "-i", path],
                          env=game.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    harness.wait_until(lambda: _read(game, selection, "TARGETS"), 5, f"xclip owning {selection}")
    return owner


def _read(game, selection, target="UTF8_STRING"):
    done = subprocess.run(["xclip", "-o", "-selection", selection, "-t", target], env=game.env,
                          capture_output=True, timeout=10)
    return done.stdout.decode() if done.returncode == 0 else None


def _box_text(game, workdir):
    """The score box's text, copied with the keyboard over a marker put on the clipboard first."""
    marker = workdir / "marker.txt"
    marker.write_text("marker")
    owner = _own(game, "clipboard", marker)
    try:
        game.key("ctrl+a", "ctrl+c")
        return harness.wait_until(lambda: (text := _read(game, "clipboard")) != "marker" and text,
                                  5, "the score box's text on the clipboard")
    finally:
        harness.stop(owner)


@pytest.mark.parametrize("how", ["middle-click", "ctrl+v"])
def test_an_answering_owner_pastes_at_the_caret_capped(how, launch, workdir):
    game = launch()
    pasted = workdir / "pasted.txt"
    # Two megabytes come in pieces (INCR), as xclip sends anything over about one.
    # The short one is not ASCII: the owner sends it as UTF-8, and it must arrive as written.
    text = "7" + "9" * 2_000_000 if how == "ctrl+v" else "3é"
    pasted.write_text(text, encoding="utf-8")
    game.click(*SCORE_BOX_POINT)
    game.xdotool("type", "12")
    box = game.screenshot().crop(SCORE_BOX)
    if how == "middle-click":
        owner = _own(game, "primary", pasted)
        # Right of the digits: the caret goes to the end, and each paste lands there.
        game.xdotool("mousemove", game.x + 68, game.y + SCORE_BOX_POINT[1], "click", "2")
        harness.wait_until(
            lambda: ImageChops.difference(box, game.screenshot().crop(SCORE_BOX)).getbbox(), 5,
            "the first paste showing in the score box")
        box = game.screenshot().crop(SCORE_BOX)
        game.xdotool("click", "2")
        expected = "123é3é"
    else:
        owner = _own(game, "clipboard", pasted)
        game.key("ctrl+a", "ctrl+v")  # a paste replaces what is selected
        expected = text[:BOX_LIMIT]
    try:
        harness.wait_until(
            lambda: ImageChops.difference(box, game.screenshot().crop(SCORE_BOX)).getbbox(), 5,
            "the paste showing in the score box")
    finally:
        harness.stop(owner)
    kept = _box_text(game, workdir)
    assert kept == expected, f"the box holds {len(kept)} characters: {kept[:20]}..."
    assert not [s for s in game.stderr_lines() if "clipboard" in s], game.stderr_lines()


def test_an_owner_offering_no_text_leaves_the_selection(launch, workdir):
    game = launch()
    empty = workdir / "empty.txt"
    empty.write_text("")
    game.click(*SCORE_BOX_POINT)
    game.xdotool("type", "12")
    game.key("shift+Left")
    # xclip ends once it has answered one request for text (its TARGETS answers do not count).
    owner = _own(game, "clipboard", empty, "-loops", "1")
    game.key("ctrl+v")
    try:
        owner.wait(5)
    finally:
        harness.stop(owner)
    kept = _box_text(game, workdir)
    assert kept == "12", f"a paste of nothing left {kept!r} of the selected 12"
