"""The tune against a sound server that restarts, dies, freezes or never answers: the game never
waits for it, ends at once, and plays again once a server is back."""

import os
import random
import signal
import socket
import time

import pytest

import harness
from harness import MENU_END, MENU_START

# Loudness of the tune's recording while it plays (it measures about 0.19) against the floor of
# a silent null sink (exactly 0).
HEARD = 0.02
# The tune lasts 17.56 s: loud at 14 s, silent after 17.6 s.
LOUD_AT = 14.0
OVER_AFTER = 18.0


def recorded(recording, seconds):
    """Waits until the recording holds that many seconds of sound."""
    harness.wait_until(lambda: recording.seconds() >= seconds, seconds + 20,
                       f"{seconds:.1f} s recorded")


def heard_after_start(game, server, path):
    """Chooses はじまり while recording the server's sink; returns the RMS of the loudest half
    second in the 2.5 s that followed (a busy machine may take a second to start the tune)."""
    recording = server.record(path)
    try:
        recorded(recording, 0.3)
        at = recording.seconds()
        game.choose_menu(MENU_START)
        recorded(recording, at + 2.5)
    finally:
        recording.stop()
    return max(harness.rms(path, at + 0.1 + step / 10, 0.5) for step in range(20))


def _game_stream_playing(game):
    """True once the server has the game's stream, uncorked."""
    listing = harness.run(["pactl", "list", "sink-inputs"], game.env, check=False)
    return any(f'application.process.id = "{game.pid}"' in block and "Corked: no" in block
               for block in listing.split("Sink Input #"))


@pytest.fixture
def own_server(workdir, isolated_env):
    """A list holding a sound server of this test's own, which it may kill, stop or replace."""
    folder = workdir / "pulse"
    folder.mkdir()
    servers = [harness.Pulse(folder).start()]
    isolated_env.update(servers[0].env)
    yield servers
    for server in servers:
        if server.process.poll() is None:
            os.kill(server.process.pid, signal.SIGCONT)
        server.stop()


def _repaints(game, seconds=0.6):
    """True when two screenshots taken seconds apart differ (the characters fly)."""
    first = game.screenshot()
    time.sleep(seconds)
    return first.tobytes() != game.screenshot().tobytes()


def _ends_within(game, seconds):
    began = time.monotonic()
    game.choose_menu(MENU_END)
    status = game.wait_exit(seconds)
    took = time.monotonic() - began
    assert status == 0, f"おわり: status {status} after {took:.2f} s (None: still running)"
    return took


def test_every_start_plays_the_tune_from_its_beginning(pulse, launch, workdir):
    game = launch()
    recording = pulse.record(workdir / "starts.wav")
    random.seed(9)
    starts = []
    try:
        for _ in range(30):
            game.choose_menu(MENU_START)
            # The menu has closed: the start has been chosen.
            starts.append(recording.seconds())
            time.sleep(random.uniform(0.5, 1.5))
        time.sleep(OVER_AFTER + 0.5 - (recording.seconds() - starts[-1]))
    finally:
        recording.stop()
    path = recording.path
    # What follows each start, up to the next one (the menu takes a moment to open).
    heard = [harness.rms(path, at + 0.05, max(0.1, after - at - 0.3))
             for at, after in zip(starts, starts[1:] + [starts[-1] + 1])]
    print("RMS after each of the 30 starts:", " ".join(f"{r:.3f}" for r in heard))
    assert all(r > HEARD for r in heard), f"starts not heard: {heard}"
    # Only a restart from the beginning is still loud 14 s after the last start and over 18 s
    # after it; the tune from any earlier start has ended long before.
    loud = harness.rms(path, starts[-1] + LOUD_AT, 0.5)
    over = harness.rms(path, starts[-1] + OVER_AFTER, 0.4)
    print(f"RMS {LOUD_AT} s after the last start: {loud:.3f}; {OVER_AFTER} s after: {over:.4f}")
    assert loud > HEARD and over < 0.002
    assert game.running() and game.own_lines() == []


