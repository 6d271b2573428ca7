#!/usr/bin/env bash
# A player's game: after "はじまり" a character rises from the bottom left; a click on it,
# found on a screenshot, shows the score 1 and the first taunt; the game goes on for 12 s.
set -euo pipefail
here=$(dirname "$0")
source "$here/lib.sh"
source "$here/game.sh"
game=$1

e2e_init
start_xvfb
launch_game "$game"
sleep 0.3
choose_menu 0
started=$(_e2e_now)

sleep 0.3
client_ppm "$E2E_DIR/rising.ppm"
read -r x y < <(/usr/bin/python3 "$here/find_character.py" "$E2E_DIR/rising.ppm") || fail "no character in view 0.3 s after はじまり"
((x < 279 && y > 232)) || fail "the first character seen is not near the bottom left ($x, $y)"
pass "a character rises at the bottom left ($x, $y)"

hit=0
for attempt in 1 2 3 4 5 6 7 8; do
  sleep 0.2
  client_ppm "$E2E_DIR/flight.ppm"
  x='' y=''
  read -r x y < <(/usr/bin/python3 "$here/find_character.py" "$E2E_DIR/flight.ppm") || true
  [[ -n ${x:-} ]] || continue
  click_client "$x" "$y"
  sleep 0.3
  client_shot "$E2E_DIR/scored.png"
  purple=$(count_colour "$E2E_DIR/scored.png" 8 24 65 41 192 0 192)
  if ((purple > 0)); then
    hit=$attempt
    break
  fi
done
((hit > 0)) || fail "no click on a character scored in 8 attempts"
pass "a click on the character at ($x, $y) scored (attempt $hit, $purple purple pixels)"

blue=$(count_colour "$E2E_DIR/scored.png" 160 16 329 49 0 0 255)
((blue > 100)) || fail "no taunt in blue after the first point ($blue blue pixels)"
pass "the first taunt is shown ($blue blue pixels)"

while awk -v s="$started" -v n="$(_e2e_now)" 'BEGIN { exit !(n - s < 12) }'; do
  app_running || fail "the game ended during play"
  sleep 0.5
done
app_running || fail "the game ended during play"
pass "still running after 12 s of play"
