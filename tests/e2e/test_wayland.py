"""The game on a Wayland desktop, with Qt's Wayland platform. Under a headless weston started
here it shows its window (seen through weston's screenshooter), carries its desktop id as the
Wayland app id, and ends with status 0 when おわり is chosen (through AT-SPI, as the headless
compositor has no input devices). Under a weston nested in Xvfb it is played with the mouse
and keyboard, through the compositor."""
import re
import subprocess
from pathlib import Path

import pytest
from PIL import Image

import a11y
import harness

DESKTOP_ID = "jp.warukyara.Warukyara"
CREAM = (255, 255, 204)  # the title figure's head
BODY = (102, 102, 102)  # and its body


class Weston:
    """A weston with a software renderer, on a socket of its own in XDG_RUNTIME_DIR: headless,
    or nested in the X server of env["DISPLAY"] as one window at the screen's top left.
    --debug lets weston-screenshooter take pictures of it."""

    def __init__(self, workdir, env, backend, socket="wayland-e2e"):
        self.workdir = Path(workdir)
        self.env = env
        self.socket = Path(env["XDG_RUNTIME_DIR"]) / socket
        self.name = socket
        self.log = self.workdir / "weston.log"
        # No on-screen keyboard: it would rise over the window whenever the score box has focus.
        config = self.workdir / "weston.ini"
        config.write_text("[core]\nidle-time=0\n\n[input-method]\npath=\n")
        self.process = harness.spawn(
            ["weston", f"--backend={backend}-backend.so", "--use-pixman", f"--socket={socket}",
             "--width=1024", "--height=768", "--debug", f"--config={config}", f"--log={self.log}"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            harness.wait_until(lambda: harness.alive(self.process, self.log)
                               and self.socket.exists(), 10, "weston's socket")
        except BaseException:
            self.stop()
            raise

    def screenshot(self):
        folder = self.workdir / "shots"
        folder.mkdir(exist_ok=True)
        for old in folder.iterdir():
            old.unlink()
        subprocess.run(["weston-screenshooter"], env=dict(self.env, WAYLAND_DISPLAY=self.name),
                       cwd=folder, check=True, capture_output=True, timeout=10)
        (shot,) = folder.glob("*.png")
        return Image.open(shot).convert("RGB")

    def stop(self):
        harness.stop(self.process)


@pytest.fixture
def weston(workdir, isolated_env):
    server = Weston(workdir, isolated_env, "headless")
    yield server
    server.stop()


@pytest.fixture
def nested_weston(xvfb, workdir, isolated_env):
    server = Weston(workdir, isolated_env, "x11")
    yield server
    server.stop()


def wayland_env(env, weston):
    env = dict(env, WAYLAND_DISPLAY=weston.name, QT_QPA_PLATFORM="wayland")
    # Under LeakSanitizer a leak of Mesa's shows only with the whole stack (tests/lsan.supp).
    if "ASAN_OPTIONS" in env:
        env["ASAN_OPTIONS"] += ":fast_unwind_on_malloc=0"
    return env


def sky_box(image):
    """The bounding box (left, top, right, bottom) of the sky's colour in a screenshot."""
    width, height = image.size
    px = image.load()
    xs, ys = [], []
    for y in range(0, height, 2):
        for x in range(0, width, 2):
            if harness.near(px[x, y], harness.SKY, 12):
                xs.append(x)
                ys.append(y)
    return (min(xs), min(ys), max(xs) + 1, max(ys) + 1) if xs else None


@pytest.mark.own_display
def test_the_game_plays_on_a_wayland_desktop(weston, isolated_env, launch):
    env = dict(wayland_env(isolated_env, weston), WAYLAND_DEBUG="client")
    with a11y.SessionBus(env) as bus:
        game = launch(env=bus.env, wait_window=False)
        bus.tree(game.pid)

        def window_drawn():
            # A busy machine can show a frame of sky before the one with the title figure in it.
            shot = weston.screenshot()
            box = sky_box(shot)
            if box and (box[2] - box[0]) * (box[3] - box[1]) >= 0.8 * harness.CLIENT_WIDTH \
                    * harness.CLIENT_HEIGHT and harness.count_colour(
                        shot, (box[0], box[1], box[2] - box[0], box[3] - box[1]), CREAM, 12):
                return shot, box
            return None

        shot, box = harness.wait_until(window_drawn, 10,
                                       "the sky and the title figure on weston's screen",
                                       interval=0.3)
        # The client area: about 558 x 464 of sky, with the title figure standing in it.
        width, height = box[2] - box[0], box[3] - box[1]
        assert abs(width - harness.CLIENT_WIDTH) <= 4 and abs(height - harness.CLIENT_HEIGHT) <= 4, box
        inside = (box[0], box[1], width, height)
        assert harness.count_colour(shot, inside, harness.SKY, 12) > 0.4 * width * height
        assert harness.count_colour(shot, inside, CREAM, 12) > 3000, "no title figure's head"
        assert harness.count_colour(shot, inside, BODY, 12) > 1000, "no title figure's body"

        assert game.running()
        bus.press(game.pid, "おわり")
        assert game.wait_exit(harness.EXIT_DEADLINE) == 0

    # The compositor learnt the desktop id as the window's app id.
    app_ids = re.findall(r'xdg_toplevel@\d+\.set_app_id\("([^"]*)"\)', game.stderr_text())
    assert app_ids == [DESKTOP_ID], app_ids


def test_a_player_plays_through_a_nested_compositor(nested_weston, isolated_env, launch):
    with a11y.SessionBus(wayland_env(isolated_env, nested_weston)) as bus:
        game = launch(env=bus.env, wait_window=False)
        bus.tree(game.pid)
        # Weston's window fills the X screen from its top left, so its pixels are the screen's.
        screen = (0, 0, 1024, 768)
        box = harness.wait_until(lambda: sky_box(harness.grab(game.env, screen)), 10,
                                 "the sky in weston's window", interval=0.3)
        client = (box[0], box[1], harness.CLIENT_WIDTH, harness.CLIENT_HEIGHT)
        # Weston's X11 backend moves its pointer by the X pointer's steps between two motions,
        # from where its own began, the top left, unless it saw the X pointer enter its window.
        # Its first motion is only a step's start: made at the top left, every later step
        # lands weston's pointer where the X pointer is.
        harness.run(["xdotool", "mousemove", "0", "0", "sleep", "0.3"], game.env)

        def menu_open():
            return [m["showing"] for m in a11y.find(bus.tree(game.pid), "popup menu")] == [True]

        def choose(index):
            # "ゲーム" lies in the menu bar just above the client area; the keys go to the menu
            # once it shows.
            harness.run(["xdotool", "mousemove", box[0] + 20, box[1] - 10, "click", "1"],
                        game.env)
            harness.wait_until(menu_open, 10, "the menu opening", interval=0.1)
            harness.run(["xdotool", "key", *["Down"] * (index + 1), "Return"], game.env)

        def score():
            return [t["text"] for t in a11y.find(bus.tree(game.pid), "text", "得点")][0]

        choose(harness.MENU_START)
        # The game has started when the title figure is hidden.
        harness.wait_until(lambda: not [i for i in a11y.find(bus.tree(game.pid), "image")
                                        if "猫のような頭" in i["name"] and i["showing"]],
                           5, "the title figure hiding", interval=0.1)

        clicks = 0

        def scored():
            # As a player would: aim at a character, click, look at the score; again if missed.
            nonlocal clicks
            point = harness.find_character(harness.grab(game.env, client))
            if point:
                harness.run(["xdotool", "mousemove", client[0] + point[0],
                             client[1] + point[1], "click", "1"], game.env)
                clicks += 1
                return harness.within(score, 1.0)
            return score()

        points = harness.wait_until(scored, 15, "a click scoring", interval=0.1)
        assert points.isdigit() and 1 <= int(points) <= clicks, (points, clicks)
        choose(harness.MENU_END)
        assert game.wait_exit(harness.EXIT_DEADLINE) == 0
