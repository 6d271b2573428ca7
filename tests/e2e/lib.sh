# shellcheck shell=bash
# shellcheck disable=SC2034  # APP_STATUS, APP_OUT, APP_ERR are read by the tests
# Helpers for the end-to-end tests: a private X server, a private sound
# server with a recordable null sink, window lookup, screenshots, pixel
# colours, loudness of recordings, and starting/stopping the game.
#
#   source tests/e2e/lib.sh
#   e2e_init; start_xvfb; start_pulse; start_app build/warukyara ...
#
# Call the functions that start something from the test script's own
# shell (not inside $(...) or a pipeline): each process is stopped later by
# the pid recorded here, and only if it is still a child of this shell.
# Functions that print a value are meant for x=$(f ...); their failure
# ends the test only under `set -e`, so use `set -euo pipefail`.
# Nothing here looks for other X or sound servers by name, and every wait
# is bounded.
#
# Needs (Debian): xvfb x11-utils xdotool imagemagick sox pulseaudio
# pulseaudio-utils util-linux coreutils.

E2E_DIR=
E2E_XVFB_PID=
E2E_PULSE_PID=
E2E_PACAT_PID=
E2E_REC_PID=
E2E_REC_FILE=
E2E_REC_RATE=22050
E2E_APP_RUNS=0
APP_PID=
APP_STATUS=  # exit status of the app, set by wait_app_exit
APP_OUT=
APP_ERR=

# When the kernel supports it, background helpers get SIGTERM if this
# shell dies without running its EXIT trap (e.g. a SIGKILL from a test
# timeout), so no Xvfb or pulseaudio is left behind.
_E2E_SPAWN=()
if setpriv --pdeathsig TERM -- true >/dev/null 2>&1; then
  _E2E_SPAWN=(setpriv --pdeathsig TERM --)
fi

# fail MSG: print "FAIL: MSG" to stderr and exit 1.
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# pass MSG: print "ok: MSG".
pass() {
  echo "ok: $*"
}

# _e2e_now: print seconds since the epoch with fractions.
_e2e_now() {
  date +%s.%N
}

# _e2e_before DEADLINE: true while the clock is still before DEADLINE.
_e2e_before() {
  awk -v d="$1" -v n="$(_e2e_now)" 'BEGIN { exit !(n < d) }'
}

# _e2e_deadline SECONDS: print the time SECONDS from now.
_e2e_deadline() {
  awk -v s="$1" -v n="$(_e2e_now)" 'BEGIN { printf "%.3f", n + s }'
}