def test_a_server_killed_and_started_again_is_used_again(own_server, launch, workdir):
    """Killed while the tune plays, one はじまり without it, then one はじまり on its
    successor: heard."""
    game = launch()
    assert heard_after_start(game, own_server[0], workdir / "first.wav") > HEARD
    own_server[0].process.kill()
    own_server[0].stop()
    game.choose_menu(MENU_START)
    harness.wait_until(lambda: game.own_lines(), 10, "a line about the missing server")
    assert game.running() and _repaints(game), "the game stopped with its sound server"
    # A new server on the same socket.
    own_server.append(harness.Pulse(workdir / "pulse").start())
    heard = heard_after_start(game, own_server[-1], workdir / "again.wav")
    lines = game.own_lines()
    print(f"RMS after the start on the new server: {heard:.3f}; stderr: {lines}")
    assert heard > HEARD
    assert lines == ["warukyara.sound: no sound server (Connection refused); "
                     "playing without sound"]
    _ends_within(game, harness.EXIT_DEADLINE)


def test_a_stopped_server_does_not_freeze_the_game(own_server, launch):
    game = launch()
    game.choose_menu(MENU_START)
    harness.wait_until(lambda: _game_stream_playing(game), 10, "the game's stream playing")
    os.kill(own_server[0].process.pid, signal.SIGSTOP)
    game.choose_menu(MENU_START)
    assert _repaints(game), "the window stopped repainting with the server stopped"
    assert game.running()


def test_a_stopped_server_does_not_hold_the_end(own_server, launch):
    game = launch()
    game.choose_menu(MENU_START)
    harness.wait_until(lambda: _game_stream_playing(game), 10, "the game's stream playing")
    os.kill(own_server[0].process.pid, signal.SIGSTOP)
    stopped = time.monotonic()
    # A game that called the stopped server from its own thread would never end. That the end
    # does not wait for the sound thread either is sound_mmcontrol's to time: a busy machine
    # alone can take 6 s from the keys to the exit.
    game.choose_menu(MENU_END)
    status = game.wait_exit(harness.EXIT_DEADLINE)
    took = time.monotonic() - stopped
    assert status == 0, f"おわり: status {status} {took:.2f} s after the stop (None: still running)"
    print(f"おわり with the server stopped: status 0, {took:.2f} s after the stop")


def test_a_server_that_never_answers_is_given_up(isolated_env, launch, workdir):
    # A socket that accepts every connection and never reads or writes a byte.
    silent = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    silent.bind(str(workdir / "silent.sock"))
    silent.listen(16)
    try:
        isolated_env.update(PULSE_SERVER=f"unix:{workdir}/silent.sock")
        began = time.monotonic()
        game = launch(wait_window=False).wait_window(3)
        print(f"window after {time.monotonic() - began:.2f} s")
        game.choose_menu(MENU_START)
        assert _repaints(game), "the window stopped repainting"
        line = harness.wait_until(lambda: game.own_lines(), 10, "a line about the server")
        assert line == ["warukyara.sound: the sound server stopped answering; "
                        "playing without sound"], line
        game.choose_menu(MENU_START)
        assert _repaints(game)
        took = _ends_within(game, harness.EXIT_DEADLINE)
        print(f"おわり: status 0 after {took:.2f} s; stderr: {game.own_lines()}")
        assert len(game.own_lines()) == 1
    finally:
        silent.close()


def test_a_suspended_sink_is_not_a_dead_server(pulse, launch, workdir):
    """A sink suspended for longer than the game waits on a silent server asks for no sound,
    yet answers: the tune resumes with it, and nothing is said."""
    game = launch()
    assert heard_after_start(game, pulse, workdir / "before.wav") > HEARD
    harness.run(["pactl", "suspend-sink", "test_sink", "1"], game.env)
    # What is tested is this wait itself: longer than the 5 s after which a server that does
    # not answer is given up.
    time.sleep(7)
    harness.run(["pactl", "suspend-sink", "test_sink", "0"], game.env)
    recording = pulse.record(workdir / "after.wav")
    try:
        recorded(recording, 1.2)
    finally:
        recording.stop()
    heard = harness.rms(recording.path, 0.2, 1.0)
    print(f"RMS after the sink was resumed: {heard:.3f}; stderr: {game.own_lines()}")
    assert heard > HEARD
    assert game.running() and game.own_lines() == []
