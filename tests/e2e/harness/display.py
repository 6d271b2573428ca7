"""The X server: a private Xvfb, and every reading of xwininfo, xdotool and xprop."""

import os
import re
import select
from pathlib import Path

from PIL import ImageGrab

from .processes import Deadline, HarnessError, Server, run, spawn_logged, stop


class Xvfb(Server):
    """A private X server on a display it picks itself (-displayfd), without server resets."""

    def __init__(self, workdir, size="1024x768", depth=24):
        self.workdir = Path(workdir)
        self.size = size
        self.depth = depth
        self.process = None
        self.display = None

    def start(self, timeout=10):
        reader, writer = os.pipe()
        try:
            # -br: a plain black root; -noreset: no reset each time the last client leaves.
            self.process = spawn_logged(["Xvfb", "-displayfd", writer, "-screen", "0",
                                         f"{self.size}x{self.depth}", "-nolisten", "tcp", "-br",
                                         "-noreset"], self.workdir / "xvfb.log", pass_fds=(writer,))
        finally:
            os.close(writer)
        text = b""
        limit = Deadline(timeout)
        try:
            # Xvfb writes "N\n" once it accepts connections, in two writes: it dies if the pipe
            # is closed between them.
            while not text.endswith(b"\n") and not limit.expired():
                ready, _, _ = select.select([reader], [], [], limit.remaining())
                chunk = os.read(reader, 16) if ready else b""
                if not chunk:
                    break
                text += chunk
        finally:
            os.close(reader)
        if not text.strip().isdigit():
            self.stop()
            raise HarnessError(f"Xvfb did not come up within {timeout} s: "
                               f"{(self.workdir / 'xvfb.log').read_text(errors='replace')[-2000:]}")
        self.display = f":{int(text)}"
        return self

    def stop(self):
        stop(self.process)


def window_geometry(env, window_id):
    """(x, y, width, height) of a window's inside, in screen pixels.

    xwininfo gives the outer corner of the border; the inside starts one border width further
    in (0 for the game's own windows without a window manager).
    """
    text = run(["xwininfo", "-id", window_id], env)
    f = {key.strip(): value.strip() for key, sep, value in
         (line.strip().partition(":") for line in text.splitlines()) if sep}
    try:
        border = int(f["Border width"])
        return (int(f["Absolute upper-left X"]) + border, int(f["Absolute upper-left Y"]) + border,
                int(f["Width"]), int(f["Height"]))
    except (KeyError, ValueError):
        raise HarnessError(f"cannot read the geometry of window {window_id}: {f}") from None


def window_name(env, window_id):
    return run(["xdotool", "getwindowname", window_id], env, check=False).rstrip("\n")


def windows_named(env, name):
    """Ids of the visible windows whose name is exactly name."""
    quoted = "".join("\\" + c if c in "[]\\.*^$+?(){}|/" else c for c in name)
    ids = run(["xdotool", "search", "--onlyvisible", "--name", f"^{quoted}$"], env,
              check=False).split()
    # xdotool matches names case-insensitively, so each hit is confirmed.
    return [i for i in ids if window_name(env, i) == name]


def windows_of(env, pid):
    return run(["xdotool", "search", "--onlyvisible", "--pid", pid], env, check=False).split()


def icon_sizes(env, window_id):
    """The (width, height) of each icon the window carries in _NET_WM_ICON."""
    text = run(["xprop", "-id", window_id, "_NET_WM_ICON"], env)
    return [(int(w), int(h)) for w, h in re.findall(r"Icon \((\d+) x (\d+)\)", text)]


def grab(env, box):
    """The screen rectangle box = (x, y, width, height) as an RGB image."""
    x, y, w, h = box
    return ImageGrab.grab(bbox=(x, y, x + w, y + h), xdisplay=env["DISPLAY"]).convert("RGB")
