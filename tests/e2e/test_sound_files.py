"""Sound files other than the game's tune, through the whole game."""

import os
import shutil
import subprocess

import pytest

import harness
from harness import MENU_END
from test_sound_server import heard_after_start

HEARD = 0.02
# Beyond the memory of the game playing its own tune; the old player held a whole file in
# memory (an hour-long one: 661 MB) and reserved what a lying header claimed.
PEAK_MARGIN_KIB = 8 * 1024
PREFIX = "warukyara.sound: "
SUFFIX = "; playing without sound"


def _sox(*options):
    """The tune converted by sox with these output options."""
    def make(tune, path):
        subprocess.run(["sox", tune, *options, path], check=True, timeout=120)
    return make


def _hour_long(tune, path):
    # An hour of 8 kHz 8-bit sound (29 MB), much more than is ever decoded.
    subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-b", "8", "-e", "unsigned-integer",
                    path, "synth", "3600", "sine", "440", "vol", "0.5"], check=True, timeout=120)


# The check and the decoding of each encoding are unit tests; what needs the whole game is
# that a file other than its own tune reaches the server in the right layout, that an hour of
# sound costs no more memory than the tune, and that a file that would block is never waited on.
# id, how sky.wav is made from the game's tune, the one line the game says about it
CASES = [
    ("ms-adpcm-stereo", _sox("-e", "ms-adpcm", "-c", "2"), None),
    ("hour-long", _hour_long, None),
    ("fifo", lambda tune, path: os.mkfifo(path),
     "the sound file sky.wav cannot be read (it is a FIFO)"),
]


@pytest.fixture(scope="module")
def game_folder(game_path, tmp_path_factory):
    """A copy of the game in a folder of its own, beside which each case puts its sky.wav."""
    folder = tmp_path_factory.mktemp("game")
    shutil.copy(game_path, folder / "warukyara")
    return folder


def _run(launch, pulse, folder, workdir):
    """Starts the game, chooses はじまり, listens a second; returns (RMS, lines, peak KiB)."""
    game = launch(binary=folder / "warukyara")
    heard = heard_after_start(game, pulse, workdir / "tune.wav")
    assert game.running(), f"the game ended: {game.stderr_text()}"
    peak = harness.peak_rss_kib(game.pid)
    game.choose_menu(MENU_END)
    assert game.wait_exit(harness.EXIT_DEADLINE) == 0
    return heard, game.own_lines(), peak


# The peak of the game playing its own tune, measured once in the first case.
_reference = {}


def check_file(make, expected, launch, pulse, workdir, game_path, game_folder):
    """Puts the sky.wav that make() writes beside the game and plays it: heard and no line
    when expected is None, else silence and exactly that line; memory as with the tune."""
    tune = game_path.parent / "sky.wav"
    sky = game_folder / "sky.wav"
    if "kib" not in _reference:
        shutil.copy(tune, sky)
        _, lines, _reference["kib"] = _run(launch, pulse, game_folder, workdir)
        assert lines == []
    if sky.exists() or sky.is_symlink():
        sky.unlink()
    make(tune, sky)
    heard, lines, peak = _run(launch, pulse, game_folder, workdir)
    print(f"RMS {heard:.3f}, peak {peak} KiB (the tune: {_reference['kib']} KiB), "
          f"stderr {lines}")
    if expected is None:
        assert heard > HEARD and lines == []
    else:
        assert heard == 0 and lines == [PREFIX + expected + SUFFIX]
    assert peak <= _reference["kib"] + PEAK_MARGIN_KIB


@pytest.mark.parametrize("make, expected", [(make, line) for _, make, line in CASES],
                         ids=[name for name, _, _ in CASES])
def test_a_file_beside_the_game(make, expected, pulse, launch, workdir, game_path,
                                game_folder):
    check_file(make, expected, launch, pulse, workdir, game_path, game_folder)
