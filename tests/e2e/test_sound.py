"""The tune through a real sound server, and the game without its sound."""

import shutil
import time

import pytest

import harness
from harness import MENU_END, MENU_START


def test_silent_until_start_then_the_tune(xvfb, pulse, launch, workdir):
    recording = workdir / "game.wav"
    tune_at = harness.play_recorded_game(launch, pulse, recording)
    before = harness.rms(recording, 0, tune_at - 0.1)
    after = harness.rms(recording, tune_at, 1)
    print(f"RMS from start-up to はじまり: {before}; in the second after it: {after}")
    assert before == 0, f"sound before はじまり (RMS {before})"
    assert after > 0.02, f"no sound after はじまり (RMS {after})"


def _no_server(env, folder, tune):
    shutil.copy(tune, folder / "sky.wav")
    (folder / "client.conf").write_text("autospawn = no\n")
    env.update(PULSE_CLIENTCONFIG=str(folder / "client.conf"),
               PULSE_SERVER=f"unix:{folder}/no-such.sock")


def _missing(env, folder, tune):
    pass


def _not_wave(env, folder, tune):
    (folder / "sky.wav").write_text("this is not a sound\n")


def _empty(env, folder, tune):
    (folder / "sky.wav").write_bytes(b"")


def _truncated(env, folder, tune):
    (folder / "sky.wav").write_bytes(tune.read_bytes()[:100])


@pytest.mark.parametrize("prepare", [_no_server, _missing, _not_wave, _empty, _truncated],
                         ids=["no-server", "missing", "not-wave", "empty", "truncated"])
def test_plays_on_without_its_sound(prepare, request, xvfb, isolated_env, launch, workdir,
                                    game_path):
    """It starts, はじまり and おわり work, it ends with status 0, and says so in one line at
    most."""
    if prepare is not _no_server:
        request.getfixturevalue("pulse")
    folder = workdir / "bin"
    folder.mkdir()
    shutil.copy(game_path, folder / "warukyara")
    prepare(isolated_env, folder, game_path.parent / "sky.wav")

    began = time.monotonic()
    game = launch(binary=folder / "warukyara")
    time.sleep(0.3)
    game.choose_menu(MENU_START)
    time.sleep(1)
    assert game.running(), "the game ended after はじまり"
    game.choose_menu(MENU_END)
    status = game.wait_exit(3)
    assert status == 0, f"the game ended with status {status} (None: still running)"
    # The sanitizers' own report lines are not the game's.
    lines = [line for line in game.stderr_lines()
             if line and not line.startswith(("==", "SUMMARY"))]
    assert len(lines) <= 1, f"more than one line on standard error: {lines}"
    print(f"started, はじまり, おわり, status 0 in {time.monotonic() - began:.1f} s; "
          f"stderr: {lines}")
