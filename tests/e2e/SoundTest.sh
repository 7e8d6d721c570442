#!/usr/bin/env bash
# The game's sound heard through OpenAL Soft's wave back end, which writes the
# mix to a file instead of a sound card (ALSOFT_CONF names a configuration
# with drivers=wave).  Real host, real clients on an X display of the test's
# own, real clicks and keys; the mix is read back by WaveCheck.py, stretches
# marked by the file's size at the moments the journals tell of.
#   Alice's title scene is heard, thunder included; her copy of Bob walking
#   on her camera's left gives steps at the running motion's half cycle
#   (330 ms), louder on the left, and silence once he stops; Bob's chat
#   line gives the blip; "t" makes the knight taunt aloud; Carol, whose
#   device cannot open, plays all the same and says so in one line, and
#   Alice hears her arrive and leave; after F9 Bob's next walk is digital silence;
#   Bob (--mute) writes digital silence all along; Escape closes Alice's
#   window and her mix stops at once.
#
#   SoundTest.sh BUILD_DIR
set -euo pipefail

build=$(readlink -f -- "${1:?usage: SoundTest.sh BUILD_DIR}")
here=$(dirname "$(readlink -f -- "$0")")
game_dir=$build/game
exe=$game_dir/varozuvod
scratch=$(mktemp -d)
source "$here/ScriptSupport.sh"
check() { python3 "$here/WaveCheck.py" "$@"; }

on_failure() {
  show_logs "*.out" "*.journal"
}

require Xvfb xdpyinfo xdotool import python3

own_display

# A configuration that mixes into $scratch/NAME.wav: 16-bit stereo, no
# dither, so that silence is exactly 0.
sound_conf() {  # name
  cat >"$scratch/$1.conf" <<CONF
[general]
drivers=wave
channels=stereo
sample-type=int16
frequency=44100
dither=false
hrtf=false
[wave]
file=$scratch/$1.wav
CONF
}
size() { stat -c %s "$scratch/$1.wav"; }
in_file() { grep -qsxF -- "$2" "$1"; }
matches() { grep -qsE -- "$2" "$1"; }

click() {  # window x y
  xdotool mousemove --window "$1" "$2" "$3" click 1
  sleep 0.4
}
painted() {  # x y
  local mean
  mean=$(import -window root -crop "640x480+$1+$2" +repage -colorspace Gray -format '%[fx:mean]' info:)
  awk -v m="$mean" 'BEGIN { exit !(m > 0.02) }'
}
place() {  # window x y
  xdotool windowsize "$1" 640 480 windowmove "$1" "$2" "$3"
  wait_for 30 painted "$2" "$3" || fail "window $1 shows nothing"
}
# Starts a player: name, extra options; its journal, output and mix are
# $scratch/NAME.*.
join() {
  local name=$1
  shift
  sound_conf "$name"
  ALSOFT_CONF=$scratch/$name.conf VAROZUVOD_JOURNAL=$scratch/$name.journal \
    "$exe" --join "127.0.0.1:$port" --name "$name" "$@" debug >"$scratch/$name.out" 2>&1 &
  started+=($!)
  wait_for 30 in_file "$scratch/$name.journal" "chat Bonjour $name" || fail "$name was not welcomed"
}
# Into the game: "Nouvelle partie", then "Jouer" on the creation page.
play() {  # window
  click "$1" 320 250
  click "$1" 320 310
}
# Bob walks to a cell under the given point of his window; prints the mix's
# sizes when Alice's journal shows the walk start and end.
walk() {  # x y
  local goal before
  before=$(grep -c '^goal Bob ' "$scratch/Bob.journal" || true)
  click "$bob_window" "$1" "$2"
  wait_for 10 test "$(grep -c '^goal Bob ' "$scratch/Bob.journal")" -gt "$before" || fail "Bob's click did not start a walk"
  goal=$(sed -n 's/^goal Bob \([0-9]* [0-9]*\)$/\1/p' "$scratch/Bob.journal" | tail -n1)
  wait_for 10 in_file "$scratch/Alice.journal" "goal Bob $goal" || fail "Alice did not see Bob set off"
  walk_start=$(size Alice)
  wait_for 30 in_file "$scratch/Alice.journal" "stop Bob $goal" || fail "Alice's copy of Bob did not stop on $goal"
  walk_end=$(size Alice)
  ok "Bob walked to $goal"
}
bytes_per_second=$((44100 * 4))

cd "$game_dir"
"$exe" --serve --port 0 >"$scratch/host.out" 2>&1 &
started+=($!)
wait_for 20 matches "$scratch/host.out" '^jeu : port [0-9]+$' || fail "the host did not start"
port=$(sed -n 's/^jeu : port \([0-9]*\)$/\1/p' "$scratch/host.out")

# ---------------------------------------------------------------- the title scene

join Alice
alice=${started[-1]}
alice_window=$(wait_window "$alice" '^ZUL Vantor \[connected\]$') || fail "no window for Alice"
place "$alice_window" 0 0
intro_start=$(size Alice)
sleep 5  # longer than the bolt's four-second cycle
intro_end=$(size Alice)
check "$scratch/Alice.wav" heard "$intro_start" "$intro_end" || fail "the title scene is silent"
check "$scratch/Alice.wav" strikes 0 "$intro_end" || fail "no thunder on the title scene"
ok "the title scene plays its fires, its tune and thunder"
play "$alice_window"

