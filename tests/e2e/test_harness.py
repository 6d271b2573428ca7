"""The harness's own arithmetic, where a slip would go unnoticed: a loudness that reads zero for
the wrong stretch, a colour count that misses anti-aliased pixels, an aim point off the
character; and its waits, which must not take a failing tool or a dead game for "not yet"."""

import array
import math
import os
import signal
import threading
import time
import wave

import pytest
from PIL import Image, ImageDraw

import harness
from harness import SKY, WHITE


def write_wav(path, seconds_of_silence, seconds_of_tone, amplitude, rate=22050):
    samples = array.array("h", [0] * int(seconds_of_silence * rate))
    samples.extend(round(amplitude * 32767 * math.sin(2 * math.pi * 440 * i / rate))
                   for i in range(int(seconds_of_tone * rate)))
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(samples.tobytes())


def test_rms_measures_the_stretch_asked_for(tmp_path):
    path = tmp_path / "tone.wav"
    write_wav(path, 1.0, 1.0, 0.5)
    # A sine of amplitude a has an RMS of a / sqrt(2).
    assert harness.rms(path, 1.0, 1.0) == pytest.approx(0.5 / math.sqrt(2), rel=1e-3)
    assert harness.rms(path, 0, 0.99) == 0
    assert harness.rms(path) == pytest.approx(0.5 / 2, rel=1e-3)
    # A stretch that starts in the silence and ends in the tone holds a share of each.
    assert 0 < harness.rms(path, 0.5, 1.0) < harness.rms(path, 1.0, 1.0)
    with pytest.raises(ValueError):
        harness.rms(path, 5.0, 1.0)


def test_colours_are_counted_with_a_tolerance_inside_the_box():
    image = Image.new("RGB", (40, 30), SKY)
    draw = ImageDraw.Draw(image)
    draw.rectangle((10, 5, 19, 14), fill=(255, 0, 0))  # 10 x 10 pure red
    image.putpixel((20, 5), (235, 12, 8))  # an anti-aliased edge: close to red
    image.putpixel((21, 5), (128, 0, 0))  # dark red: another colour
    assert harness.count_colour(image, (0, 0, 40, 30), (255, 0, 0)) == 101
    # The box is x, y, width, height: the square's last column is x = 19.
    assert harness.count_colour(image, (15, 5, 5, 10), (255, 0, 0)) == 50
    assert harness.count_colour(image, (0, 0, 40, 30), SKY) == 40 * 30 - 102
    assert harness.pixel(image, 39, 29) == SKY
    assert harness.pixel(image, 21, 5) == (128, 0, 0)


def test_the_character_furthest_bottom_left_is_aimed_at():
    image = Image.new("RGB", (558, 464), SKY)
    draw = ImageDraw.Draw(image)
    draw.ellipse((300, 150, 400, 220), fill=WHITE)  # a cloud is no character
    draw.rectangle((400, 100, 460, 160), fill=(90, 40, 20))  # further up and right
    draw.rectangle((60, 330, 140, 420), fill=(90, 40, 20))
    x, y = harness.find_character(image)
    # its middle, where a click a little off in time still lands
    assert 80 <= x <= 120 and 355 <= y <= 395
    # Nothing but sky and cloud: nothing to aim at.
    empty = Image.new("RGB", (558, 464), SKY)
    ImageDraw.Draw(empty).ellipse((100, 200, 300, 300), fill=WHITE)
    assert harness.find_character(empty) is None


def test_a_failing_tool_is_no_wait_for_more():
    with pytest.raises(harness.HarnessError, match="false failed"):
        harness.within(lambda: harness.run(["false"], None), 5)


def test_a_wait_ends_at_once_when_the_game_dies(launch, isolated_env, workdir):
    (workdir / "client.conf").write_text("autospawn = no\n")
    isolated_env.update(PULSE_CLIENTCONFIG=str(workdir / "client.conf"),
                        PULSE_SERVER=f"unix:{workdir}/no-such.sock")
    game = launch()
    game.choose_menu(harness.MENU_START)
    (said,) = harness.wait_until(game.own_lines, 10, "a line on the missing sound server")
    threading.Timer(0.5, os.kill, (game.pid, signal.SIGSEGV)).start()
    began = time.monotonic()
    with pytest.raises(harness.GameEnded) as ended:
        harness.wait_until(lambda: False, 60, "what never comes")
    took = time.monotonic() - began
    print(f"the wait ended after {took:.2f} s: {ended.value}")
    assert took < 10 and "SIGSEGV" in str(ended.value) and said in str(ended.value)
