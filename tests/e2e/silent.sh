#!/usr/bin/env bash
# The game without its sound: no sound server, no sky.wav, or a sky.wav that is no WAVE file.
# It starts, "はじまり" and "おわり" work, it ends with status 0, and says so in one line at most.
set -euo pipefail
here=$(dirname "$0")
source "$here/lib.sh"
source "$here/game.sh"
game=$1
case=$2

e2e_init
start_xvfb
mkdir -p "$E2E_DIR/bin"
cp "$game" "$E2E_DIR/bin/warukyara"
case $case in
no-server)
  cp "$(dirname "$game")/sky.wav" "$E2E_DIR/bin/sky.wav"
  printf 'autospawn = no\n' >"$E2E_DIR/client.conf"
  export PULSE_CLIENTCONFIG=$E2E_DIR/client.conf PULSE_SERVER=unix:$E2E_DIR/no-such.sock
  ;;
missing)
  start_pulse
  ;;
not-wave)
  start_pulse
  printf 'this is not a sound\n' >"$E2E_DIR/bin/sky.wav"
  ;;
empty)
  start_pulse
  : >"$E2E_DIR/bin/sky.wav"
  ;;
truncated)
  start_pulse
  head -c 100 "$(dirname "$game")/sky.wav" >"$E2E_DIR/bin/sky.wav"
  ;;
*) fail "unknown case $case" ;;
esac

began=$(_e2e_now)
launch_game "$E2E_DIR/bin/warukyara"
sleep 0.3
choose_menu 0
sleep 1
app_running || fail "the game ended after はじまり"
choose_menu 1
wait_app_exit 3 || fail "the game did not end after おわり"
took=$(awk -v b="$began" -v n="$(_e2e_now)" 'BEGIN { printf "%.1f", n - b }')
[[ $APP_STATUS == 0 ]] || fail "the game ended with status $APP_STATUS"
lines=$(grep -v -c -E '^(==|SUMMARY|$)' "$APP_ERR" || true)
((lines <= 1)) || fail "more than one line on standard error: $(cat "$APP_ERR")"
pass "$case: started, はじまり, おわり, status 0 in $took s; stderr: $(head -n1 "$APP_ERR")"
