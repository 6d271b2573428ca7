"""Every common WAVE encoding plays, an hour-long file too, with the memory of the game's own
tune. The broken and lying files, which use the same steps, are in test_sound_broken.py."""

import os
import shutil
import struct
import subprocess

import pytest

import harness
from harness import MENU_END
from test_sound_server import heard_after_start, sound_lines

HEARD = 0.02
# Beyond the memory of the game playing its own tune; the old player held a whole file in
# memory (an hour-long one: 661 MB) and reserved what a lying header claimed.
PEAK_MARGIN_KIB = 8 * 1024
PREFIX = "warukyara.sound: "
SUFFIX = "; playing without sound"


def _riff(*chunks, riff_size=None):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if riff_size is None else riff_size) + body


def _chunk(name, body, size=None):
    pad = b"\0" if len(body) % 2 else b""
    return name + struct.pack("<I", len(body) if size is None else size) + body + pad


def _fmt(tag=1, channels=1, rate=22050, bits=16, block=None):
    block = channels * bits // 8 if block is None else block
    return _chunk(b"fmt ", struct.pack("<HHIIHH", tag, channels, rate, rate * block, block, bits))


def _tune_samples(tune):
    data = tune.read_bytes()
    at = data.index(b"data") + 8
    return data[at:at + 44100]  # one second of the 16-bit mono tune


def _sox(*options):
    """The tune converted by sox with these output options."""
    def make(tune, path):
        subprocess.run(["sox", tune, *options, path], check=True, timeout=120)
    return make


def _write(content):
    def make(tune, path):
        path.write_bytes(content(tune) if callable(content) else content)
    return make


def _unreadable(tune, path):
    if os.geteuid() != 0:
        shutil.copy(tune, path)
        path.chmod(0)
        return
    # Root reads every ordinary file; a write-only kernel setting refuses even root.
    for candidate in ("/sys/bus/pci/rescan", "/sys/bus/pci/drivers_probe"):
        try:
            open(candidate, "rb").close()
        except PermissionError:
            path.symlink_to(candidate)
            return
        except OSError:
            continue
    pytest.skip("no file here that root cannot read")


def _hour_long(tune, path):
    # An hour of 8 kHz 8-bit sound (29 MB), much more than is ever decoded.
    subprocess.run(["sox", "-n", "-r", "8000", "-c", "1", "-b", "8", "-e", "unsigned-integer",
                    path, "synth", "3600", "sine", "440", "vol", "0.5"], check=True, timeout=120)


# id, how sky.wav is made from the game's tune
PLAYABLE = [
    ("pcm-8", _sox("-b", "8", "-e", "unsigned-integer")),
    ("pcm-24", _sox("-b", "24")),
    ("pcm-32", _sox("-b", "32", "-e", "signed-integer")),
    ("float-32", _sox("-b", "32", "-e", "floating-point")),
    ("float-64", _sox("-b", "64", "-e", "floating-point")),
    ("a-law", _sox("-e", "a-law")),
    ("mu-law", _sox("-e", "u-law")),
    ("ima-adpcm", _sox("-e", "ima-adpcm")),
    ("ms-adpcm", _sox("-e", "ms-adpcm")),
    ("stereo-48k", _sox("-c", "2", "-r", "48000")),
    ("hour-long", _hour_long),
]

# id, how sky.wav is made, the one line the game says about it
REFUSED = [
    ("missing", lambda tune, path: None, "the sound file sky.wav was not found"),
    ("unreadable", _unreadable, "the sound file sky.wav cannot be read (Permission denied)"),
    ("text", _write(b"this is not a sound\n"), "the sound file sky.wav is not a WAVE file"),
    ("empty", _write(b""), "the sound file sky.wav is not a WAVE file"),
    ("data-claims-4-GiB", _write(_riff(_fmt(), b"data" + struct.pack("<I", 0xFFFFFFF0))),
     "the sound file sky.wav is corrupt (the 'data' chunk claims 4294967280 bytes, 0 follow)"),
    ("riff-claims-more", _write(lambda tune: tune.read_bytes()[:100]),
     "the sound file sky.wav is corrupt (the header claims 774440 bytes, the file has 100)"),
    ("header-only", _write(_riff(_fmt())), "the sound file sky.wav is corrupt (no data chunk)"),
    ("empty-data", _write(_riff(_fmt(), _chunk(b"data", b""))),
     "the sound file sky.wav is corrupt (no sound data)"),
    ("data-before-format", _write(lambda tune: _riff(_chunk(b"data", _tune_samples(tune)), _fmt())),
     "the sound file sky.wav is corrupt (the sound data comes before its format)"),
    ("no-channels", _write(lambda tune: _riff(_fmt(channels=0, block=2),
                                              _chunk(b"data", _tune_samples(tune)))),
     "the sound file sky.wav is corrupt (0 channels)"),
    ("wrong-frame-size", _write(lambda tune: _riff(_fmt(block=3), _chunk(b"data", _tune_samples(tune)))),
     "the sound file sky.wav is corrupt (frames of 3 bytes for 1 channels of 16 bits)"),
    ("mp3", _write(lambda tune: _riff(_fmt(tag=0x55, bits=0, block=1),
                                      _chunk(b"data", _tune_samples(tune)))),
     "the sound file sky.wav uses the MP3 encoding, which the game cannot play"),
    ("gsm", _sox("-e", "gsm-full-rate"),
     "the sound file sky.wav uses the GSM 6.10 encoding, which the game cannot play"),
    ("pcm-12", _write(lambda tune: _riff(_fmt(bits=12, block=2), _chunk(b"data", _tune_samples(tune)))),
     "the sound file sky.wav uses the 12-bit PCM encoding, which the game cannot play"),
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
    assert game.wait_exit(3) == 0
    return heard, sound_lines(game), peak


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


@pytest.mark.parametrize("make", [make for _, make in PLAYABLE],
                         ids=[name for name, _ in PLAYABLE])
def test_each_common_encoding_plays(make, xvfb, pulse, launch, workdir, game_path, game_folder):
    check_file(make, None, launch, pulse, workdir, game_path, game_folder)
