"""Processes the tests start, and the waits on them. Each process started here is stopped by its
own pid (SIGTERM, then SIGKILL after 5 s) and also gets SIGTERM from the kernel if the process
that started it dies first, so an aborted run leaves no server behind. Every wait is bounded,
and ends at once when a game that was running at its start has ended."""

import ctypes
import os
import signal
import subprocess
import time
import weakref
from pathlib import Path


class HarnessError(Exception):
    """What the tests stand on failed: a server that would not start or died, a tool that
    failed. Not the game's fault, and never taken for "not yet" by a wait."""


class GameEnded(AssertionError):
    """The game ended while a test waited for something else from it."""


class Deadline:
    """A point on the monotonic clock some seconds from now."""

    def __init__(self, seconds):
        self.at = time.monotonic() + seconds

    def remaining(self):
        return max(0.0, self.at - time.monotonic())

    def expired(self):
        return time.monotonic() >= self.at


# The games waits watch: anything with running() and ended() (how, as text) that adds itself.
GAMES = weakref.WeakSet()


def within(condition, seconds, interval=0.05, what="a wait"):
    """Polls condition() for up to seconds and returns its first true value, or None. Raises
    GameEnded once a game that ran when the wait began has ended and condition() is still false."""
    limit = Deadline(seconds)
    watched = [game for game in GAMES if game.running()]
    while True:
        try:
            value = condition()
        except HarnessError:
            # A window or a process gone with the game: the game's end is the news.
            if all(game.running() for game in watched):
                raise
            value = None
        if value:
            return value
        for game in watched:
            if not game.running():
                raise GameEnded(f"{what}: {game.ended()}")
        if limit.expired():
            return None
        time.sleep(interval)


def wait_until(condition, seconds, what, interval=0.05):
    """Polls condition() until it returns something true, and returns that; fails after seconds,
    or at once when a game ends meanwhile (see within)."""
    value = within(condition, seconds, interval, what)
    if not value:
        raise AssertionError(f"{what}: not within {seconds} s")
    return value


def _die_with_parent():
    # PR_SET_PDEATHSIG: the child gets SIGTERM when this process ends without cleaning up.
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)


def spawn(args, *, env=None, cwd=None, stdout=None, stderr=None, stdin=subprocess.DEVNULL,
          pass_fds=()):
    """Starts a helper process that dies with this one."""
    return subprocess.Popen([str(a) for a in args], env=env, cwd=cwd, stdin=stdin,
                            stdout=stdout, stderr=stderr, pass_fds=pass_fds,
                            preexec_fn=_die_with_parent)


def spawn_logged(args, log, **kwargs):
    """spawn() with standard output and error written into the file log."""
    with open(log, "wb") as out:
        return spawn(args, stdout=out, stderr=out, **kwargs)


def alive(process, log):
    """True while a server runs; once it has ended, HarnessError with the end of its log."""
    if process.poll() is not None:
        raise HarnessError(f"{Path(process.args[0]).name} ended ({process.returncode}): "
                           + Path(log).read_text(errors="replace")[-2000:])
    return True


class Server:
    """A server that start() starts and stop() stops, also as a context."""

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


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
    try:
        done = subprocess.run([str(a) for a in args], env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        raise HarnessError(f"{args[0]} did not finish within {timeout} s") from None
    if check and done.returncode != 0:
        raise HarnessError(f"{args[0]} failed ({done.returncode}): {done.stderr.strip()}")
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


def run_seconds(pid):
    """Time the live threads of a process have run so far (schedstat), without the tick grain."""
    total = 0
    for task in Path(f"/proc/{pid}/task").iterdir():
        try:
            total += int((task / "schedstat").read_text().split()[0])
        except (OSError, IndexError, ValueError):
            pass  # a thread that ended in between
    return total / 1e9


def peak_rss_kib(pid):
    """VmHWM of a process, in KiB."""
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
    raise HarnessError(f"no VmHWM for pid {pid}")
