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
play_recorded_game "$game"

before=$(rms_of "$RECORDING" 0 "$(awk -v s="$TUNE_AT" 'BEGIN { print s - 0.1 }')")
after=$(rms_of "$RECORDING" "$TUNE_AT" 1)
echo "RMS from start-up to はじまり: $before; in the second after it: $after"
louder_than "$before" 0 && fail "sound before はじまり (RMS $before)"
louder_than "$after" 0.02 || fail "no sound after はじまり (RMS $after)"
pass "silent until はじまり (RMS $before), then the tune (RMS $after)"
