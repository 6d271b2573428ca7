#!/usr/bin/env bash
# The tune through a real sound server: silence from start-up until "はじまり", sound within a
# second after it, and the game plays on.
set -euo pipefail
here=$(dirname "$0")
source "$here/lib.sh"
source "$here/game.sh"
game=$1

e2e_init
start_pulse
start_xvfb
start_recording "$E2E_DIR/game.wav"
launch_game "$game"
sleep 1.5
started=$(recording_seconds)
choose_menu 0
sleep 2
app_running || fail "the game ended after はじまり"
choose_menu 1
wait_app_exit 3 || fail "the game did not end after おわり"
[[ $APP_STATUS == 0 ]] || fail "おわり ended the game with status $APP_STATUS"
stop_recording

before=$(rms_of "$E2E_DIR/game.wav" 0 "$(awk -v s="$started" 'BEGIN { print s - 0.1 }')")
after=$(rms_of "$E2E_DIR/game.wav" "$started" 1)
echo "RMS from start-up to はじまり: $before; in the second after it: $after"
awk -v r="$before" 'BEGIN { exit !(r == 0) }' || fail "sound before はじまり (RMS $before)"
awk -v r="$after" 'BEGIN { exit !(r > 0.02) }' || fail "no sound after はじまり (RMS $after)"
pass "silent until はじまり (RMS $before), then the tune (RMS $after)"
