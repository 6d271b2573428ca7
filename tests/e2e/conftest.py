"""Fixtures for the real-window tests: the built program, an environment of its own, a private
X server and sound server, and the game started in them. Everything started here is stopped by
its pid at teardown, whatever the test did."""

import os
import shutil
import sys
import tempfile
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402


def _program(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.fail(f"{variable} is not set; run the tests through ctest")
    if not os.access(path, os.X_OK):
        pytest.fail(f"{variable}={path} is not an executable")
    return Path(path)


@pytest.fixture(scope="session")
def game_path():
    """The built game (WARUKYARA_BINARY, set by CTest)."""
    return _program("WARUKYARA_BINARY")


@pytest.fixture(scope="session")
def faulty_path():
    """The game with one planted run-time error (WARUKYARA_FAULTY, set by CTest)."""
    return _program("WARUKYARA_FAULTY")


def _workdir(prefix):
    path = Path(tempfile.mkdtemp(prefix=prefix))
    path.chmod(0o700)
    return path


@pytest.fixture
def workdir():
    """A private folder for this test's files, removed afterwards unless E2E_KEEP=1."""
    path = _workdir("e2e.")
    yield path
    if os.environ.get("E2E_KEEP") == "1":
        print(f"e2e: kept {path}", file=sys.stderr)
    else:
        shutil.rmtree(path, ignore_errors=True)


@pytest.fixture
def isolated_env(workdir):
    """The game's environment: a fresh HOME and XDG_RUNTIME_DIR, no DISPLAY, no session bus
    (see harness.isolated_env); xvfb and pulse add their servers to it."""
    return harness.isolated_env(workdir)


@pytest.fixture
def xvfb(workdir, isolated_env):
    """A private X server, 1024 x 768 x 24; its DISPLAY is put into isolated_env."""
    with harness.Xvfb(workdir) as server:
        isolated_env["DISPLAY"] = server.display
        yield server


@pytest.fixture(scope="module")
def pulse_server():
    """One private PulseAudio per test file: its start waits out the null sink's first 2 s."""
    path = _workdir("e2e-pulse.")
    try:
        with harness.Pulse(path) as server:
            yield server
    finally:
        shutil.rmtree(path, ignore_errors=True)


@pytest.fixture
def pulse(pulse_server, isolated_env):
    """The private PulseAudio with its null sink, made this test's sound server.
    pulse.record(path) records the sink's monitor."""
    isolated_env.update(pulse_server.env)
    return pulse_server


def pytest_configure(config):
    config.addinivalue_line("markers", "own_display: the test gives the game a display of its "
                            "own, or none, instead of the private X server")


@pytest.fixture
def display(request):
    """The display launch starts games on: the private X server (xvfb), or None for a test
    marked own_display."""
    if request.node.get_closest_marker("own_display"):
        return None
    return request.getfixturevalue("xvfb")


@pytest.fixture
def launch(display, isolated_env, workdir):
    """launch(env=..., cwd=..., binary=..., args=..., wait_window=True) starts the game (by
    default the built one, in isolated_env, on display) and returns a harness.Game; every game
    started is killed at teardown, and the end of its standard error is shown if the test
    failed."""
    games = []

    def start(env=None, cwd=None, binary=None, args=(), wait_window=True):
        binary = binary or _program("WARUKYARA_BINARY")
        game = harness.Game(binary, isolated_env if env is None else env, workdir, cwd=cwd,
                            args=args, name=f"app-{len(games) + 1}")
        games.append(game)
        if wait_window:
            game.wait_window()
        return game

    yield start
    for game in games:
        game.stop()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """On failure, the end of each game's standard error goes into the report."""
    outcome = yield
    report = outcome.get_result()
    workdir = item.funcargs.get("workdir") if hasattr(item, "funcargs") else None
    if report.when != "call" or not report.failed or workdir is None:
        return
    for path in sorted(Path(workdir).glob("app-*.err")):
        tail = path.read_text(errors="replace").splitlines()[-20:]
        if tail:
            report.sections.append((f"last lines of {path.name}", "\n".join(tail)))
