#!/usr/bin/env bash
# A run-time error in a real window: a build of the game whose Timer1 raises one some seconds
# after "はじまり". Exactly one report appears, nothing moves while it is open, and once the
# player dismisses it the program ends with a non-zero status, without a second report.
set -euo pipefail
here=$(dirname "$0")
source "$here/lib.sh"
source "$here/game.sh"
game=$1

e2e_init
start_xvfb

# report_windows: the ids of the visible windows titled exactly "warukyara".
report_windows() {
  local id
  for id in $(timeout 5 xdotool search --onlyvisible --name '^warukyara$' 2>/dev/null || true); do
    [[ $(timeout 5 xdotool getwindowname "$id" 2>/dev/null) == warukyara ]] && echo "$id"
  done
  return 0
}

launch_game "$game"
sleep 0.3
choose_menu 0
began=$(_e2e_now)

# The comparison below must be able to see flight at all: before the fault, two shots differ.
sleep 1
client_ppm "$E2E_DIR/flying-1.ppm"
sleep 0.3
client_ppm "$E2E_DIR/flying-2.ppm"
[[ -z $(report_windows) ]] || fail "a report appeared before the fault was due"
! cmp -s "$E2E_DIR/flying-1.ppm" "$E2E_DIR/flying-2.ppm" || fail "nothing moved before the fault"
pass "characters fly before the fault"

deadline=$(_e2e_deadline 20)
while [[ -z $(report_windows) ]]; do
  app_running || fail "the game ended without a report (status: $(wait_app_exit 1; echo "$APP_STATUS"))"
  _e2e_before "$deadline" || fail "no report within 20 s of はじまり"
  sleep 0.05
done
mapfile -t reports < <(report_windows)
((${#reports[@]} == 1)) || fail "${#reports[@]} reports are open, not one"
box=${reports[0]}
pass "one report, $(awk -v b="$began" -v n="$(_e2e_now)" 'BEGIN { printf "%.1f", n - b }') s after はじまり"

# Without a window manager the report stays where it is put: off the client area, so the
# whole window can be watched.
timeout 5 xdotool windowmove "$box" 620 560
read -r bx by < <(client_origin "$box")
((bx >= 600 && by >= 540)) || fail "the report could not be moved off the window (now at $bx, $by)"
sleep 0.3
client_ppm "$E2E_DIR/stopped-1.ppm"
sleep 1
client_ppm "$E2E_DIR/stopped-2.ppm"
read -r cx cy < <(/usr/bin/python3 "$here/find_character.py" "$E2E_DIR/stopped-1.ppm") ||
  fail "no character in view while the report is open, so stillness would prove nothing"
cmp -s "$E2E_DIR/stopped-1.ppm" "$E2E_DIR/stopped-2.ppm" ||
  fail "the window changed during a second with the report open"
mapfile -t reports < <(report_windows)
((${#reports[@]} == 1)) || fail "${#reports[@]} reports are open a second later, not one"
app_running || fail "the game ended with its report still open"
pass "nothing moves for a second while the report is open (a character stands at $cx, $cy)"

timeout 5 xdotool windowfocus --sync "$box"
timeout 5 xdotool key --clearmodifiers Return
if ! wait_app_exit 5; then
  mapfile -t reports < <(report_windows)
  fail "the game was still running 5 s after the report was dismissed (${#reports[@]} reports open)"
fi
((APP_STATUS != 0)) || fail "the game ended with status 0 after a run-time error"
((APP_STATUS < 128)) || fail "the game died of signal $((APP_STATUS - 128))"
lines=$(grep -c -i 'run-time error' "$APP_ERR" || true)
((lines == 1)) || fail "$lines run-time error lines on stderr, not one: $(cat "$APP_ERR")"
pass "dismissed: status $APP_STATUS, one line on stderr: $(grep -i 'run-time error' "$APP_ERR")"
