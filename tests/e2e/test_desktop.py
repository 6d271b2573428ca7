"""The desktop matches the running window with its launcher: on X11 by the window's class,
which must be the desktop entry's id or its StartupWMClass."""
import configparser
import os
from pathlib import Path

import harness

SOURCE = Path(os.environ.get("WARUKYARA_SOURCE_DIR", Path(__file__).resolve().parents[2]))
DESKTOP_ID = "jp.warukyara.Warukyara"


def desktop_entry():
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str  # keys are case-sensitive
    parser.read(SOURCE / "packaging" / f"{DESKTOP_ID}.desktop", encoding="utf-8")
    return parser["Desktop Entry"]


def test_window_class_matches_the_desktop_entry(launch):
    game = launch()
    text = harness.run(["xprop", "-id", game.window_id, "WM_CLASS"], game.env)
    # WM_CLASS(STRING) = "instance", "class"
    instance, window_class = [part.strip().strip('"') for part in text.split("=", 1)[1].split(",")]
    entry = desktop_entry()
    assert window_class in (DESKTOP_ID, entry.get("StartupWMClass")), \
        f"window class {window_class!r}, desktop entry {DESKTOP_ID} " \
        f"with StartupWMClass={entry.get('StartupWMClass')!r}"
    # The launcher starts the program by the name whose class the window carries.
    assert entry["Exec"].split()[0] == instance
    assert entry["Icon"] == "warukyara"
    game.choose_menu(harness.MENU_END)
    assert game.wait_exit(harness.EXIT_DEADLINE) == 0
