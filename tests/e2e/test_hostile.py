"""Starting the game where a player's desktop is not what it expects. With no display the game
says so in exactly one line and ends at once with a non-zero status; started from another folder
it still finds the tune beside itself and plays it."""

import re
import time
from pathlib import Path

import pytest

import harness


def _free_display():
    """A display number with no socket, abstract or on disk, and no lock: nothing listens."""
    abstract = Path("/proc/net/unix").read_text()
    n = 987
    while (Path(f"/tmp/.X11-unix/X{n}").exists() or Path(f"/tmp/.X{n}-lock").exists()
           or re.search(rf"@/tmp/\.X11-unix/X{n}$", abstract, re.MULTILINE)):
        n += 1
    return f":{n}"


def _no_display(env):
    return "no display"


def _dead_display(env):
    env["DISPLAY"] = _free_display()
    return f"DISPLAY={env['DISPLAY']} with no server"


@pytest.mark.parametrize("prepare", [_no_display, _dead_display],
                         ids=["no-display", "dead-display"])
@pytest.mark.own_display
def test_refuses_in_one_line_without_a_display(prepare, isolated_env, launch, game_path):
    what = prepare(isolated_env)
    began = time.monotonic()
    game = launch(binary=game_path.resolve(), wait_window=False)
    status = game.wait_exit(harness.EXIT_DEADLINE)
    took = time.monotonic() - began
    assert status is not None, \
        f"{what}: the game was still running {harness.EXIT_DEADLINE} s after it started"
    assert status != 0, f"{what}: the game ended with status 0"
    assert status > 0, f"{what}: the game died of signal {-status}: {game.stderr_text()}"
    lines = game.stderr_lines()
    assert len(lines) == 1, f"{what}: {len(lines)} lines on stderr, not one: {lines}"
    assert re.match(r"warukyara: .*display", lines[0]), \
        f"{what}: the line does not name the display: {lines[0]}"
    assert game.stdout_text() == "", f"{what}: the game wrote to stdout: {game.stdout_text()}"
    print(f"{what}: status {status} after {took:.2f} s, one line: {lines[0]}")


def test_finds_its_tune_when_started_from_elsewhere(pulse, launch, workdir, game_path):
    elsewhere = workdir / "elsewhere"
    elsewhere.mkdir()
    # A sky.wav in the working folder that is not the game's: finding this one would be silent.
    (elsewhere / "sky.wav").write_text("not the tune\n")
    recording = workdir / "game.wav"
    tune_at = harness.play_recorded_game(lambda: launch(binary=game_path.resolve(), cwd=elsewhere), pulse,
                                         recording)
    after = harness.rms(recording, tune_at, 1)
    assert after > 0.02, f"no sound after はじまり when started from {elsewhere} (RMS {after})"
