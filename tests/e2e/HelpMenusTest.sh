#!/usr/bin/env bash
# The help, the menus and the camera as a player meets them, every action a
# real input event on an X display of the test's own and every check made
# on the pixels read back: the title scene's "F1 : aide" hint, the menu
# entry under the pointer turning yellow, the creation page showing the
# choices beside their entries, F1 showing and hiding the list of controls
# in the game, the arrows and a right-button drag turning the camera (Left
# and Right still moving the chat line's caret while it holds text), the
# wheel zooming a step a notch and stopping at its limit, and the chat
# lines' contrast with the panel as drawn.  Screenshots of the creation
# page, the help and the nearest camera are left in
# BUILD_DIR/tests/e2e/screenshots.
#
#   HelpMenusTest.sh BUILD_DIR
set -euo pipefail

build=$(readlink -f -- "${1:?usage: HelpMenusTest.sh BUILD_DIR}")
game_dir=$build/game
exe=$game_dir/varozuvod
shots=$build/tests/e2e/screenshots
scratch=$(mktemp -d)
here=$(dirname "$(readlink -f -- "$0")")
source "$here/ScriptSupport.sh"

on_failure() {
  [ -n "${DISPLAY:-}" ] && import -window root "$shots/help-failure.png" 2>/dev/null &&
    echo "the whole display: $shots/help-failure.png" >&2
  show_logs "*.out" "*.journal"
}

require Xvfb xdpyinfo xdotool import compare python3
mkdir -p "$shots"

own_display

# The client window stands at (0, 0), 640 x 480.
grab() {  # file: the window's picture as PPM, for the pixel checks
  import -window root -crop 640x480+0+0 +repage -depth 8 "ppm:$scratch/$1.ppm"
}
count() {  # picture x y w h kind
  python3 "$here/PixelCheck.py" count "$scratch/$1.ppm" "${@:2}"
}
# Pixels that differ by more than a tenth between two pictures' rectangles.
changed() {  # picture picture x y w h
  compare -metric AE -fuzz 10% "$scratch/$1.ppm[${5}x${6}+${3}+${4}]" "$scratch/$2.ppm[${5}x${6}+${3}+${4}]" null: 2>&1 ||
    true
}
shoot() { import -window root -crop 640x480+0+0 +repage "$shots/$1"; }
in_file() { grep -qsxF -- "$2" "$1"; }
matches() { grep -qsE -- "$2" "$1"; }
at_least() { [ "$1" -ge "$2" ]; }
at_most() { [ "$1" -le "$2" ]; }

# ------------------------------------------------------ host and player

cd "$game_dir"
"$exe" --serve --port 0 >"$scratch/host.out" 2>&1 &
started+=($!)
wait_for 20 matches "$scratch/host.out" '^jeu : port [0-9]+$' || fail "the host did not start"
port=$(sed -n 's/^jeu : port \([0-9]*\)$/\1/p' "$scratch/host.out")

export VAROZUVOD_JOURNAL=$scratch/bob.journal
"$exe" --join "127.0.0.1:$port" --name Bob --mute debug >"$scratch/bob.out" 2>&1 &
started+=($!)
bob=$!
wait_for 30 in_file "$scratch/bob.journal" "chat Bonjour Bob" || fail "Bob was not welcomed"
window=$(wait_window "$bob" '^ZUL Vantor \[connected\]$') || fail "no window for Bob"
xdotool windowsize "$window" 640 480 windowmove "$window" 0 0
sleep 1.5
ok "Bob's window on port $port"

# ------------------------------------------------------ the title scene

# The menu starts at the middle, 20 pixels a row: "Nouvelle partie" on
# 240-256, "Quitter" on 260-276.  The pointer first rests above the menu.
xdotool mousemove --window "$window" 320 150
sleep 0.5
grab title
quitter_red=$(count title 280 258 80 20 red)
quitter_yellow=$(count title 280 258 80 20 yellow)
hint=$(count title 0 450 120 30 grey)
at_least "$quitter_red" 20 || fail "\"Quitter\" is not drawn in red ($quitter_red pixels)"
at_most "$quitter_yellow" 0 || fail "\"Quitter\" is yellow with the pointer away ($quitter_yellow pixels)"
at_least "$hint" 20 || fail "no \"F1 : aide\" in grey in the bottom left corner ($hint pixels)"
xdotool mousemove --window "$window" 310 268
sleep 0.5
grab title-hover
hovered=$(count title-hover 280 258 80 20 yellow)
other=$(count title-hover 250 238 140 20 yellow)
at_least "$hovered" 20 || fail "\"Quitter\" did not turn yellow under the pointer ($hovered pixels)"
at_most "$other" 0 || fail "\"Nouvelle partie\" is yellow too ($other pixels)"
ok "the entry under the pointer turns yellow ($quitter_yellow then $hovered yellow pixels), the hint is shown ($hint grey pixels)"

# ------------------------------------------------------ the creation page

xdotool mousemove --window "$window" 320 248 click 1
sleep 0.5
xdotool mousemove --window "$window" 320 150
sleep 0.5
grab human
xdotool mousemove --window "$window" 320 248 click 1  # "Race": an elf
xdotool mousemove --window "$window" 320 268 click 1  # "Cheveux": the first style
xdotool mousemove --window "$window" 320 150
sleep 0.5
grab elf
# Right of "Race", "Cheveux" and the third entry: the choice in white.
race_changed=$(changed human elf 340 240 60 16)
hair_changed=$(changed human elf 355 260 60 16)
choices=$(count elf 335 240 80 56 white)
at_least "$choices" 30 || fail "no choice shown beside the entries ($choices white pixels)"
at_least "$race_changed" 10 || fail "the race shown did not change ($race_changed pixels)"
at_least "$hair_changed" 10 || fail "the hair shown did not change ($hair_changed pixels)"
shoot help-creation-page.png
ok "the creation page shows the choices ($choices white pixels; race $race_changed, hair $hair_changed changed)"
xdotool mousemove --window "$window" 320 308 click 1  # "Jouer"
sleep 1.5

