# shellcheck shell=bash
# Helpers for driving the game itself under Xvfb, on top of lib.sh: launching it, choosing
# menu entries by mouse, and reading what the window shows from screenshots.

GAME_WID=
GAME_X=    # screen position of the client area (below the menu bar)
GAME_Y=
MENU_H=    # height of the menu bar

# launch_game BINARY: start the game, wait for its window, learn where its client area is.
launch_game() {
  start_app "$1"
  GAME_WID=$(wait_for_window Form1 15)
  local x y height
  read -r x y < <(client_origin "$GAME_WID")
  height=$(timeout 5 xwininfo -id "$GAME_WID" | awk -F: '/ Height:/ { gsub(/ /, "", $2); print $2 }')
  MENU_H=$((height - 464))
  ((MENU_H > 0 && MENU_H < 60)) || fail "no menu bar above a 464-pixel client area (window height $height)"
  GAME_X=$x
  GAME_Y=$((y + MENU_H))
}

# click_client X Y: a player's click at a client-area pixel.
click_client() {
  timeout 5 xdotool mousemove "$((GAME_X + $1))" "$((GAME_Y + $2))" click 1
}

# choose_menu INDEX: open "ゲーム" by mouse and click its entry INDEX (0 はじまり, 1 おわり).
choose_menu() {
  local index=$1 popup='' deadline w top height x
  timeout 5 xdotool mousemove "$((GAME_X + 20))" "$((GAME_Y - MENU_H / 2))" click 1
  deadline=$(_e2e_deadline 5)
  while [[ -z $popup ]]; do
    for w in $(timeout 5 xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null || true); do
      [[ $w == "$GAME_WID" ]] || popup=$w
    done
    [[ -n $popup ]] && break
    _e2e_before "$deadline" || fail "the menu did not open"
    sleep 0.05
  done
  local info
  info=$(timeout 5 xwininfo -id "$popup")
  x=$(awk -F: '/Absolute upper-left X/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
  top=$(awk -F: '/Absolute upper-left Y/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
  height=$(awk -F: '/ Height:/ { gsub(/ /, "", $2); print $2 }' <<<"$info")
  # Two entries of equal height fill the popup.
  timeout 5 xdotool mousemove "$((x + 30))" "$((top + height * (2 * index + 1) / 4))" click 1
}

# client_shot FILE: a screenshot of the client area alone (558 x 464).
client_shot() {
  local full=$E2E_DIR/full.png
  screenshot "$full"
  timeout 20 /usr/bin/convert "$full" -crop "558x464+$GAME_X+$GAME_Y" +repage "$1" ||
    fail "client_shot: crop failed"
}

# client_ppm FILE: the client area as an 8-bit binary PPM, in one quick grab.
client_ppm() {
  timeout 20 /usr/bin/import -window root -crop "558x464+$GAME_X+$GAME_Y" +repage -depth 8 \
    "ppm:$1" || fail "client_ppm: import failed"
}

# count_colour FILE X Y W H R G B: how many pixels of that rectangle have about that colour.
count_colour() {
  local file=$1 x=$2 y=$3 w=$4 h=$5 colour="rgb($6,$7,$8)"
  timeout 20 /usr/bin/convert "$file" -crop "${w}x${h}+${x}+${y}" +repage -alpha off \
    -fuzz 12% -fill black +opaque "$colour" -fill white -opaque "$colour" \
    -format '%[fx:int(mean*w*h+0.5)]' info:
}

# play_recorded_game BINARY: with start_pulse done, record the sink while a player starts the
# game, waits, chooses はじまり, listens 2 s and chooses おわり, which must end it with status 0.
# Leaves the recording in RECORDING and the second at which はじまり was chosen in TUNE_AT.
RECORDING=
TUNE_AT=
play_recorded_game() {
  RECORDING=$E2E_DIR/game.wav
  start_recording "$RECORDING"
  launch_game "$1"
  sleep 1.5
  TUNE_AT=$(recording_seconds)
  choose_menu 0
  sleep 2
  app_running || fail "the game ended after はじまり"
  choose_menu 1
  wait_app_exit 3 || fail "the game did not end after おわり"
  [[ $APP_STATUS == 0 ]] || fail "おわり ended the game with status $APP_STATUS"
  stop_recording
}

# louder_than RMS LIMIT: true if the RMS amplitude exceeds the limit.
louder_than() {
  awk -v r="$1" -v l="$2" 'BEGIN { exit !(r > l) }'
}
