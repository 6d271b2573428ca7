"""The real program in a real X server and a real sound server, driven like a player.

Everything the real-window tests, bench/ and scripts/screenshot share lives here: the window's
geometry, a private Xvfb, a private PulseAudio with a recordable null sink, the game as a
process with its window, and the few helpers that compute something from what they see or hear.

Each process started here is stopped by its own pid (SIGTERM, then SIGKILL after 5 s) and
also gets SIGTERM from the kernel if the process that started it dies first, so an aborted
run leaves no server behind. Nothing here looks for other servers by name, and every wait is
bounded. Needs (Debian): xvfb x11-utils xdotool pulseaudio pulseaudio-utils python3-pil.
"""

import array
import contextlib
import ctypes
import math
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import wave
from pathlib import Path

from PIL import ImageGrab



def _client_size():
    """The form's client area in pixels at 96 dpi, as the form's definition gives it in twips."""
    source = Path(os.environ.get("WARUKYARA_SOURCE_DIR", Path(__file__).resolve().parents[2]))
    text = (source / "form" / "Form1Definition.cpp").read_text()
    twips = [re.search(rf"\.{name}\s*=\s*(\d+)", text) for name in ("clientWidth", "clientHeight")]
    if not all(twips):
        raise RuntimeError("the form's definition gives no clientWidth and clientHeight")
    # 15 twips make one pixel at 96 dpi.
    return tuple(int(match.group(1)) // 15 for match in twips)


# The form's client area, below the menu bar.
CLIENT_WIDTH, CLIENT_HEIGHT = _client_size()
# A menu bar taller than this is no menu bar of ours.
MENU_HEIGHT_MAX = 60
WINDOW_TITLE = "Form1"
# The title of the message box that reports a run-time error.
REPORT_TITLE = "warukyara"

SKY = (173, 230, 248)
WHITE = (255, 255, 255)
# The score box, in the client area, and the colour of its digits.
SCORE_BOX = (8, 24, 65, 41)
SCORE_COLOUR = (192, 0, 192)

# The menu "ゲーム" and its entries, in order.
MENU_START = 0  # はじまり
MENU_END = 1  # おわり

RECORDING_RATE = 22050

# How long the game may take to end once asked. It ends in a fraction of a second; this is the
# bound for a sanitizer build on a machine busy with other tests, not a measure of speed.
EXIT_DEADLINE = 15


class Deadline:
    """A point on the monotonic clock some seconds from now."""

    def __init__(self, seconds):
        self.seconds = seconds
        self.at = time.monotonic() + seconds

    def remaining(self):
        return max(0.0, self.at - time.monotonic())

    def expired(self):
        return time.monotonic() >= self.at


def deadline(seconds):
    return Deadline(seconds)


def wait_until(condition, seconds, what, interval=0.05):
    """Polls condition() until it returns something true, and returns that; fails after seconds."""
    limit = Deadline(seconds)
    while True:
        value = condition()
        if value:
            return value
        if limit.expired():
            raise AssertionError(f"{what}: not within {seconds} s")
        time.sleep(interval)


def within(condition, seconds, interval=0.05):
    """Polls condition() for up to seconds and returns its first true value, or None."""
    try:
        return wait_until(condition, seconds, "", interval)
    except AssertionError:
        return None


def _die_with_parent():
    # PR_SET_PDEATHSIG: the child gets SIGTERM when this process ends without cleaning up.
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)


def spawn(args, *, env=None, cwd=None, stdout=None, stderr=None, stdin=subprocess.DEVNULL,
          pass_fds=()):
    """Starts a helper process that dies with this one."""
    return subprocess.Popen([str(a) for a in args], env=env, cwd=cwd, stdin=stdin,
                            stdout=stdout, stderr=stderr, pass_fds=pass_fds,
                            preexec_fn=_die_with_parent)


def stop(process, grace=5.0):
    """SIGTERM to the process by its pid, SIGKILL after grace seconds; reaps it either way."""
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def run(args, env, timeout=5, check=True):
    """Runs a short X or sound client and returns its standard output as text."""
    done = subprocess.run([str(a) for a in args], env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True, timeout=timeout)
    if check and done.returncode != 0:
        raise AssertionError(f"{args[0]} failed ({done.returncode}): {done.stderr.strip()}")
    return done.stdout