join Bob --mute
bob=${started[-1]}
bob_window=$(wait_window "$bob" '^ZUL Vantor \[connected\]$') || fail "no window for Bob"
place "$bob_window" 640 0
play "$bob_window"
sleep 1.5

# ---------------------------------------------------------------- steps

quiet_start=$(size Alice)
sleep 1
check "$scratch/Alice.wav" silent "$quiet_start" "$(size Alice)" || fail "Alice's game is not quiet while nobody moves"
# Up and to the left of Bob: on his screen and on Alice's alike, both
# cameras turned the same way.
walk 60 60
sleep 1.5
after=$(size Alice)
# The journal is read a little after the first step sounded.
walk=("$((walk_start - bytes_per_second * 3 / 10))" "$((walk_end + bytes_per_second / 4))")
check "$scratch/Alice.wav" steps "${walk[@]}" 0.33 || fail "no steps at the running motion's pace"
check "$scratch/Alice.wav" left "${walk[@]}" || fail "Bob on the left is not louder on the left"
check "$scratch/Alice.wav" silent "$((walk_end + bytes_per_second / 2))" "$after" || fail "steps go on after Bob stopped"
ok "Bob's steps came at the step period, from the left, and ended with his walk"

# ---------------------------------------------------------------- chat

xdotool windowfocus --sync "$bob_window" mousemove --window "$bob_window" 320 200
xdotool type --delay 40 hello
said=$(size Alice)
xdotool key Return
wait_for 10 in_file "$scratch/Alice.journal" "chat Bob>hello" || fail "\"Bob>hello\" is not in Alice's panel"
sleep 0.6
check "$scratch/Alice.wav" heard "$said" "$(size Alice)" || fail "no blip for Bob's line"
ok "Bob's line gave the blip"

# ---------------------------------------------------------------- the knight

xdotool windowfocus --sync "$alice_window" mousemove --window "$alice_window" 320 240
sleep 1
taunt=$(size Alice)
check "$scratch/Alice.wav" silent "$((taunt - bytes_per_second / 2))" "$taunt" || fail "Alice's game is not quiet before the taunt"
xdotool key t BackSpace  # the letter also goes into the chat input line
sleep 1
check "$scratch/Alice.wav" heard "$taunt" "$(size Alice)" || fail "the knight's taunt is silent"
ok "the knight's taunt is heard"

# ---------------------------------------------------------------- no device

# The wave back end cannot create its file where a folder stands.
sound_conf Carol
mkdir "$scratch/Carol.wav"
ALSOFT_CONF=$scratch/Carol.conf VAROZUVOD_JOURNAL=$scratch/Carol.journal \
  "$exe" --join "127.0.0.1:$port" --name Carol debug >"$scratch/Carol.out" 2>&1 &
started+=($!)
arrived=$(size Alice)
wait_for 30 in_file "$scratch/Carol.journal" "chat Bonjour Carol" || fail "Carol was not welcomed"
wait_for 10 in_file "$scratch/Alice.journal" "chat Carol rejoint la partie" || fail "Alice did not see Carol"
sleep 1
check "$scratch/Alice.wav" heard "$arrived" "$(size Alice)" || fail "no chime for Carol's arrival"
lines=$(grep -c 'son coupé' "$scratch/Carol.out" || true)
[ "$lines" -eq 1 ] || fail "Carol's missing device was said $lines times"
carol=${started[-1]}
kill -0 "$carol" || fail "Carol's game ended"
ok "Carol plays without a device, and says so once: $(grep 'son coupé' "$scratch/Carol.out"); Alice heard her arrive"
sleep 1
left=$(size Alice)
kill -TERM "$carol"
wait_for 10 matches "$scratch/Alice.journal" "^chat Carol nous quitte" || fail "Alice did not see Carol leave"
sleep 1
check "$scratch/Alice.wav" heard "$left" "$(size Alice)" || fail "no chime for Carol's departure"
ok "Alice heard Carol leave"

# ---------------------------------------------------------------- F9

# Bob's clicks gave him the keyboard; it comes back to Alice first.
xdotool windowfocus --sync "$alice_window" mousemove --window "$alice_window" 320 240 key F9
sleep 0.5
walk 600 80
check "$scratch/Alice.wav" silent "$walk_start" "$((walk_end + bytes_per_second / 4))" || fail "F9 did not silence Bob's steps"
ok "after F9 Bob's walk is digital silence"

bob_mix=$(size Bob)
[ "$bob_mix" -gt $((bytes_per_second * 3)) ] || fail "Bob's device did not run"
check "$scratch/Bob.wav" silent 0 "$bob_mix" || fail "--mute is not silent"
ok "Bob, started with --mute, wrote digital silence all along"

# ---------------------------------------------------------------- closing

xdotool windowfocus --sync "$alice_window" mousemove --window "$alice_window" 320 240 key Escape
wait_window "$alice" '^ZUL Vantor$' >/dev/null || fail "Alice's join dialog did not come back"
closed=$(size Alice)
sleep 1
[ "$(size Alice)" -eq "$closed" ] || fail "Alice's mix goes on after her window closed"
riff=$(od -An -tu4 -j4 -N4 "$scratch/Alice.wav" | tr -d ' ')
[ "$riff" -eq $((closed - 8)) ] || fail "Alice's device was not closed (RIFF size $riff of $closed bytes)"
ok "Alice's window closed and her sound stopped with it"
