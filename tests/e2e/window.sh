#!/usr/bin/env bash
# The real window: named Form1, a 558 x 464 client area under a menu bar; "はじまり" chosen by
# mouse hides the instructions; "おわり" ends the program with status 0 within a second.
set -euo pipefail
here=$(dirname "$0")
source "$here/lib.sh"
source "$here/game.sh"
game=$1

e2e_init
start_xvfb
launch_game "$game"
pass "window Form1 with a ${MENU_H}-pixel menu bar over a 558 x 464 client area"

width=$(xwininfo -id "$GAME_WID" | awk -F: '/ Width:/ { gsub(/ /, "", $2); print $2 }')
[[ $width == 558 ]] || fail "window width is $width, not 558"

icons=$(timeout 5 xprop -id "$GAME_WID" _NET_WM_ICON)
grep -q 'Icon (32 x 32)' <<<"$icons" || fail "the window carries no 32 x 32 icon"
pass "the window carries the program's icon"

sleep 0.3
client_shot "$E2E_DIR/title.png"
red=$(count_colour "$E2E_DIR/title.png" 48 112 473 65 255 0 0)
((red > 500)) || fail "the instructions are not shown ($red red pixels)"
read -r r g b < <(pixel_at "$E2E_DIR/title.png" 540 450)
[[ "$r $g $b" == "173 230 248" ]] || fail "no sky at the bottom right of the client area ($r $g $b)"
pass "title screen: instructions in red ($red pixels), sky behind"

choose_menu 0
sleep 0.5
client_shot "$E2E_DIR/started.png"
red=$(count_colour "$E2E_DIR/started.png" 48 112 473 65 255 0 0)
((red == 0)) || fail "the instructions are still shown after はじまり ($red red pixels)"
app_running || fail "the game ended after はじまり"
pass "はじまり hides the instructions"

choose_menu 1
wait_app_exit 1 || fail "the game was still running 1 s after おわり"
[[ $APP_STATUS == 0 ]] || fail "おわり ended the game with status $APP_STATUS"
pass "おわり ends the game with status 0 within a second"
