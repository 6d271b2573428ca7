"""The tune through a real sound server, and the game without its sound."""

import time

import harness
from harness import MENU_END, MENU_START


def test_silent_until_start_then_the_tune(pulse, launch, workdir):
    recording = workdir / "game.wav"
    tune_at = harness.play_recorded_game(launch, pulse, recording)
    before = harness.rms(recording, 0, tune_at - 0.1)
    # A busy machine may take a second to start the tune; the game listens for two.
    after = harness.rms(recording, tune_at, 2)
    print(f"RMS from start-up to はじまり: {before}; in the two seconds after it: {after}")
    assert before == 0, f"sound before はじまり (RMS {before})"
    assert after > 0.02, f"no sound after はじまり (RMS {after})"


def test_the_mixer_names_the_tune_as_the_games_own(pulse, launch):
    game = launch()
    game.choose_menu(MENU_START)

    def game_streams():
        listing = harness.run(["pactl", "list", "sink-inputs"], game.env)
        streams = [block for block in listing.split("Sink Input #")
                   if f'application.process.id = "{game.pid}"' in block]
        return streams

    streams = harness.wait_until(game_streams, 5, "the game's stream in the mixer")
    print(streams[0])
    assert len(streams) == 1
    for line in ('application.name = "warukyara"', 'application.icon_name = "warukyara"',
                 'media.role = "game"'):
        assert line in streams[0], f"{line} not among the stream's properties"
    assert "Corked: no" in streams[0]


def test_plays_on_without_a_sound_server(isolated_env, launch, workdir):
    """It starts, はじまり and おわり work, it ends with status 0, and says why in one line."""
    (workdir / "client.conf").write_text("autospawn = no\n")
    isolated_env.update(PULSE_CLIENTCONFIG=str(workdir / "client.conf"),
                        PULSE_SERVER=f"unix:{workdir}/no-such.sock")
    began = time.monotonic()
    game = launch()
    game.choose_menu(MENU_START)
    # The sound thread says so once it has tried the server; the game must play on after it.
    harness.wait_until(lambda: game.own_lines() or not game.running(), 10,
                       "a line on the missing server after はじまり")
    assert game.running(), "the game ended after はじまり"
    game.choose_menu(MENU_END)
    status = game.wait_exit(harness.EXIT_DEADLINE)
    assert status == 0, f"the game ended with status {status} (None: still running)"
    lines = game.own_lines()
    assert lines == ["warukyara.sound: no sound server (Connection refused); "
                     "playing without sound"]
    print(f"started, はじまり, おわり, status 0 in {time.monotonic() - began:.1f} s; "
          f"stderr: {lines}")
