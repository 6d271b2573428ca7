"""The real program in a real X server and a real sound server, driven like a player: what the
real-window tests, bench/ and scripts/screenshot share, one job a module. Nothing here looks for
other servers by name. Needs (Debian): xvfb x11-utils xdotool pulseaudio pulseaudio-utils python3-pil.
"""
# flake8: noqa: F401  Every name the tests and scripts use is re-exported here.

from .display import Xvfb, grab, icon_sizes, window_geometry, window_name, windows_named, windows_of
from .game import (EXIT_DEADLINE, MENU_END, MENU_HEIGHT_MAX, MENU_START, REPORT_TITLE, Game,
                   desktop, play_recorded_game)
from .game import __getattr__  # CLIENT_WIDTH, CLIENT_HEIGHT, WINDOW_TITLE, read when used
from .processes import (GameEnded, HarnessError, Deadline, alive, isolated_env, peak_rss_kib,
                        run, run_seconds, spawn, stop, wait_until, within)
from .screen import SCORE_BOX, SCORE_COLOUR, SKY, WHITE, count_colour, find_character, near, pixel
from .sound_server import Pulse, rms
