#!/usr/bin/env bash
# Two players meet on a headless host, every process real and every action a
# real input event on an X display of the test's own.  Alice joins through
# the main window and the join dialog, Bob from the command line; both go
# through the title scene and the creation page (Bob as an elf with hair),
# Bob clicks a floor cell and says hello.  The host's list and Alice's
# client must show it: the walk relayed with Bob's goal, Alice's copy of
# Bob walking there and stopping, "Bob>hello" in her chat panel, and Bob's
# departure once he presses Escape.  Alice picks hair and a beard: each
# client draws the other as it chose, and Bob's name stands over him in
# Alice's picture.  Then fifteen bots join Alice, each dressed its way.  The clients tell what they saw through
# their journals (VAROZUVOD_JOURNAL).  Escape takes Bob back to the join
# dialog.  Screenshots of the title scene, the creation page, the game and
# the game with sixteen players are left in BUILD_DIR/tests/e2e/screenshots.
#
#   TwoPlayersTest.sh BUILD_DIR
set -euo pipefail

build=$(readlink -f -- "${1:?usage: TwoPlayersTest.sh BUILD_DIR}")
game_dir=$build/game
exe=$game_dir/varozuvod
shots=$build/tests/e2e/screenshots
scratch=$(mktemp -d)
source "$(dirname "$0")/ScriptSupport.sh"

# The logs, the journals and the whole display, for whoever reads a failure.
on_failure() {
  [ -n "${DISPLAY:-}" ] && import -window root "$shots/failure.png" 2>/dev/null &&
    echo "the whole display: $shots/failure.png" >&2
  show_logs "*.out" "*.journal"
}

require Xvfb xdpyinfo xdotool import
mkdir -p "$shots"

# ---------------------------------------------------------------- display

own_display
ok "display $DISPLAY"

click() {  # window x y: one left click at a point of the window
  xdotool mousemove --window "$1" "$2" "$3" click 1
  sleep 0.4
}

# Saves the window's 640 x 480 picture, the window standing at (x, y); the
# pointer waits below both windows meanwhile.
shoot() {  # x y file
  xdotool mousemove 960 700
  sleep 0.5
  import -window root -crop "640x480+$1+$2" +repage "$shots/$3"
}

# True once the window's picture at (x, y) is no longer black.
painted() {  # x y
  local mean
  mean=$(import -window root -crop "640x480+$1+$2" +repage -colorspace Gray -format '%[fx:mean]' info:)
  awk -v m="$mean" 'BEGIN { exit !(m > 0.02) }'
}

# The pixels of the name tags' light gold in the window's picture at (x, y):
# green and blue in the gold's proportions to red, whatever the fog took of
# its strength.
tag_pixels() {  # x y
  import -window root -crop "640x480+$1+$2" +repage png:- |
    convert png:- -fx '(r>0.25 && abs(g/r-0.9)<0.05 && abs(b/r-0.5)<0.08) ? 1 : 0' -colorspace Gray \
      -format '%[fx:round(mean*w*h)]' info:
}

in_file() { grep -qsxF -- "$2" "$1"; }
matches() { grep -qsE -- "$2" "$1"; }

# ------------------------------------------------------------------- host

cd "$game_dir"
"$exe" --serve --port 0 >"$scratch/host.out" 2>&1 &
started+=($!)
wait_for 20 matches "$scratch/host.out" '^jeu : port [0-9]+$' || fail "the host did not start"
port=$(sed -n 's/^jeu : port \([0-9]*\)$/\1/p' "$scratch/host.out")
ok "host on port $port"

# Makes a client window 640 x 480 at (x, y) and waits for its first picture.
place() {  # window x y
  xdotool windowsize "$1" 640 480 windowmove "$1" "$2" "$3"
  wait_for 30 painted "$2" "$3" || fail "window $1 shows nothing"
  sleep 0.5
}

# ----------------------------------------------- Alice: the join dialog

export VAROZUVOD_JOURNAL=$scratch/alice.journal
"$exe" debug >"$scratch/alice.out" 2>&1 &
alice=$!
started+=($alice)
main_window=$(wait_window "$alice" '^ZUL Vantor v1\.0$') || fail "no main window"
# "Je veux rejoindre une partie déjà en cours"
click "$main_window" 215 308
login=$(wait_window "$alice" '^ZUL Vantor$') || fail "no join dialog"
sleep 0.5
for field in "71 $port" "135 Alice"; do  # the port box, the name box
  read -r y text <<<"$field"
  click "$login" 280 "$y"
  xdotool key ctrl+a type --delay 30 "$text"
done
click "$login" 175 182  # "Rejoindre la partie"
wait_for 30 in_file "$scratch/alice.journal" "chat Bonjour Alice" || fail "Alice was not welcomed"
alice_window=$(wait_window "$alice" '^ZUL Vantor \[connected\]$') || fail "no window for Alice"
place "$alice_window" 0 0
ok "Alice joined through the dialog"

# --------------------------------------------- Bob: the command line

export VAROZUVOD_JOURNAL=$scratch/bob.journal
"$exe" --join "127.0.0.1:$port" --name Bob debug >"$scratch/bob.out" 2>&1 &
bob=$!
started+=($bob)
wait_for 30 in_file "$scratch/bob.journal" "chat Bonjour Bob" || fail "Bob was not welcomed"
bob_window=$(wait_window "$bob" '^ZUL Vantor \[connected\]$') || fail "no window for Bob"
place "$bob_window" 640 0
shoot 640 0 intro-title.png
wait_for 10 in_file "$scratch/alice.journal" "chat Bob rejoint la partie" || fail "Alice did not see Bob arrive"
wait_for 10 in_file "$scratch/bob.journal" "chat Alice est déjà en ligne" || fail "Bob did not see Alice"
ok "both clients know each other"