# ------------------------------------------------------ help

# The pointer rests in the scene, away from the edges, the panel and the
# middle where the help box opens.
park() { xdotool mousemove --window "$window" 600 60; sleep 0.6; }
park
grab game
xdotool key F1
sleep 0.6
grab help
shoot help-overlay.png
xdotool key F1
sleep 0.6
grab game-again
dark_before=$(count game 200 160 240 120 dark)
dark_help=$(count help 200 160 240 120 dark)
dark_after=$(count game-again 200 160 240 120 dark)
title_help=$(count help 100 100 440 280 yellow)
at_least "$dark_help" $((240 * 120 / 2)) || fail "F1 showed no help box ($dark_help dark pixels)"
at_least "$title_help" 30 || fail "the help box has no title ($title_help yellow pixels)"
at_most "$dark_after" $((dark_before + 500)) || fail "a second F1 left the help shown ($dark_after dark pixels)"
ok "F1 shows the help ($dark_before, $dark_help, $dark_after dark pixels) and hides it"

# ------------------------------------------------------ camera

# The upper part of the scene, away from the status text and the panel.
scene="20 40 560 200"
grab still-a
sleep 1
grab still-b
still=$(changed still-a still-b $scene)
for _ in 1 2 3 4 5; do xdotool key Left; sleep 0.05; done
sleep 0.5
grab turned
turned=$(changed still-b turned $scene)
[ "$turned" -gt $((still + 20000)) ] || fail "Left did not turn the camera ($still still, $turned after)"
for _ in 1 2 3 4 5; do xdotool key Down; sleep 0.05; done
sleep 0.5
grab tilted
tilted=$(changed turned tilted $scene)
[ "$tilted" -gt $((still + 20000)) ] || fail "Down did not tilt the camera ($tilted)"
ok "the arrows turn the camera ($still pixels change at rest, $turned after Left, $tilted after Down)"

# With text in the chat line, Left moves its caret: "xy", Left, BackSpace
# leaves "y".
xdotool type --delay 40 xy
sleep 0.4
grab typed
xdotool key Left
sleep 0.5
grab caret
caret=$(changed typed caret $scene)
xdotool key BackSpace Return
wait_for 10 in_file "$scratch/bob.journal" "chat Bob> y" || fail "Left did not move the chat line's caret"
[ "$caret" -lt $((still + 20000)) ] || fail "Left turned the camera while the chat line held text ($caret)"
ok "Left moves the caret while the chat line holds text ($caret pixels changed)"

grab before-drag
xdotool mousemove --window "$window" 300 150 mousedown 3
for x in 320 340 360 380 400 420; do xdotool mousemove --window "$window" "$x" 150; sleep 0.05; done
xdotool mouseup 3
park
grab dragged
dragged=$(changed before-drag dragged $scene)
[ "$dragged" -gt $((still + 20000)) ] || fail "a right-button drag did not turn the camera ($dragged)"
sleep 0.5
matches "$scratch/bob.journal" '^goal Bob ' && fail "the drag walked Bob"
ok "a right-button drag turns the camera ($dragged pixels changed) and walks nobody"

# The wheel: three notches away from the player, then eighty towards it;
# the last twenty of those change nothing, the limit being reached.
grab before-wheel
xdotool click --repeat 3 --delay 30 5
park
grab wheel-out
out=$(changed before-wheel wheel-out $scene)
[ "$out" -gt $((still + 20000)) ] || fail "three notches did not move the camera ($out)"
xdotool click --repeat 60 --delay 20 4
park
grab nearest
xdotool click --repeat 20 --delay 20 4
park
grab nearest-again
beyond=$(changed nearest nearest-again 0 0 640 300)
shoot help-nearest-camera.png
[ "$beyond" -lt 20000 ] || fail "the camera went on past its nearest point ($beyond)"
ok "three notches move the camera ($out pixels), and it stops at its nearest ($beyond after twenty more)"

# ------------------------------------------------------ chat colours

export VAROZUVOD_JOURNAL=$scratch/alice.journal
"$exe" --join "127.0.0.1:$port" --name Alice --mute debug >"$scratch/alice.out" 2>&1 &
alice=$!
started+=($alice)
wait_for 30 in_file "$scratch/bob.journal" "chat Alice rejoint la partie" || fail "Bob did not see Alice arrive"
kill "$alice"
wait_for 10 matches "$scratch/bob.journal" "^chat Alice nous quitte" || fail "Bob did not see Alice leave"
# Bob's window may lie under Alice's for a moment.
xdotool windowraise "$window" 2>/dev/null || true
park
sleep 0.5
grab colours
shoot help-chat-colours.png
# The panel: 144 pixels high above the 22 of the input line; its lines
# start at the left, its right half holds no text.
ratio=$(python3 "$here/PixelCheck.py" contrast "$scratch/colours.ppm" 4 316 300 140 400 316 200 140 \
  ffffff 00ff00 99ccff) || fail "a chat line's colour is not in the panel: $ratio"
awk -v r="$ratio" 'BEGIN { exit !(r >= 4.5) }' || fail "a chat line stands at $ratio to 1 against the panel"
ok "the greeting, chat, arrival and departure lines stand at $ratio to 1 or more against the panel; screenshots in $shots"
