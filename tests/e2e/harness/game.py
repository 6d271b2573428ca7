"""The game as a player meets it: a process with its window, clicked, keyed and looked at; what
the tests know of its form (its size and title as the built program has them: the file the build
writes from the form's own definition, WARUKYARA_FORM_FACTS, set by CTest; without it, the
default build's); and whole scenes: a recorded game, a desktop for scripts outside the tests."""

import contextlib
import functools
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

from .display import Xvfb, grab, window_geometry, window_name, windows_of
from .processes import (GAMES, Deadline, GameEnded, HarnessError, isolated_env, run, spawn,
                        stop, wait_until)
from .screen import SKY, find_character, pixel
from .sound_server import Pulse

# A menu bar taller than this is no menu bar of ours.
MENU_HEIGHT_MAX = 60
# The title of the message box that reports a run-time error.
REPORT_TITLE = "warukyara"
# The menu "ゲーム" and its entries, in order.
MENU_START = 0  # はじまり
MENU_END = 1  # おわり

@functools.cache
def _facts():
    default = Path(__file__).resolve().parents[3] / "build/default/tests/e2e/form.json"
    path = Path(os.environ.get("WARUKYARA_FORM_FACTS", default))
    try:
        return json.loads(path.read_text())
    except (OSError, ValueError) as error:
        raise HarnessError(f"no facts about the form in {path} ({error}): build the game's "
                           "tests, or set WARUKYARA_FORM_FACTS") from None


def __getattr__(name):
    """The form's facts, read when first used: the client area below the menu bar, in pixels
    at 96 dpi, and the window's title."""
    if name in ("CLIENT_WIDTH", "CLIENT_HEIGHT", "WINDOW_TITLE"):
        return _facts()[name]
    raise AttributeError(f"harness has no {name!r}")


# How long the game may take to end once asked. It ends in a fraction of a second; this is the
# bound for a sanitizer build on a machine busy with other tests, not a measure of speed.
EXIT_DEADLINE = 15