# Rows of the title menu and the creation page on a 640 x 480 window: the
# menu starts at the middle, 20 pixels a row.
click "$bob_window" 320 250  # "Nouvelle partie"
click "$bob_window" 320 250  # "Race": an elf
click "$bob_window" 320 270  # "Cheveux": the first style
shoot 640 0 intro-creation-elf.png
click "$bob_window" 320 310  # "Jouer"
click "$alice_window" 320 250  # "Nouvelle partie"
click "$alice_window" 320 270  # "Cheveux" twice: the second style
click "$alice_window" 320 270
click "$alice_window" 320 290  # "Barbe": the first
click "$alice_window" 320 310  # "Jouer"
sleep 1.5
# Race, hair, option as the wire numbers them.
wait_for 10 in_file "$scratch/alice.journal" "look Bob 1 1 1" || fail "Alice does not draw Bob as an elf with hair 1"
wait_for 10 in_file "$scratch/bob.journal" "look Alice 0 2 1" || fail "Bob does not draw Alice with hair 2 and beard 1"
ok "each draws the other's chosen look"

# ----------------------------------------------------- Bob walks, says hello

# A floor cell up and to the right of Bob, away from the edges and the panel.
click "$bob_window" 450 150
wait_for 10 matches "$scratch/bob.journal" '^goal Bob [0-9]+ [0-9]+$' || fail "Bob's click did not start a walk"
goal=$(sed -n 's/^goal Bob \([0-9]* [0-9]*\)$/\1/p' "$scratch/bob.journal" | head -n1)
ok "Bob walks to $goal"
wait_for 10 in_file "$scratch/alice.journal" "goal Bob $goal" || fail "Alice did not receive 9 with Bob's goal $goal"
wait_for 30 in_file "$scratch/alice.journal" "stop Bob $goal" || fail "Alice's copy of Bob did not stop on $goal"
wait_for 10 in_file "$scratch/bob.journal" "stop Bob $goal" || fail "Bob did not stop on his goal"
ok "Alice saw Bob walk to $goal and stop"

xdotool mousemove --window "$bob_window" 320 200
xdotool type --delay 40 hello
xdotool key Return
wait_for 10 in_file "$scratch/alice.journal" "chat Bob>hello" || fail "\"Bob>hello\" is not in Alice's panel"
wait_for 10 in_file "$scratch/bob.journal" "chat Bob> hello" || fail "Bob's own line was not acknowledged"
wait_for 10 matches "$scratch/host.out" $'^=\t127\\.0\\.0\\.1/[0-9]+\tBob\thello\t' ||
  fail "the host's list does not show Bob's line"
matches "$scratch/host.out" $'^=\t127\\.0\\.0\\.1/[0-9]+\tAlice\t' || fail "the host's list does not name Alice"
ok "the chat went through the host"

# The scene as Alice sees it: Bob where he stopped, his name over him, the
# knight before her.
shoot 0 0 game-two-players.png
with_bob=$(tag_pixels 0 0)

# ------------------------------------------------------------ Bob leaves

xdotool mousemove --window "$bob_window" 320 200 key Escape
wait_for 10 in_file "$scratch/alice.journal" "chat Bob nous quitte" || fail "Alice did not hear Bob leave"
wait_for 10 matches "$scratch/host.out" $'^-\t127\\.0\\.0\\.1/[0-9]+\tBob\t' || fail "the host kept Bob's row"
# Without a host window in his process, Bob is back at the join dialog.
wait_window "$bob" '^ZUL Vantor$' >/dev/null || fail "Bob's join dialog did not come back"
ok "Bob left and sees the join dialog again"
xdotool mousemove 960 700
sleep 1
without_bob=$(tag_pixels 0 0)
[ "$with_bob" -gt $((without_bob + 20)) ] ||
  fail "Bob's name tag does not show in Alice's picture ($with_bob gold pixels with him, $without_bob after)"
ok "Bob's tag showed in Alice's picture ($with_bob gold pixels with him, $without_bob after)"

# ---------------------------------------------------- sixteen players

# Bob's join dialog would stand over Alice's picture.
kill "$bob"

"$exe" --bots "127.0.0.1:$port" --count 15 --walk --seconds 60 >"$scratch/bots.out" 2>&1 &
started+=($!)
wait_for 30 in_file "$scratch/alice.journal" "chat bot15 rejoint la partie" || fail "the bots did not join"
wait_for 10 matches "$scratch/alice.journal" '^look bot15 ' || fail "Alice did not hear the bots' looks"
# The bots start in the rows behind Alice's camera: it turns half round.
sleep 3
xdotool mousemove --window "$alice_window" 320 200
xdotool key --repeat 36 --delay 40 Left
sleep 1
shoot 0 0 game-sixteen-players.png
crowd=$(tag_pixels 0 0)
[ "$crowd" -gt $((without_bob + 100)) ] || fail "the bots' tags do not show ($crowd gold pixels)"
ok "sixteen players with their tags ($crowd gold pixels); screenshots in $shots"
