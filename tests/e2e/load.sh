#!/usr/bin/env bash
# The game under load in a real window: while the characters fly, a thousand clicks in bursts as
# fast as xdotool sends them, single clicks on characters, and the window enlarged and moved.
# The game keeps running and its score is exactly the number of clicks that reached a character.
#
# How the test knows that number: the bursts go to sky that no character ever crosses (they all
# rise from the bottom-left corner towards the top right, so the part of the window above that
# diagonal stays empty), checked on a screenshot before each burst, and the score must not move
# across a burst. Every single click aimed at a character is followed by a reading of the score,
# which must have risen by one (a hit) or not at all (the character had moved on). The count of
# those hits is what the score must read at the end.
set -euo pipefail
here=$(dirname "$0")
source "$here/lib.sh"
source "$here/game.sh"
game=$1

readonly BURST=250 ROUNDS=4
# Burst targets in the empty sky above the flight path, clear of the score box, and the point
# inside the score box where the test clicks to read it.
readonly SKY_X=(40 110 30 220) SKY_Y=(200 150 320 130)
readonly SCORE_X=40 SCORE_Y=44

e2e_init
start_xvfb
printf 'unread' >"$E2E_DIR/sentinel"

# read_score: print the score box's exact text, copied to the clipboard as a player would.
# The clipboard first holds a sentinel, so an old copy is never mistaken for the new one.
read_score() {
  local clip text='' deadline
  "${_E2E_SPAWN[@]}" xclip -selection clipboard -i -quiet "$E2E_DIR/sentinel" \
    </dev/null >/dev/null 2>&1 &
  clip=$!
  deadline=$(_e2e_deadline 5)
  until [[ $(timeout 2 xclip -o -selection clipboard 2>/dev/null || true) == unread ]]; do
    _e2e_before "$deadline" || fail "read_score: the sentinel did not reach the clipboard"
    sleep 0.02
  done
  click_client "$SCORE_X" "$SCORE_Y"
  timeout 5 xdotool key --clearmodifiers ctrl+a ctrl+c
  while :; do
    text=$(timeout 2 xclip -o -selection clipboard 2>/dev/null || true)
    [[ $text == unread ]] || break
    _e2e_before "$deadline" || fail "read_score: the score was not copied within 5 s"
    sleep 0.02
  done
  _e2e_stop "$clip"
  echo "$text"
}

# expect_score N WHAT: the score reads exactly N.
expect_score() {
  local score
  score=$(read_score)
  [[ $score == "$1" ]] || fail "$2: the score reads '$score', not '$1'"
}

# sky_is_empty SHOT X Y: the 24 x 24 pixels around (X, Y) are all sky or cloud.
sky_is_empty() {
  local sky white
  sky=$(count_colour "$1" "$(($2 - 12))" "$(($3 - 12))" 24 24 173 230 248)
  white=$(count_colour "$1" "$(($2 - 12))" "$(($3 - 12))" 24 24 255 255 255)
  ((sky + white == 24 * 24))
}

launch_game "$game"
sleep 0.3
# The box starts empty, and an empty text cannot be copied: a 0 typed in gives the first
# reading, and the first point then makes it 1.
click_client "$SCORE_X" "$SCORE_Y"
timeout 5 xdotool type 0
expect_score 0 "before the start"
choose_menu 0
started=$(_e2e_now)

clicks=0 hits=0 attempts=0 resized='' moved=''
for ((round = 0; round < ROUNDS; round++)); do
  # A burst at the sky, shown empty on a screenshot just before.
  client_ppm "$E2E_DIR/burst-$round.ppm"
  sky_is_empty "$E2E_DIR/burst-$round.ppm" "${SKY_X[round]}" "${SKY_Y[round]}" ||
    fail "round $round: something lies at the burst target (${SKY_X[round]}, ${SKY_Y[round]})"
  timeout 20 xdotool mousemove "$((GAME_X + SKY_X[round]))" "$((GAME_Y + SKY_Y[round]))" \
    click --repeat "$BURST" --delay 0 1
  clicks=$((clicks + BURST))
  expect_score "$hits" "after a burst of $BURST clicks at the sky in round $round"

  # Single clicks at whatever character the screenshot shows.
  for ((shot = 0; shot < 2; shot++)); do
    client_ppm "$E2E_DIR/aim.ppm"
    x='' y=''
    read -r x y < <(/usr/bin/python3 "$here/find_character.py" "$E2E_DIR/aim.ppm") || true
    [[ -n $x ]] || continue
    click_client "$x" "$y"
    attempts=$((attempts + 1))
    score=$(read_score)
    if [[ $score == $((hits + 1)) ]]; then
      hits=$((hits + 1))
    elif [[ $score != "$hits" ]]; then
      fail "one click at ($x, $y) took the score from $hits to '$score'"
    fi
  done

  # In flight, the window grows, then moves; with no window manager under Xvfb the geometry
  # is exactly what was asked for.
  if ((round == 1)); then
    timeout 5 xdotool windowsize "$GAME_WID" 700 640
    info=$(timeout 5 xwininfo -id "$GAME_WID")
    w=$(awk -F: '/ Width:/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
    h=$(awk -F: '/ Height:/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
    [[ "$w $h" == "700 640" ]] || fail "the window is $w x $h after resizing it to 700 x 640"
    resized="$w x $h"
  elif ((round == 2)); then
    timeout 5 xdotool windowmove "$GAME_WID" 150 90
    read -r x y < <(client_origin "$GAME_WID")
    [[ "$x $y" == "150 90" ]] || fail "the window is at ($x, $y) after moving it to (150, 90)"
    GAME_X=$x
    GAME_Y=$((y + MENU_H))
    moved="($x, $y)"
  fi
  app_running || fail "the game ended in round $round"
done
flight=$(awk -v b="$started" -v n="$(_e2e_now)" 'BEGIN { printf "%.1f", n - b }')

((hits > 0)) || fail "none of $attempts clicks aimed at a character hit one"
expect_score "$hits" "at the end"
app_running || fail "the game ended"
pass "$clicks clicks in bursts at the sky and $attempts aimed at characters ($hits hits) in $flight s; the window resized to $resized and moved to $moved; the score reads exactly $hits"

choose_menu 1
wait_app_exit 3 || fail "the game did not end after おわり"
[[ $APP_STATUS == 0 ]] || fail "おわり ended the game with status $APP_STATUS"
pass "おわり ends the game with status 0"
