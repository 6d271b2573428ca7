"""The sound server: a private PulseAudio with a recordable null sink, and the loudness of what
was recorded from it."""

import array
import math
import os
import subprocess
import wave
from pathlib import Path

from .processes import Server, alive, run, spawn_logged, stop, wait_until

RECORDING_RATE = 22050

class Pulse(Server):
    """A private PulseAudio with one null sink, test_sink, on a private socket.

    A silent stream keeps the sink running in real time, so recordings of its monitor line up
    with what was played.
    """

    def __init__(self, workdir):
        self.workdir = Path(workdir)
        self.socket = self.workdir / "pulse.sock"
        self.client_config = self.workdir / "pulse-client.conf"
        self.process = None
        self.keepalive = None

    @property
    def env(self):
        """What a client needs to reach this server, and only this one."""
        return {"PULSE_SERVER": f"unix:{self.socket}", "PULSE_CLIENTCONFIG": str(self.client_config)}

    def _client_env(self):
        env = dict(os.environ)
        env.update(self.env)
        env["XDG_RUNTIME_DIR"] = str(self.workdir / "xdg")
        return env

    def start(self, timeout=10):
        runtime = self.workdir / "xdg"
        runtime.mkdir(mode=0o700, exist_ok=True)
        # Clients must never start a server of their own if ours is gone.
        self.client_config.write_text("autospawn = no\n")
        env = self._client_env()
        env["HOME"] = str(self.workdir)
        log = self.workdir / "pulse.log"
        # Running as root only earns a warning; realtime and high priority are off so nothing
        # asks for rtkit, and -n skips default.pa so that only these two modules are loaded.
        self.process = spawn_logged(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
             "--system=no", "--realtime=no", "--high-priority=no", "--log-target=stderr",
             "-L", f"module-native-protocol-unix auth-anonymous=1 socket={self.socket}",
             "-L", "module-null-sink sink_name=test_sink"], log, env=env)
        try:
            wait_until(lambda: alive(self.process, log) and self._answers(), timeout,
                       "PulseAudio answering")
            run(["pactl", "set-default-sink", "test_sink"], env)
            self.keepalive = spawn_logged(
                ["pacat", "--playback", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
                 "--device=test_sink", "--client-name=e2e-keepalive", "--stream-name=silence",
                 "--latency-msec=20"], self.workdir / "pacat.log", env=env,
                stdin=open("/dev/zero", "rb"))
            wait_until(lambda: run(["pactl", "list", "short", "sink-inputs"], env, check=False),
                       timeout, "the silent keep-alive stream")
            # A fresh null sink first sleeps through one 2 s block before it notices the
            # short-latency stream; waiting that out here lets the first test recording start
            # on time.
            self.record(self.workdir / "warmup.wav").stop()
            (self.workdir / "warmup.wav").unlink()
        except BaseException:
            self.stop()
            raise
        return self

    def _answers(self):
        try:
            return subprocess.run(["pactl", "info"], env=self._client_env(), capture_output=True,
                                  timeout=2).returncode == 0
        except subprocess.TimeoutExpired:
            return False

    def record(self, path):
        """Starts recording the sink's monitor into path; returns once samples are arriving."""
        return Recording(self, Path(path))

    def stop(self):
        stop(self.keepalive)
        stop(self.process)


class Recording:
    """parecord of test_sink's monitor: mono, 22050 Hz, 16-bit WAV."""

    HEADER = 44

    def __init__(self, pulse, path, timeout=10):
        self.path = path
        path.unlink(missing_ok=True)
        log = pulse.workdir / "parecord.log"
        self.process = spawn_logged(["parecord", "--device=test_sink.monitor", "--file-format=wav",
                                     "--format=s16le", f"--rate={RECORDING_RATE}", "--channels=1",
                                     "--latency-msec=20", path], log, env=pulse._client_env())
        wait_until(lambda: alive(self.process, log) and path.exists()
                   and path.stat().st_size > self.HEADER, timeout, "samples from parecord",
                   interval=0.02)

    def seconds(self):
        """How many seconds of sound the recording holds so far."""
        return max(0, self.path.stat().st_size - self.HEADER) / (2 * RECORDING_RATE)

    def stop(self):
        """Stops parecord by its pid, which makes it finish the WAV header."""
        stop(self.process)


def rms(path, start=0.0, duration=None):
    """RMS amplitude (0..1) of a stretch of a 16-bit PCM WAV file, all channels together."""
    with wave.open(str(path), "rb") as w:
        if w.getsampwidth() != 2:
            raise ValueError(f"{path}: {8 * w.getsampwidth()}-bit samples, expected 16")
        rate = w.getframerate()
        first = min(w.getnframes(), max(0, round(start * rate)))
        w.setpos(first)
        count = w.getnframes() - first
        if duration is not None:
            count = min(count, max(0, round(duration * rate)))
        samples = array.array("h", w.readframes(count))
    if not samples:
        raise ValueError(f"{path}: no samples from {start} s for {duration} s")
    return math.sqrt(sum(s * s for s in samples) / len(samples)) / 32768.0