def isolated_env(workdir):
    """The environment the game runs in: a fresh home under workdir (no settings of the
    developer's are read or written), no session bus, no display or sound server until an Xvfb
    or Pulse here adds its own. Everything else is inherited, the sanitizers' settings among it."""
    workdir = Path(workdir)
    home, runtime = workdir / "home", workdir / "xdg"
    home.mkdir(exist_ok=True)
    runtime.mkdir(mode=0o700, exist_ok=True)
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY", "PULSE_SERVER", "PULSE_CLIENTCONFIG",
                 "QT_QPA_PLATFORM", "XAUTHORITY"):
        env.pop(name, None)
    env.update(HOME=str(home), XDG_CONFIG_HOME=str(home / ".config"),
               XDG_CACHE_HOME=str(home / ".cache"), XDG_DATA_HOME=str(home / ".local/share"),
               XDG_RUNTIME_DIR=str(runtime),
               DBUS_SESSION_BUS_ADDRESS=f"unix:path={workdir}/no-session-bus")
    return env


# -- the X server ------------------------------------------------------------------------------

class Xvfb:
    """A private X server on a display it picks itself (-displayfd), without server resets."""

    def __init__(self, workdir, size="1024x768", depth=24):
        self.workdir = Path(workdir)
        self.size = size
        self.depth = depth
        self.process = None
        self.display = None

    def start(self, timeout=10):
        reader, writer = os.pipe()
        log = open(self.workdir / "xvfb.log", "wb")
        try:
            # -br: a plain black root; -noreset: no reset each time the last client leaves.
            self.process = spawn(["Xvfb", "-displayfd", writer, "-screen", "0",
                                  f"{self.size}x{self.depth}", "-nolisten", "tcp", "-br",
                                  "-noreset"], stdout=log, stderr=log, pass_fds=(writer,))
        finally:
            os.close(writer)
            log.close()
        text = b""
        limit = Deadline(timeout)
        try:
            # Xvfb writes "N\n" once it accepts connections.
            while not text.endswith(b"\n") and not limit.expired():
                ready, _, _ = select.select([reader], [], [], limit.remaining())
                if not ready:
                    break
                chunk = os.read(reader, 16)
                if not chunk:
                    break
                text += chunk
        finally:
            os.close(reader)
        if not text.strip().isdigit():
            self.stop()
            raise AssertionError(f"Xvfb did not come up within {timeout} s: "
                                 f"{(self.workdir / 'xvfb.log').read_text(errors='replace')[-2000:]}")
        self.display = f":{int(text)}"
        return self

    def stop(self):
        stop(self.process)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


# -- window lookup: every reading of xwininfo and xdotool is here ------------------------------

def _fields(text):
    out = {}
    for line in text.splitlines():
        key, sep, value = line.strip().partition(":")
        if sep:
            out[key.strip()] = value.strip()
    return out


def window_geometry(env, window_id):
    """(x, y, width, height) of a window's inside, in screen pixels.

    xwininfo gives the outer corner of the border; the inside starts one border width further
    in (0 for the game's own windows without a window manager).
    """
    f = _fields(run(["xwininfo", "-id", window_id], env))
    try:
        border = int(f["Border width"])
        return (int(f["Absolute upper-left X"]) + border, int(f["Absolute upper-left Y"]) + border,
                int(f["Width"]), int(f["Height"]))
    except (KeyError, ValueError):
        raise AssertionError(f"cannot read the geometry of window {window_id}: {f}") from None


def window_name(env, window_id):
    return run(["xdotool", "getwindowname", window_id], env, check=False).rstrip("\n")


def windows_named(env, name):
    """Ids of the visible windows whose name is exactly name."""
    ids = run(["xdotool", "search", "--onlyvisible", "--name", f"^{_regex_quote(name)}$"], env,
              check=False).split()
    # xdotool matches names case-insensitively, so each hit is confirmed.
    return [i for i in ids if window_name(env, i) == name]


def windows_of(env, pid):
    return run(["xdotool", "search", "--onlyvisible", "--pid", pid], env, check=False).split()


def icon_sizes(env, window_id):
    """The (width, height) of each icon the window carries in _NET_WM_ICON."""
    text = run(["xprop", "-id", window_id, "_NET_WM_ICON"], env)
    return [(int(w), int(h)) for w, h in re.findall(r"Icon \((\d+) x (\d+)\)", text)]


def _regex_quote(text):
    return "".join("\\" + c if c in "[]\\.*^$+?(){}|/" else c for c in text)


def grab(env, box):
    """The screen rectangle box = (x, y, width, height) as an RGB image."""
    x, y, w, h = box
    return ImageGrab.grab(bbox=(x, y, x + w, y + h), xdisplay=env["DISPLAY"]).convert("RGB")


