#!/usr/bin/python3
"""Assistive technology for the real-window tests: a private session bus with the AT-SPI bus
on it, and a real AT-SPI client (pyatspi) that reads the game's tree, presses its menu
entries and listens for its text changes.

The client runs in a process of its own, started with the private bus in its environment,
so each reading is fresh and nothing of pyatspi's state outlives it:
    a11y.py tree PID            the application's tree, as JSON
    a11y.py press PID NAME      performs the action of the menu item called NAME
    a11y.py score PID N...      presses showing pictures until the score box reads each N;
                                prints, for each N, the score and labels read then, as JSON
    a11y.py listen PID SECONDS  prints "ready", then each change of a text, a name or what
                                is showing, one JSON line each
"""
import json
import select
import signal
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
CLIENT = ["/usr/bin/python3", str(HERE / "a11y.py")]


class SessionBus:
    """A private D-Bus session (dbus-run-session) with the AT-SPI bus launched on it, so a
    Qt program started with `env` exposes itself to the clients of this bus only."""

    def __init__(self, base_env):
        import harness

        self._harness = harness
        self._launcher = None
        # The bus lives as long as the shell under dbus-run-session, which waits on its input.
        self._session = harness.spawn(
            ["dbus-run-session", "--", "/bin/sh", "-c",
             'echo "$DBUS_SESSION_BUS_ADDRESS"; exec cat >/dev/null'],
            env=base_env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        address = self._session.stdout.readline().decode().strip()
        if not address:
            self.stop()
            raise harness.HarnessError("dbus-run-session gave no bus address")
        self.env = dict(base_env, DBUS_SESSION_BUS_ADDRESS=address,
                        QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        # Launched before the game, so the game finds the accessibility bus at start-up.
        self._launcher = harness.spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                       env=self.env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        try:
            harness.wait_until(lambda: subprocess.run(
                ["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                 "org.a11y.Bus.GetAddress"], env=self.env, capture_output=True,
                timeout=5).returncode == 0, 10, "the AT-SPI bus answering", interval=0.1)
        except BaseException:
            self.stop()
            raise

    def client(self, *args, timeout=30):
        result = subprocess.run([*CLIENT, *map(str, args)], env=self.env, capture_output=True,
                                text=True, timeout=timeout)
        if result.returncode != 0:
            raise self._harness.HarnessError(
                f"a11y.py {' '.join(map(str, args))}: {result.stderr}")
        return result.stdout

    def tree(self, pid, timeout=15):
        """The game's tree once its window is in it (Qt registers it shortly after showing)."""
        def read():
            tree = json.loads(self.client("tree", pid))
            return tree if tree and find(tree, "frame") else None

        return self._harness.wait_until(read, timeout, f"the window of pid {pid} in AT-SPI",
                                        interval=0.2)

    def press(self, pid, name):
        self.client("press", pid, name)

    def score(self, pid, *targets):
        """Presses the showing pictures through their actions until the score box reads each
        of `targets` in turn; for each, what the score box and the labels read then."""
        return json.loads(self.client("score", pid, *targets))

    def listen(self, pid, seconds):
        """Starts a listener for `seconds`; returns it once it is registered (see `events`)."""
        listener = self._harness.spawn([*CLIENT, "listen", pid, seconds], env=self.env,
                                       stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if listener.stdout.readline().strip() != b"ready":
            self._harness.stop(listener)
            raise self._harness.HarnessError("the AT-SPI listener did not start: "
                                             + listener.stderr.read().decode(errors="replace"))
        return listener

    @staticmethod
    def events(listener, timeout):
        """The events a listener printed until it ended, as dicts."""
        listener.wait(timeout)
        # Read through the buffered pipe: what readline has taken in but not yet returned
        # would be lost to a read of the bare descriptor, as communicate() makes.
        out, err = listener.stdout.read(), listener.stderr.read()
        if listener.returncode != 0:
            import harness

            raise harness.HarnessError(
                f"the AT-SPI listener failed: {err.decode(errors='replace')}")
        return [json.loads(line) for line in out.decode().splitlines() if line.strip()]

    def events_until(self, listener, enough, timeout):
        """The events a listener prints until enough(events) holds (or timeout s pass); then
        the listener is ended with SIGTERM, which it answers by stopping cleanly."""
        events = []
        limit = self._harness.Deadline(timeout)
        while not enough(events) and not limit.expired():
            ready, _, _ = select.select([listener.stdout], [], [], limit.remaining())
            line = listener.stdout.readline() if ready else b""
            if not line:
                break
            events.append(json.loads(line))
        listener.terminate()
        return events + self.events(listener, 10)

    def stop(self):
        self._harness.stop(self._launcher)
        # Closing its input ends the shell, and dbus-run-session then ends the bus.
        self._session.stdin.close()
        try:
            self._session.wait(5)
        except subprocess.TimeoutExpired:
            self._harness.stop(self._session)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def find(node, role=None, name=None):
    """Every node of a tree read by `SessionBus.tree` with that role (and name)."""
    found = []
    if (role is None or node["role"] == role) and (name is None or node["name"] == name):
        found.append(node)
    for child in node["children"]:
        found += find(child, role, name)
    return found


# ---- the client side, run as its own process ----

def _application(pyatspi, pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def _read(pyatspi, node):
    entry = {"role": node.getRoleName(), "name": node.name, "children": []}
    try:
        extents = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        entry["extents"] = [extents.x, extents.y, extents.width, extents.height]
    except NotImplementedError:
        pass
    try:
        text = node.queryText()
        entry["text"] = text.getText(0, -1)
    except NotImplementedError:
        pass
    entry["showing"] = node.getState().contains(pyatspi.STATE_SHOWING)
    try:
        action = node.queryAction()
        entry["actions"] = [action.getName(i) for i in range(action.nActions)]
    except NotImplementedError:
        entry["actions"] = []
    entry["children"] = [_read(pyatspi, child) for child in node if child is not None]
    return entry


def _press(pyatspi, node, name):
    if node.getRoleName() == "menu item" and node.name == name:
        action = node.queryAction()
        for i in range(action.nActions):
            if action.getName(i).lower() in ("press", "click", "activate"):
                action.doAction(i)
                return True
    return any(_press(pyatspi, child, name) for child in node if child is not None)


def _nodes(pyatspi, node, role):
    found = [node] if node.getRoleName() == role else []
    for child in node:
        if child is not None:
            found += _nodes(pyatspi, child, role)
    return found


def _press_showing(pyatspi, images, box):
    """Presses one picture that is showing and offers Press, and returns the seconds from the
    doAction to the score box reading another score; None if no picture could be pressed (one
    may leave the window between the look and the press)."""
    before = box.getText(0, -1)
    for image in images:
        try:
            if not image.getState().contains(pyatspi.STATE_SHOWING):
                continue
            action = image.queryAction()
            names = [action.getName(i) for i in range(action.nActions)]
            if "Press" not in names:
                continue
            start = time.monotonic()
            if not action.doAction(names.index("Press")):
                continue
        except Exception:  # gone from view between the look and the press
            continue
        while box.getText(0, -1) == before and time.monotonic() < start + 5:
            pass
        return time.monotonic() - start
    return None


def _score(pyatspi, app, targets, seconds=20):
    box = _nodes(pyatspi, app, "text")[0].queryText()
    images = _nodes(pyatspi, app, "image")
    labels = _nodes(pyatspi, app, "label")
    readings = []
    limit = time.monotonic() + seconds
    for target in targets:
        presses = []
        while box.getText(0, -1) != str(target) and time.monotonic() < limit:
            took = _press_showing(pyatspi, images, box)
            if took is not None:
                presses.append(took)
        readings.append({"score": box.getText(0, -1), "presses": presses,
                         "labels": [label.name for label in labels]})
    return readings


def _listen(pyatspi, pid, seconds):
    from gi.repository import GLib

    def on_event(event):
        try:
            if event.source.get_process_id() != pid:
                return
            data = event.any_data
            # Qt 6.4 sends a change of name with the object, not its new name: read the name.
            if not isinstance(data, (str, int)):
                data = repr(data)
            print(json.dumps({"type": event.type, "role": event.source.getRoleName(),
                              "name": event.source.name, "detail": event.detail1,
                              "data": data}, ensure_ascii=False), flush=True)
        except Exception as error:  # a source that went away mid-event
            print(json.dumps({"error": str(error)}), flush=True)

    pyatspi.Registry.registerEventListener(on_event, "object:text-changed",
                                           "object:property-change:accessible-name",
                                           "object:state-changed:showing")
    GLib.timeout_add(int(seconds * 1000), pyatspi.Registry.stop)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, pyatspi.Registry.stop)
    # Qt sends events only once it has heard of a listener; a moment lets that reach it.
    GLib.timeout_add(300, lambda: print("ready", flush=True) and False)
    pyatspi.Registry.start()


def main(argv):
    import pyatspi

    command, pid = argv[1], int(argv[2])
    if command == "listen":
        _listen(pyatspi, pid, float(argv[3]))
        return 0
    app = _application(pyatspi, pid)
    if command == "tree":
        print(json.dumps(_read(pyatspi, app) if app else None, ensure_ascii=False))
        return 0
    if command == "press":
        return 0 if app and _press(pyatspi, app, argv[3]) else 1
    if command == "score":
        print(json.dumps(_score(pyatspi, app, [int(n) for n in argv[3:]]), ensure_ascii=False))
        return 0
    return 2


if __name__ == "__main__":
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    sys.exit(main(sys.argv))
