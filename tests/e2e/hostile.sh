#!/usr/bin/env bash
# Starting the game where a player's desktop is not what it expects.
#   no-display    neither DISPLAY nor WAYLAND_DISPLAY is set
#   dead-display  DISPLAY names an X server that is not there
#   elsewhere     started by absolute path from another folder, whose own sky.wav is no sound
# With no display the game says so in exactly one line and ends at once with a non-zero status;
# started from elsewhere it still finds the tune beside itself and plays it.
set -euo pipefail
here=$(dirname "$0")
source "$here/lib.sh"
source "$here/game.sh"
game=$(realpath "$1")
case=$2

e2e_init
# The display is the point here, so Qt must not be told to use another platform.
unset QT_QPA_PLATFORM

# expect_one_line_refusal WHAT: the app started by start_app ends within a second with a non-zero
# status and exactly one line on stderr that names the display.
expect_one_line_refusal() {
  local began=$1 took lines
  wait_app_exit 1 || fail "$2: the game was still running 1 s after it started"
  took=$(awk -v b="$began" -v n="$(_e2e_now)" 'BEGIN { printf "%.2f", n - b }')
  ((APP_STATUS != 0)) || fail "$2: the game ended with status 0"
  ((APP_STATUS < 128)) || fail "$2: the game died of signal $((APP_STATUS - 128)): $(cat "$APP_ERR")"
  lines=$(wc -l <"$APP_ERR")
  ((lines == 1)) || fail "$2: $lines lines on stderr, not one: $(cat "$APP_ERR")"
  grep -q '^warukyara: .*display' "$APP_ERR" || fail "$2: the line does not name the display: $(cat "$APP_ERR")"
  [[ ! -s $APP_OUT ]] || fail "$2: the game wrote to stdout: $(cat "$APP_OUT")"
  pass "$2: status $APP_STATUS after $took s, one line: $(cat "$APP_ERR")"
}

case $case in
no-display)
  unset DISPLAY WAYLAND_DISPLAY
  began=$(_e2e_now)
  start_app "$game"
  expect_one_line_refusal "$began" "no display"
  ;;
dead-display)
  # A display number with no socket, abstract or on disk, and no lock: nothing listens there.
  n=987
  while [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] ||
    grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix; do
    n=$((n + 1))
  done
  export DISPLAY=:$n
  unset WAYLAND_DISPLAY
  began=$(_e2e_now)
  start_app "$game"
  expect_one_line_refusal "$began" "DISPLAY=:$n with no server"
  ;;
elsewhere)
  start_pulse
  start_xvfb
  mkdir "$E2E_DIR/elsewhere"
  # A sky.wav in the working folder that is not the game's: finding this one would be silent.
  printf 'not the tune\n' >"$E2E_DIR/elsewhere/sky.wav"
  cd "$E2E_DIR/elsewhere"
  play_recorded_game "$game"
  after=$(rms_of "$RECORDING" "$TUNE_AT" 1)
  louder_than "$after" 0.02 ||
    fail "no sound after はじまり when started from $PWD (RMS $after; stderr: $(cat "$APP_ERR"))"
  pass "started as $game from $PWD: the tune plays after はじまり (RMS $after); stderr: $(head -n1 "$APP_ERR")"
  ;;
*) fail "unknown case $case" ;;
esac