# -- what the tests compute from what they see and hear -----------------------------------------

def near(a, b, tolerance):
    """Whether two RGB colours lie within tolerance of each other (Euclidean, 0..255 scale)."""
    return sum((x - y) ** 2 for x, y in zip(a, b)) <= tolerance * tolerance


def count_colour(image, box, colour, tolerance=31):
    """How many pixels of box = (x, y, width, height) in image have about that colour.

    The default tolerance is 12 % of full scale, loose enough for anti-aliased text.
    """
    x, y, w, h = box
    data = image.crop((x, y, x + w, y + h)).getdata()
    return sum(1 for p in data if near(p[:3], colour, tolerance))


def pixel(image, x, y):
    return tuple(image.getpixel((x, y))[:3])


def find_character(image):
    """A point on a character in a shot of the client area, or None.

    A character is what is neither sky nor cloud below the score box. The slowest characters
    trail at the bottom left; of the character furthest that way, the solid point nearest its
    middle, so that a click a little late or early still lands on it.
    """
    width, height = image.size
    px = image.load()

    def character(x, y):
        p = px[x, y][:3]
        return not _each_channel_near(p, SKY) and not _each_channel_near(p, WHITE)

    def solid(x, y):
        return 4 <= x < width - 4 and 4 <= y < height - 4 and all(
            character(x + dx, y + dy) for dx in (-4, 0, 4) for dy in (-4, 0, 4))

    best = None
    for y in range(height - 5, 89, -3):
        if best is not None and y - 4 <= best[0]:
            break  # no point higher up can lie further bottom-left
        for x in range(4, width - 4, 3):
            if best is not None and y - x <= best[0]:
                break
            if solid(x, y):
                best = (y - x, x, y)
    if best is None:
        return None
    # The character around that point, on the same 3-pixel grid, no further than a
    # character's size from it.
    _, x0, y0 = best
    blob, todo = {(x0, y0)}, [(x0, y0)]
    while todo:
        x, y = todo.pop()
        for n in ((x + 3, y), (x - 3, y), (x, y + 3), (x, y - 3)):
            if (n not in blob and 4 <= n[0] < width - 4 and 89 < n[1] < height - 4
                    and abs(n[0] - x0) < 160 and abs(n[1] - y0) < 160 and character(*n)):
                blob.add(n)
                todo.append(n)
    cx = sum(x for x, _ in blob) / len(blob)
    cy = sum(y for _, y in blob) / len(blob)
    for x, y in sorted(blob, key=lambda p: (p[0] - cx) ** 2 + (p[1] - cy) ** 2):
        if solid(x, y):
            return x, y
    return x0, y0


def _each_channel_near(a, b, tolerance=24):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


def rms(path, start=0.0, duration=None):
    """RMS amplitude (0..1) of a stretch of a 16-bit PCM WAV file, all channels together."""
    with wave.open(str(path), "rb") as w:
        if w.getsampwidth() != 2:
            raise ValueError(f"{path}: {8 * w.getsampwidth()}-bit samples, expected 16")
        rate = w.getframerate()
        first = min(w.getnframes(), max(0, round(start * rate)))
        w.setpos(first)
        count = w.getnframes() - first
        if duration is not None:
            count = min(count, max(0, round(duration * rate)))
        samples = array.array("h", w.readframes(count))
    if not samples:
        raise ValueError(f"{path}: no samples from {start} s for {duration} s")
    return math.sqrt(sum(s * s for s in samples) / len(samples)) / 32768.0


def cpu_seconds(pid):
    """User + system time of a process so far (all its threads), from /proc."""
    fields = Path(f"/proc/{pid}/stat").read_text().rpartition(")")[2].split()
    # utime and stime are fields 14 and 15 of the line; fields[0] here is field 3.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def run_seconds(pid):
    """Time the live threads of a process have run so far (schedstat), without the tick grain."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            total += int((task / "schedstat").read_text().split()[0])
        except (OSError, IndexError, ValueError):
            pass  # a thread that ended in between
    return total / 1e9


def load_average():
    """The kernel's 1, 5 and 15 minute load averages, as it prints them."""
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def peak_rss_kib(pid):
    """VmHWM of a process, in KiB."""
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
    raise AssertionError(f"no VmHWM for pid {pid}")


# -- the sound server ---------------------------------------------------------------------------