class Game:
    """The game as a process with standard output and error in files, and its window."""

    def __init__(self, binary, env, workdir, cwd=None, args=(), name="app"):
        self.env = env
        self.workdir = Path(workdir)
        self.stdout_path = self.workdir / f"{name}.out"
        self.stderr_path = self.workdir / f"{name}.err"
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.process = spawn([binary, *args], env=env, cwd=cwd, stdout=out, stderr=err)
        self.pid = self.process.pid
        self.window_id = self.menu_height = None
        self.x = self.y = None  # screen position of the client area's top left
        GAMES.add(self)

    @property
    def returncode(self):
        return self.process.poll()

    def running(self):
        return self.process.poll() is None

    def ended(self, lines=20):
        """How the game ended, with the last lines of its standard error."""
        status = self.returncode
        how = (f"was killed by {signal.Signals(-status).name}" if status < 0
               else f"ended with status {status}")
        tail = "\n".join(self.stderr_lines()[-lines:])
        return f"the game (pid {self.pid}) {how}; the end of its standard error:\n{tail}"

    def find_window(self, timeout=20):
        """Waits for the visible window Form1 that this process maps (by its _NET_WM_PID, so
        no other program's window of that name is taken for it) and returns its id."""
        def found():
            if not self.running():
                raise GameEnded(f"before its window appeared, {self.ended()}")
            return [w for w in windows_of(self.env, self.pid)
                    if window_name(self.env, w) == _facts()["WINDOW_TITLE"]]

        self.window_id = wait_until(found, timeout, f"a visible window {_facts()['WINDOW_TITLE']} of "
                                    f"pid {self.pid}", interval=0.1)[0]
        return self.window_id

    def wait_window(self, timeout=20):
        """Waits for the game's window, learns where its client area is, and waits until the
        client area is drawn: before that, clicks and keys can go nowhere."""
        limit = Deadline(timeout)
        self.find_window(timeout)
        _, _, _, height = window_geometry(self.env, self.window_id)
        client_width, client_height = self._client_size()
        self.menu_height = height - client_height
        assert 0 < self.menu_height < MENU_HEIGHT_MAX, \
            f"no menu bar above a {client_height}-pixel client area (window height {height})"
        self.locate()
        # The bottom right corner is sky on every screen of the game; the bare server is black.
        corner = client_width - 18, client_height - 14
        wait_until(lambda: pixel(self.screenshot(), *corner) == SKY,
                   max(limit.remaining(), 15), "the window's sky drawn", interval=0.05)
        return self

    def locate(self):
        """Reads where the client area is on the screen again, after the window was moved."""
        x, y, _, _ = window_geometry(self.env, self.window_id)
        self.x, self.y = x, y + self.menu_height

    @staticmethod
    def _client_size():
        return _facts()["CLIENT_WIDTH"], _facts()["CLIENT_HEIGHT"]

    def geometry(self):
        return window_geometry(self.env, self.window_id)

    def xdotool(self, *args, timeout=5):
        return run(["xdotool", *args], self.env, timeout=timeout)

    def click(self, x, y):
        """A player's click at a pixel of the client area."""
        self.xdotool("mousemove", self.x + x, self.y + y, "click", "1")

    def aim(self):
        """Where the bottom-left character will be when a click sent now arrives, or None.

        On a busy machine a screenshot and a click each take up to a second, long enough for a
        character to fly out from under a point aimed at in the last shot. Two shots give its
        speed; it is led by that speed over the time since the last shot plus a click's time.
        """
        sightings = []
        for _ in range(2):
            before = time.monotonic()
            shot = self.screenshot()
            seen = (before + time.monotonic()) / 2
            point = find_character(shot)
            if point is None:
                return None
            sightings.append((seen, point))
        (t1, (x1, y1)), (t2, (x2, y2)) = sightings
        vx, vy = (x2 - x1) / (t2 - t1), (y2 - y1) / (t2 - t1)
        # Characters fly up and to the right; anything else is two different characters.
        if not (0 <= vx < 400 and -400 < vy <= 0):
            vx = vy = 0
        self._velocity = vx, vy
        lead = time.monotonic() - t2 + self._click_seconds
        return round(x2 + vx * lead), round(y2 + vy * lead)

    _click_seconds = 0.1
    _velocity = (0, 0)

    def click_character(self, spread=0):
        """Clicks where aim() says a character will be; returns that point, or None if no
        character is in view. spread > 0 adds that many clicks on either side of it along the
        flight, each a tenth of a second of it apart, for tests that may score more than once."""
        aim = self.aim()
        if aim is not None:
            vx, vy = self._velocity
            clicks = []
            for step in range(-spread, spread + 1):
                x, y = aim[0] + vx * step / 10, aim[1] + vy * step / 10
                clicks += ["mousemove", round(self.x + x), round(self.y + y), "click", "1"]
            began = time.monotonic()
            self.xdotool(*clicks)
            self._click_seconds = (time.monotonic() - began) / (2 * spread + 1)
        return aim

    def key(self, *keys):
        self.xdotool("key", "--clearmodifiers", *keys)

    def popups(self):
        return [w for w in windows_of(self.env, self.pid) if w != self.window_id]

    def choose_menu(self, index, before_keys=None):
        """Opens "ゲーム" with a click on its title and picks entry index with the keyboard.

        A mouse click on an entry can come before Qt is ready for it; the keys cannot.
        before_keys(), if given, runs once the menu is open, just before the keys that choose.
        """
        self.xdotool("mousemove", self.x + 20, self.y - self.menu_height // 2, "click", "1")
        wait_until(self.popups, 20, "the menu opening")
        if before_keys is not None:
            before_keys()
        self.key(*["Down"] * (index + 1), "Return")
        wait_until(lambda: not self.running() or not self.popups(), 20, "the menu closing")

    def screenshot(self):
        """The client area as an RGB image of CLIENT_WIDTH x CLIENT_HEIGHT."""
        return grab(self.env, (self.x, self.y, *self._client_size()))

    def wait_settled(self, settle, timeout):
        """The client area once it has shown the same picture for settle seconds."""
        last = [self.screenshot(), time.monotonic()]

        def settled():
            shot = self.screenshot()
            if shot.tobytes() != last[0].tobytes():
                last[:] = shot, time.monotonic()
            return time.monotonic() - last[1] >= settle and shot

        return wait_until(settled, timeout, f"the window holding still for {settle} s")

    def window_screenshot(self):
        """The whole window, menu bar included."""
        width, height = self._client_size()
        return grab(self.env, (self.x, self.y - self.menu_height, width, height + self.menu_height))

    def wait_exit(self, timeout):
        """The exit status once the game has ended, or None if it still runs after timeout s."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        stop(self.process)

    def stderr_text(self):
        return self.stderr_path.read_text(errors="replace")

    def stderr_lines(self):
        return self.stderr_text().splitlines()

    def own_lines(self):
        """The game's own lines on stderr, without a sanitizer's report."""
        return [line for line in self.stderr_lines()
                if line and not line.startswith(("==", "SUMMARY"))]

    def stdout_text(self):
        return self.stdout_path.read_text(errors="replace")


def play_recorded_game(start_game, pulse, path):
    """A recorded game: with the sink's monitor recorded into path, start_game() starts the game,
    a second of it is recorded before はじまり is chosen and two seconds after, then おわり must
    end the game with status 0. Returns the second of the recording at which the key that chose
    はじまり was sent: the tune may start no earlier."""
    recording = pulse.record(path)
    try:
        game = start_game()
        shown = recording.seconds()
        wait_until(lambda: recording.seconds() >= shown + 1, 30, "a second recorded before はじまり")
        marks = []
        game.choose_menu(MENU_START, before_keys=lambda: marks.append(recording.seconds()))
        tune_at = marks[0]
        wait_until(lambda: recording.seconds() >= tune_at + 2, 30, "two seconds recorded after "
                   "はじまり")
        assert game.running(), "the game ended after はじまり"
        game.choose_menu(MENU_END)
        status = game.wait_exit(EXIT_DEADLINE)
        assert status == 0, f"おわり ended the game with status {status} (None: still running)"
    finally:
        recording.stop()
    return tune_at


@contextlib.contextmanager
def desktop(prefix, sound=True):
    """For scripts outside the tests: a scratch folder and an isolated environment with a
    private X server and, if sound is wanted and PulseAudio is installed, a sound server.
    Yields (env, workdir, pulse or None); everything is stopped and removed afterwards."""
    with (tempfile.TemporaryDirectory(prefix=prefix, ignore_cleanup_errors=True) as folder,
          Xvfb(folder) as xvfb, contextlib.ExitStack() as stack):
        workdir = Path(folder)
        env = isolated_env(workdir)
        env["DISPLAY"] = xvfb.display
        pulse = None
        if sound and shutil.which("pulseaudio"):
            pulse = stack.enter_context(Pulse(workdir))
            env.update(pulse.env)
        yield env, workdir, pulse
