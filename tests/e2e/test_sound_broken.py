"""Broken, lying, unreadable and unplayable sky.wav files: the game starts, stays silent, says
exactly the one line for the cause, and its memory stays that of the game with its tune."""

import pytest

from test_sound_files import REFUSED, check_file, game_folder  # noqa: F401 (a fixture)


@pytest.mark.parametrize("make, expected", [(make, line) for _, make, line in REFUSED],
                         ids=[name for name, _, _ in REFUSED])
def test_each_broken_file_is_refused_in_one_line(make, expected, xvfb, pulse, launch, workdir,
                                                 game_path, game_folder):
    check_file(make, expected, launch, pulse, workdir, game_path, game_folder)