# _e2e_ours PID: true if PID is alive and a child of this shell.
_e2e_ours() {
  local pid=$1 stat rest
  local -a f
  [[ -n $pid && -r /proc/$pid/stat ]] || return 1
  stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
  rest=${stat##*) }         # fields after "pid (comm) "
  read -r -a f <<<"$rest"   # f[0]=state f[1]=ppid
  [[ ${f[0]} != Z && ${f[1]} == "$BASHPID" ]]
}

# _e2e_stop PID: TERM the child PID, KILL it after 5 s, and reap it.
_e2e_stop() {
  local pid=$1 deadline
  [[ -n $pid ]] || return 0
  if _e2e_ours "$pid"; then
    kill -TERM "$pid" 2>/dev/null || true
    deadline=$(_e2e_deadline 5)
    while _e2e_ours "$pid" && _e2e_before "$deadline"; do sleep 0.05; done
    if _e2e_ours "$pid"; then
      echo "e2e: pid $pid ignored SIGTERM, killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  wait "$pid" 2>/dev/null || true
}

# e2e_init: make the private temp dir E2E_DIR, isolate the environment, and clean up on exit.
e2e_init() {
  E2E_DIR=$(mktemp -d "${TMPDIR:-/tmp}/e2e.XXXXXXXX") || fail "cannot make a temp dir"
  chmod 700 "$E2E_DIR"
  export E2E_DIR
  trap e2e_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  # The game under test gets a fresh home (no saved settings of the
  # developer's are read or overwritten), no session bus to talk to, and
  # no display or sound server until start_xvfb / start_pulse provide one.
  mkdir -p "$E2E_DIR/home" "$E2E_DIR/xdg"
  chmod 700 "$E2E_DIR/xdg"
  export HOME=$E2E_DIR/home
  export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_DATA_HOME=$HOME/.local/share
  export XDG_RUNTIME_DIR=$E2E_DIR/xdg
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$E2E_DIR/no-session-bus
  unset DISPLAY WAYLAND_DISPLAY PULSE_SERVER
}

# start_xvfb: start a private Xvfb on a display it picks itself, wait until it is ready, export DISPLAY.
start_xvfb() {
  [[ -n $E2E_DIR ]] || fail "start_xvfb: call e2e_init first"
  [[ -z $E2E_XVFB_PID ]] || fail "start_xvfb: already running"
  local fd_file=$E2E_DIR/xvfb.display n='' deadline
  : >"$fd_file"
  # -br: plain black root instead of a pattern; -noreset: no server reset
  # each time the last client (say xdotool) disconnects.
  "${_E2E_SPAWN[@]}" Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -br -noreset \
    </dev/null >"$E2E_DIR/xvfb.log" 2>&1 3>"$fd_file" &
  E2E_XVFB_PID=$!
  deadline=$(_e2e_deadline 10)
  # Xvfb writes "N\n" to the fd once it accepts connections.
  while _e2e_before "$deadline"; do
    if [[ $(wc -l <"$fd_file") -ge 1 ]]; then
      read -r n <"$fd_file" || true
      break
    fi
    _e2e_ours "$E2E_XVFB_PID" || break
    sleep 0.05
  done
  if [[ ! $n =~ ^[0-9]+$ ]]; then
    tail -n 20 "$E2E_DIR/xvfb.log" >&2 || true
    fail "Xvfb did not come up within 10 s"
  fi
  export DISPLAY=:$n
}

# start_pulse: start a private PulseAudio with a null sink test_sink kept running by a silent stream; export PULSE_SERVER.
start_pulse() {
  [[ -n $E2E_DIR ]] || fail "start_pulse: call e2e_init first"
  [[ -z $E2E_PULSE_PID ]] || fail "start_pulse: already running"
  local sock=$E2E_DIR/pulse.sock deadline up=0
  mkdir -p "$E2E_DIR/xdg"
  chmod 700 "$E2E_DIR/xdg"
  export XDG_RUNTIME_DIR=$E2E_DIR/xdg
  export PULSE_SERVER=unix:$sock
  # Clients must never start a server of their own if ours is gone.
  printf 'autospawn = no\n' >"$E2E_DIR/pulse-client.conf"
  export PULSE_CLIENTCONFIG=$E2E_DIR/pulse-client.conf
  # Running as root only earns a warning; realtime/high priority are off
  # so nothing asks for rtkit, and -n skips the default.pa so nothing but
  # these two modules is loaded.
  "${_E2E_SPAWN[@]}" pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --system=no --realtime=no --high-priority=no --log-target=stderr \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$sock" \
    -L "module-null-sink sink_name=test_sink" \
    </dev/null >"$E2E_DIR/pulse.log" 2>&1 &
  E2E_PULSE_PID=$!
  deadline=$(_e2e_deadline 10)
  while _e2e_before "$deadline"; do
    if timeout 2 pactl info >/dev/null 2>&1; then
      up=1
      break
    fi
    _e2e_ours "$E2E_PULSE_PID" || break
    sleep 0.05
  done
  if ((!up)); then
    tail -n 20 "$E2E_DIR/pulse.log" >&2 || true
    fail "pulseaudio did not answer within 10 s"
  fi
  timeout 5 pactl set-default-sink test_sink || fail "cannot make test_sink the default sink"
  # An idle null sink renders in 2 s blocks; a silent stream keeps it
  # running in real time so recordings line up with what was played.
  "${_E2E_SPAWN[@]}" pacat --playback --raw --format=s16le --rate=44100 --channels=2 \
    --device=test_sink --client-name=e2e-keepalive --stream-name=silence --latency-msec=20 \
    </dev/zero >"$E2E_DIR/pacat.log" 2>&1 &
  E2E_PACAT_PID=$!
  deadline=$(_e2e_deadline 10)
  until [[ -n $(timeout 2 pactl list short sink-inputs 2>/dev/null) ]]; do
    _e2e_ours "$E2E_PACAT_PID" || fail "the silent keep-alive stream died: $(cat "$E2E_DIR/pacat.log")"
    _e2e_before "$deadline" || fail "the silent keep-alive stream did not start within 10 s"
    sleep 0.05
  done
  # Even so, a fresh null sink first sleeps through one 2 s block before
  # it notices the short-latency stream (measured: the monitor delivers
  # nothing for ~2 s after the module loads, then runs in real time).
  # Wait that out here so the first test recording starts on time.
  start_recording "$E2E_DIR/warmup.wav"
  stop_recording
  rm -f "$E2E_DIR/warmup.wav"
}

# start_recording FILE: record test_sink's monitor (mono, 22050 Hz, s16 WAV) into FILE; returns once data is flowing.
start_recording() {
  [[ -n ${PULSE_SERVER:-} ]] || fail "start_recording: call start_pulse first"
  [[ -z $E2E_REC_PID ]] || fail "start_recording: already recording"
  local file=$1 deadline
  E2E_REC_FILE=$file
  rm -f "$file"
  "${_E2E_SPAWN[@]}" parecord --device=test_sink.monitor --file-format=wav --format=s16le \
    --rate="$E2E_REC_RATE" --channels=1 --latency-msec=20 "$file" \
    </dev/null >"$E2E_DIR/parecord.log" 2>&1 &
  E2E_REC_PID=$!
  deadline=$(_e2e_deadline 10)
  # The header is 44 bytes; anything past it means samples are arriving.
  until [[ -f $file && $(stat -c %s "$file") -gt 44 ]]; do
    _e2e_ours "$E2E_REC_PID" || fail "parecord died: $(cat "$E2E_DIR/parecord.log")"
    _e2e_before "$deadline" || fail "parecord wrote nothing within 10 s"
    sleep 0.02
  done
}

# recording_seconds: print how many seconds of audio the running recording holds so far.
recording_seconds() {
  [[ -n $E2E_REC_FILE && -f $E2E_REC_FILE ]] || fail "recording_seconds: nothing is being recorded"
  awk -v b="$(stat -c %s "$E2E_REC_FILE")" -v r="$E2E_REC_RATE" \
    'BEGIN { s = (b - 44) / (2 * r); if (s < 0) s = 0; printf "%.3f\n", s }'
}

# stop_recording: stop parecord by its pid so that it finalises the WAV header.
stop_recording() {
  [[ -n $E2E_REC_PID ]] || return 0
  _e2e_stop "$E2E_REC_PID"
  E2E_REC_PID=
}

# rms_of FILE [START_S [DURATION_S]]: print the RMS amplitude (0..1) of that stretch of a WAV.
rms_of() {
  local file=$1 out rms
  local trim=()
  [[ -f $file ]] || fail "rms_of: no such file: $file"
  if (($# >= 3)); then
    trim=(trim "$2" "$3")
  elif (($# == 2)); then
    trim=(trim "$2")
  fi
  out=$(timeout 30 sox "$file" -n "${trim[@]}" stat 2>&1) || true
  rms=$(awk '/^RMS +amplitude:/ { print $3; exit }' <<<"$out")
  [[ -n $rms ]] || fail "rms_of: sox gave no RMS for $file ${trim[*]}: $out"
  echo "$rms"
}

# _e2e_ere_quote TEXT: print TEXT with extended-regex metacharacters escaped.
_e2e_ere_quote() {
  sed 's/[][\.*^$+?(){}|/]/\\&/g' <<<"$1"
}

# wait_for_window NAME TIMEOUT_S: print the id of a visible window named exactly NAME; fail after TIMEOUT_S.
wait_for_window() {
  local name=$1 limit=$2 pattern deadline id
  [[ -n ${DISPLAY:-} ]] || fail "wait_for_window: no DISPLAY (call start_xvfb)"
  pattern="^$(_e2e_ere_quote "$name")\$"
  deadline=$(_e2e_deadline "$limit")
  while :; do
    # xdotool matches names case-insensitively, so confirm each hit.
    for id in $(timeout 5 xdotool search --onlyvisible --name "$pattern" 2>/dev/null || true); do
      if [[ $(timeout 5 xdotool getwindowname "$id" 2>/dev/null) == "$name" ]]; then
        echo "$id"
        return 0
      fi
    done
    _e2e_before "$deadline" || fail "no visible window named '$name' within ${limit} s"
    sleep 0.1
  done
}

# client_origin WID: print "X Y", the screen position of the window's client area (inside its border).
client_origin() {
  local info x y bw
  info=$(timeout 5 xwininfo -id "$1" 2>&1) || fail "client_origin: xwininfo failed for $1: $info"
  x=$(awk -F: '/Absolute upper-left X/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
  y=$(awk -F: '/Absolute upper-left Y/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
  bw=$(awk -F: '/Border width/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
  [[ $x =~ ^-?[0-9]+$ && $y =~ ^-?[0-9]+$ && $bw =~ ^[0-9]+$ ]] ||
    fail "client_origin: cannot read the position of $1"
  # xwininfo gives the outer corner of the border; the client area starts
  # one border width further in (0 for the game's own windows without a
  # window manager, 1 for plain Xt windows).
  echo "$((x + bw)) $((y + bw))"
}

# screenshot FILE: save the whole screen as an image.
screenshot() {
  [[ -n ${DISPLAY:-} ]] || fail "screenshot: no DISPLAY (call start_xvfb)"
  timeout 20 /usr/bin/import -window root "$1" || fail "screenshot: import failed"
}

# pixel_at FILE X Y: print the colour of one pixel as "R G B" (0..255).
pixel_at() {
  local file=$1 x=$2 y=$3 out
  [[ $x =~ ^[0-9]+$ && $y =~ ^[0-9]+$ ]] || fail "pixel_at: bad position '$x' '$y'"
  out=$(timeout 20 /usr/bin/convert "$file" -format \
    "%[fx:int(255*p{$x,$y}.r+0.5)] %[fx:int(255*p{$x,$y}.g+0.5)] %[fx:int(255*p{$x,$y}.b+0.5)]" \
    info: 2>&1) || fail "pixel_at: convert failed: $out"
  [[ $out =~ ^[0-9]+\ [0-9]+\ [0-9]+$ ]] || fail "pixel_at: unexpected output: $out"
  echo "$out"
}

# start_app CMD...: start the program under test in the background (output in APP_OUT/APP_ERR), pid in APP_PID.
start_app() {
  [[ -n $E2E_DIR ]] || fail "start_app: call e2e_init first"
  if [[ -n $APP_PID ]] && app_running; then fail "start_app: the app is already running"; fi
  E2E_APP_RUNS=$((E2E_APP_RUNS + 1))
  APP_OUT=$E2E_DIR/app-$E2E_APP_RUNS.out
  APP_ERR=$E2E_DIR/app-$E2E_APP_RUNS.err
  APP_STATUS=
  "${_E2E_SPAWN[@]}" "$@" </dev/null >"$APP_OUT" 2>"$APP_ERR" &
  APP_PID=$!
}

# app_running: true while the app started by start_app is alive.
app_running() {
  _e2e_ours "$APP_PID"
}

# wait_app_exit TIMEOUT_S: wait up to TIMEOUT_S for the app to exit and set APP_STATUS; false on timeout.
wait_app_exit() {
  local deadline
  [[ -n $APP_PID ]] || fail "wait_app_exit: no app was started"
  deadline=$(_e2e_deadline "$1")
  while app_running; do
    _e2e_before "$deadline" || return 1
    sleep 0.05
  done
  if wait "$APP_PID" 2>/dev/null; then APP_STATUS=0; else APP_STATUS=$?; fi
  APP_PID=
}

# e2e_cleanup: stop everything started here by pid and remove E2E_DIR unless E2E_KEEP=1.
e2e_cleanup() {
  local rc=$?
  if [[ -n $APP_PID ]]; then
    _e2e_stop "$APP_PID"
    APP_PID=
  fi
  if ((rc != 0)) && [[ -n $APP_ERR && -s $APP_ERR ]]; then
    echo "--- last lines of the app's stderr ($APP_ERR):" >&2
    tail -n 20 "$APP_ERR" >&2 || true
  fi
  stop_recording
  _e2e_stop "$E2E_PACAT_PID"
  E2E_PACAT_PID=
  _e2e_stop "$E2E_PULSE_PID"
  E2E_PULSE_PID=
  _e2e_stop "$E2E_XVFB_PID"
  E2E_XVFB_PID=
  if [[ -n $E2E_DIR && -d $E2E_DIR ]]; then
    if [[ ${E2E_KEEP:-0} == 1 ]]; then
      echo "e2e: kept $E2E_DIR" >&2
    else
      rm -rf "$E2E_DIR"
    fi
  fi
  return "$rc"
}
