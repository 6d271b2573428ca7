"""The game on a Wayland desktop: under a headless weston started here, with Qt's Wayland
platform, it shows its window (seen through weston's screenshooter), carries its desktop id
as the Wayland app id, and ends with status 0 when おわり is chosen (through AT-SPI, as the
headless compositor has no input devices)."""
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
    """A headless weston with a software renderer, on a socket of its own in XDG_RUNTIME_DIR.
    --debug lets weston-screenshooter take pictures of it."""

    def __init__(self, workdir, env, socket="wayland-e2e"):
        self.workdir = Path(workdir)
        self.env = env
        self.socket = Path(env["XDG_RUNTIME_DIR"]) / socket
        self.name = socket
        self.process = harness.spawn(
            ["weston", "--backend=headless-backend.so", "--use-pixman", f"--socket={socket}",
             "--width=1024", "--height=768", "--idle-time=0", "--debug",
             f"--log={self.workdir / 'weston.log'}"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            harness.wait_until(lambda: self._alive() and self.socket.exists(), 10,
                               "weston's socket")
        except BaseException:
            self.stop()
            raise

    def _alive(self):
        if self.process.poll() is not None:
            raise AssertionError("weston ended: " + (self.workdir / "weston.log").read_text(
                errors="replace")[-2000:])
        return True

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
    server = Weston(workdir, isolated_env)
    yield server
    server.stop()


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


def test_the_game_plays_on_a_wayland_desktop(weston, isolated_env, launch):
    env = dict(isolated_env, WAYLAND_DISPLAY=weston.name, QT_QPA_PLATFORM="wayland",
               WAYLAND_DEBUG="client")
    with a11y.SessionBus(env) as bus:
        game = launch(env=bus.env, wait_window=False)
        bus.tree(game.pid)

        def window_drawn():
            shot = weston.screenshot()
            box = sky_box(shot)
            if box and (box[2] - box[0]) * (box[3] - box[1]) >= 0.8 * harness.CLIENT_WIDTH \
                    * harness.CLIENT_HEIGHT:
                return shot, box
            return None

        shot, box = harness.wait_until(window_drawn, 10, "the sky on weston's screen",
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
        assert game.wait_exit(5) == 0

    # The compositor learnt the desktop id as the window's app id.
    app_ids = re.findall(r'xdg_toplevel@\d+\.set_app_id\("([^"]*)"\)', game.stderr_text())
    assert app_ids == [DESKTOP_ID], app_ids