class Pulse:
    """A private PulseAudio with one null sink, test_sink, on a private socket.

    A silent stream keeps the sink running in real time, so recordings of its monitor line up
    with what was played.
    """

    def __init__(self, workdir):
        self.workdir = Path(workdir)
        self.socket = self.workdir / "pulse.sock"
        self.client_config = self.workdir / "pulse-client.conf"
        self.process = None
        self.keepalive = None

    @property
    def env(self):
        """What a client needs to reach this server, and only this one."""
        return {"PULSE_SERVER": f"unix:{self.socket}", "PULSE_CLIENTCONFIG": str(self.client_config)}

    def _client_env(self):
        env = dict(os.environ)
        env.update(self.env)
        env["XDG_RUNTIME_DIR"] = str(self.workdir / "xdg")
        return env

    def start(self, timeout=10):
        runtime = self.workdir / "xdg"
        runtime.mkdir(mode=0o700, exist_ok=True)
        # Clients must never start a server of their own if ours is gone.
        self.client_config.write_text("autospawn = no\n")
        env = self._client_env()
        env["HOME"] = str(self.workdir)
        log = open(self.workdir / "pulse.log", "wb")
        # Running as root only earns a warning; realtime and high priority are off so nothing
        # asks for rtkit, and -n skips default.pa so that only these two modules are loaded.
        self.process = spawn(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--system=no", "--realtime=no", "--high-priority=no", "--log-target=stderr",
             "-L", f"module-native-protocol-unix auth-anonymous=1 socket={self.socket}",
             "-L", "module-null-sink sink_name=test_sink"],
            env=env, stdout=log, stderr=log)
        log.close()
        try:
            wait_until(lambda: self._alive() and self._answers(), timeout, "PulseAudio answering")
            run(["pactl", "set-default-sink", "test_sink"], env)
            log = open(self.workdir / "pacat.log", "wb")
            self.keepalive = spawn(
                ["pacat", "--playback", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
                 "--device=test_sink", "--client-name=e2e-keepalive", "--stream-name=silence",
                 "--latency-msec=20"], env=env, stdin=open("/dev/zero", "rb"), stdout=log,
                stderr=log)
            log.close()
            wait_until(lambda: run(["pactl", "list", "short", "sink-inputs"], env, check=False),
                       timeout, "the silent keep-alive stream")
            # A fresh null sink first sleeps through one 2 s block before it notices the
            # short-latency stream; waiting that out here lets the first test recording start
            # on time.
            warmup = self.record(self.workdir / "warmup.wav")
            warmup.stop()
            (self.workdir / "warmup.wav").unlink()
        except BaseException:
            self.stop()
            raise
        return self

    def _alive(self):
        if self.process.poll() is not None:
            raise AssertionError("pulseaudio ended: "
                                 + (self.workdir / "pulse.log").read_text(errors="replace")[-2000:])
        return True

    def _answers(self):
        try:
            return subprocess.run(["pactl", "info"], env=self._client_env(), capture_output=True,
                                  timeout=2).returncode == 0
        except subprocess.TimeoutExpired:
            return False

    def record(self, path):
        """Starts recording the sink's monitor into path; returns once samples are arriving."""
        return Recording(self, Path(path))

    def stop(self):
        stop(self.keepalive)
        stop(self.process)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class Recording:
    """parecord of test_sink's monitor: mono, 22050 Hz, 16-bit WAV."""

    HEADER = 44

    def __init__(self, pulse, path, timeout=10):
        self.path = path
        if path.exists():
            path.unlink()
        log = open(pulse.workdir / "parecord.log", "wb")
        self.process = spawn(["parecord", "--device=test_sink.monitor", "--file-format=wav",
                              "--format=s16le", f"--rate={RECORDING_RATE}", "--channels=1",
                              "--latency-msec=20", path], env=pulse._client_env(), stdout=log,
                             stderr=log)
        log.close()

        def flowing():
            if self.process.poll() is not None:
                raise AssertionError("parecord ended: " + (pulse.workdir / "parecord.log")
                                     .read_text(errors="replace"))
            return path.exists() and path.stat().st_size > self.HEADER

        wait_until(flowing, timeout, "samples from parecord", interval=0.02)

    def seconds(self):
        """How many seconds of sound the recording holds so far."""
        return max(0, self.path.stat().st_size - self.HEADER) / (2 * RECORDING_RATE)

    def stop(self):
        """Stops parecord by its pid, which makes it finish the WAV header."""
        stop(self.process)


# -- the game -----------------------------------------------------------------------------------

