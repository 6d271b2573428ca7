#!/usr/bin/env bash
# Checks tests/e2e/lib.sh on its own, without the game: a private X server
# with a real window (xmessage) that is found, photographed and clicked; a
# private sound server whose recordings must be silent when nothing plays
# and loud while the game's tune plays; and afterwards no process, lock,
# socket or temp dir may be left behind.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tune=$here/../../sound/sky.wav
# shellcheck source=tests/e2e/lib.sh
source "$here/lib.sh"

t_start=$(date +%s.%N)
elapsed() { awk -v a="$t_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }'; }
# within A OP B: numeric comparison for decimals.
within() { awk -v a="$1" -v b="$3" "BEGIN { exit !(a $2 b) }"; }

[[ -f $tune ]] || fail "missing $tune"

e2e_init
[[ -d $E2E_DIR && $HOME == "$E2E_DIR"/* ]] || fail "e2e_init did not set up a private dir and home"
pass "private dir $E2E_DIR"

# --- X -------------------------------------------------------------------
start_xvfb
[[ ${DISPLAY:-} =~ ^:[0-9]+$ ]] || fail "DISPLAY not exported: '${DISPLAY:-}'"
dims=$(timeout 5 xdpyinfo | awk '/dimensions:/ { print $2 } /depth of root window:/ { print $5 }' | tr '\n' ' ')
[[ $dims == "1024x768 24 " ]] || fail "unexpected screen: '$dims'"
display_no=${DISPLAY#:}
xvfb_pid=$E2E_XVFB_PID
pass "Xvfb on $DISPLAY, 1024x768x24 ($(elapsed) s)"

# Regex characters in the title check that names are matched literally.
title="Sky check (1+1) $$"
start_app xmessage -title "$title" -bg '#ff8000' -fg black -geometry +100+80 \
  -buttons "done:7" "hello"
wid=$(wait_for_window "$title" 10)
app_running || fail "xmessage is not running"
pass "window '$title' is $wid"

# A different case or a mere prefix is not the same name, and the wait
# must give up on time.
t0=$(date +%s.%N)
if (wait_for_window "sky check (1+1) $$" 1 >/dev/null 2>&1); then
  fail "wait_for_window matched a name that differs in case"
fi
if (wait_for_window "Sky check" 1 >/dev/null 2>&1); then
  fail "wait_for_window matched a prefix of the name"
fi
waited=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
within "$waited" '<' 6 || fail "two 1 s window waits took $waited s"
pass "wrong names not found, two 1 s waits took $waited s"

# Without a window manager the Xt shell sits where -geometry puts it,
# with a 1-pixel border, so its client area starts at 101,81.
read -r ox oy <<<"$(client_origin "$wid")"
[[ "$ox $oy" == "101 81" ]] || fail "client origin is '$ox $oy', expected '101 81'"
shot=$E2E_DIR/screen.png
screenshot "$shot"
[[ $(pixel_at "$shot" "$ox" "$oy") == "255 128 0" ]] ||
  fail "client area corner is $(pixel_at "$shot" "$ox" "$oy"), expected the orange background"
[[ $(pixel_at "$shot" $((ox - 1)) $((oy - 1))) != "255 128 0" ]] ||
  fail "the pixel just outside the client area is orange too: origin is off"
[[ $(pixel_at "$shot" 5 5) == "0 0 0" ]] || fail "root window is $(pixel_at "$shot" 5 5), expected black"
pass "client origin $ox $oy, pixels orange inside / not outside, root black"

# Click the button: xmessage exits with the button's status, 7.
button=$(xwininfo -tree -id "$wid" | awk '
  $NF ~ /^\+[0-9]+\+[0-9]+$/ && $(NF-1) ~ /^[0-9]+x[0-9]+\+/ {
    split($(NF-1), g, /[x+]/); split($NF, a, "+")
    if (a[3] > best) { best = a[3]; out = (a[2] + int(g[1] / 2)) " " (a[3] + int(g[2] / 2)) }
  }
  END { print out }')
[[ $button =~ ^[0-9]+\ [0-9]+$ ]] || fail "cannot find xmessage's button"
read -r bx by <<<"$button"
timeout 5 xdotool mousemove "$bx" "$by" click 1
wait_app_exit 5 || fail "xmessage did not exit within 5 s of the click"
[[ $APP_STATUS == 7 ]] || fail "xmessage exit status $APP_STATUS, expected 7"
! app_running || fail "app_running still true after exit"
pass "clicked 'done' at $bx,$by, exit status $APP_STATUS ($(elapsed) s)"

# --- sound ---------------------------------------------------------------
start_pulse
[[ ${PULSE_SERVER:-} == "unix:$E2E_DIR/pulse.sock" && -S $E2E_DIR/pulse.sock ]] ||
  fail "PULSE_SERVER not pointing at the private socket"
pulse_pid=$E2E_PULSE_PID
pacat_pid=$E2E_PACAT_PID
pass "pulseaudio $pulse_pid with test_sink ($(elapsed) s)"

rec=$E2E_DIR/rec.wav
start_recording "$rec"
sleep 1
p0=$(recording_seconds)
"${_E2E_SPAWN[@]}" paplay "$tune" </dev/null &
paplay_pid=$!
sleep 3
p1=$(recording_seconds)
kill -TERM "$paplay_pid" 2>/dev/null || true
wait "$paplay_pid" 2>/dev/null || true
sleep 1
p2=$(recording_seconds)
stop_recording

# parecord must have written a proper header on the way out.
samples=$(soxi -s "$rec")
size=$(stat -c %s "$rec")
((size == samples * 2 + 44)) || fail "WAV header not finalised: $samples samples in $size bytes"
[[ $(soxi -r "$rec") == 22050 && $(soxi -c "$rec") == 1 ]] || fail "recording is not mono 22050 Hz"

silence=$(rms_of "$rec" 0.1 "$(awk -v p="$p0" 'BEGIN { print p - 0.2 }')")
played=$(rms_of "$rec" "$(awk -v p="$p0" 'BEGIN { print p + 0.2 }')" "$(awk -v a="$p0" -v b="$p1" 'BEGIN { print b - a - 0.4 }')")
after=$(rms_of "$rec" "$(awk -v p="$p1" 'BEGIN { print p + 0.3 }')" "$(awk -v a="$p1" -v b="$p2" 'BEGIN { print b - a - 0.4 }')")
source_rms=$(rms_of "$tune" 0.2 2.6)
echo "recorded ${p2} s: silence rms $silence, tune rms $played (file: $source_rms), after stop rms $after"
within "$p0" '>=' 0.9 || fail "only $p0 s recorded in the first second"
within "$silence" '<' 0.001 || fail "silence recorded with rms $silence"
within "$played" '>' 0.02 || fail "the tune recorded with rms $played only"
# Same tune, same level: the stream is neither muted nor distorted on the way.
within "$played" '>' "$(awk -v s="$source_rms" 'BEGIN { print s * 0.7 }')" || fail "recorded tune much quieter than the file"
within "$played" '<' "$(awk -v s="$source_rms" 'BEGIN { print s * 1.3 }')" || fail "recorded tune much louder than the file"
within "$after" '<' 0.001 || fail "sound still recorded after paplay stopped (rms $after)"
pass "silence $silence, tune $played vs $source_rms in the file, after $after ($(elapsed) s)"

# --- cleanup -------------------------------------------------------------
dir=$E2E_DIR
e2e_cleanup
for pid in "$xvfb_pid" "$pulse_pid" "$pacat_pid"; do
  [[ ! -e /proc/$pid ]] || fail "pid $pid ($(cat "/proc/$pid/comm" 2>/dev/null)) still exists after cleanup"
done
[[ ! -e /tmp/.X$display_no-lock && ! -e /tmp/.X11-unix/X$display_no ]] ||
  fail "Xvfb left its lock or socket for display :$display_no"
[[ ! -e $dir ]] || fail "temp dir $dir left behind"
pass "Xvfb $xvfb_pid, pulseaudio $pulse_pid, pacat $pacat_pid gone, $dir removed"
echo "selftest passed in $(elapsed) s"