class Game:
    """The game as a process with standard output and error in files, and its window."""

    def __init__(self, binary, env, workdir, cwd=None, args=(), name="app"):
        self.env = env
        self.workdir = Path(workdir)
        self.stdout_path = self.workdir / f"{name}.out"
        self.stderr_path = self.workdir / f"{name}.err"
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.process = spawn([binary, *args], env=env, cwd=cwd, stdout=out, stderr=err)
        self.window_id = None
        self.menu_height = None
        self.x = self.y = None  # screen position of the client area's top left

    @property
    def pid(self):
        return self.process.pid

    @property
    def returncode(self):
        return self.process.poll()

    def running(self):
        return self.process.poll() is None

    def find_window(self, timeout=20):
        """Waits for the visible window Form1 that this process maps (by its _NET_WM_PID, so
        no other program's window of that name is taken for it) and returns its id."""
        def found():
            if not self.running():
                raise AssertionError(f"the game ended with status {self.returncode} before its "
                                     f"window appeared: {self.stderr_text()}")
            return [w for w in windows_of(self.env, self.pid)
                    if window_name(self.env, w) == WINDOW_TITLE]

        self.window_id = wait_until(found, timeout, f"a visible window {WINDOW_TITLE} of pid "
                                    f"{self.pid}", interval=0.1)[0]
        return self.window_id

    def wait_window(self, timeout=20):
        """Waits for the game's window, learns where its client area is, and waits until the
        client area is drawn: before that, clicks and keys can go nowhere."""
        limit = Deadline(timeout)
        self.find_window(timeout)
        _, _, _, height = window_geometry(self.env, self.window_id)
        self.menu_height = height - CLIENT_HEIGHT
        assert 0 < self.menu_height < MENU_HEIGHT_MAX, \
            f"no menu bar above a {CLIENT_HEIGHT}-pixel client area (window height {height})"
        self.locate()
        # The bottom right corner is sky on every screen of the game; the bare server is black.
        wait_until(lambda: pixel(self.screenshot(), CLIENT_WIDTH - 18, CLIENT_HEIGHT - 14) == SKY,
                   max(limit.remaining(), 15), "the window's sky drawn", interval=0.05)
        return self

    def locate(self):
        """Reads where the client area is on the screen again, after the window was moved."""
        x, y, _, _ = window_geometry(self.env, self.window_id)
        self.x, self.y = x, y + self.menu_height

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
        return grab(self.env, (self.x, self.y, CLIENT_WIDTH, CLIENT_HEIGHT))

    def wait_settled(self, settle, timeout):
        """The client area once it has shown the same picture for settle seconds."""
        limit = Deadline(timeout)
        shot = self.screenshot()
        since = time.monotonic()
        while time.monotonic() - since < settle:
            if limit.expired():
                raise AssertionError(f"the window did not hold still for {settle} s within "
                                     f"{timeout} s")
            time.sleep(0.05)
            now = self.screenshot()
            if now.tobytes() != shot.tobytes():
                shot, since = now, time.monotonic()
        return shot

    def window_screenshot(self):
        """The whole window, menu bar included."""
        return grab(self.env, (self.x, self.y - self.menu_height, CLIENT_WIDTH,
                               CLIENT_HEIGHT + self.menu_height))

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
    workdir = Path(tempfile.mkdtemp(prefix=prefix))
    try:
        env = isolated_env(workdir)
        with Xvfb(workdir) as xvfb, contextlib.ExitStack() as stack:
            env["DISPLAY"] = xvfb.display
            pulse = None
            if sound and shutil.which("pulseaudio"):
                pulse = stack.enter_context(Pulse(workdir))
                env.update(pulse.env)
            yield env, workdir, pulse
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


def _tune(binary):
    """Plays a recorded game of binary and prints the loudness before and after はじまり."""
    with desktop("tune.") as (env, workdir, pulse):
        if pulse is None:
            sys.exit("harness: the tune needs pulseaudio")
        game = None

        def start():
            nonlocal game
            game = Game(binary, env, workdir).wait_window()
            return game

        try:
            recording = workdir / "game.wav"
            tune_at = play_recorded_game(start, pulse, recording)
        finally:
            if game:
                game.stop()
        print(rms(recording, 0, tune_at - 0.1), rms(recording, tune_at, 1))


if __name__ == "__main__":
    # harness.py tune GAME: for scripts such as the package test, the RMS of a recorded game
    # from start-up to はじまり and in the second after it, on one line.
    if len(sys.argv) != 3 or sys.argv[1] != "tune":
        sys.exit("usage: harness.py tune GAME")
    _tune(sys.argv[2])
