#!/usr/bin/env bash
# A game hosted from the windows, as a host meets it on an X display of the
# test's own with a window manager, every action a real input event: the
# main window's first button, the host-a-game dialog with a port and a
# password, three bots that join with the password, then the host window's
# "Local" button, which opens the game client of the same process as
# --join opens it: maximized by the window manager over the whole screen,
# without a frame, connected.  The host window's picture (caption and
# list) is left in BUILD_DIR/tests/e2e/screenshots as host-window.png, the
# local player's, halved, as host-local-client.png.
#
#   HostWindowTest.sh BUILD_DIR
set -euo pipefail

build=$(readlink -f -- "${1:?usage: HostWindowTest.sh BUILD_DIR}")
game_dir=$build/game
exe=$game_dir/varozuvod
shots=$build/tests/e2e/screenshots
scratch=$(mktemp -d)
source "$(dirname "$0")/ScriptSupport.sh"

on_failure() {
  [ -n "${DISPLAY:-}" ] && import -window root "$shots/host-failure.png" 2>/dev/null &&
    echo "the whole display: $shots/host-failure.png" >&2
  [ -n "${host:-}" ] && for w in $(xdotool search --pid "$host" 2>/dev/null); do
    echo "window $w \"$(xdotool getwindowname "$w")\" $(xwininfo -id "$w" | grep -E 'Map State')" >&2
  done
  show_logs "*.out"
}

require Xvfb openbox xdpyinfo xdotool xprop import
mkdir -p "$shots"

# ---------------------------------------------------------------- display

own_display
# A window manager runs on it, as on a desktop: it maximizes a window that
# asks for it and frames the windows that want a frame.  Its start-up
# command runs once it manages the screen: a window mapped earlier could be
# left unmapped.
openbox --startup "touch $scratch/window-manager" >"$scratch/openbox.out" 2>&1 &
started+=($!)
wait_for 10 test -e "$scratch/window-manager" || fail "no window manager"
screen=$(xdpyinfo | sed -n 's/^ *dimensions: *\([0-9]*x[0-9]*\) pixels.*/\1/p')
ok "display $DISPLAY ($screen) with a window manager"

click() {  # window x y: one left click at a point of the window
  xdotool mousemove --window "$1" "$2" "$3" click 1
  sleep 0.4
}

matches() { grep -qsE -- "$2" "$1"; }

# ------------------------------------------------------------ the host

cd "$game_dir"
"$exe" >"$scratch/host.out" 2>&1 &
host=$!
started+=($host)
main_window=$(wait_window "$host" '^ZUL Vantor v1\.0$') || fail "no main window"
sleep 0.5
click "$main_window" 215 274  # "Je suis le premier joueur et je démarre une partie"
setup=$(wait_window "$host" '^Configuration du Serveur$') || fail "no host-a-game dialog"
sleep 0.5
for field in "65 0" "93 sesame"; do  # the port box (0: a free port), the password box
  read -r y text <<<"$field"
  click "$setup" 338 "$y"
  xdotool key ctrl+a type --delay 30 "$text"
done
click "$setup" 194 178  # "Démarrer la partie !"
server=$(wait_window "$host" '^Serveur ZUL Vantor - ') || fail "no host window"
caption=$(xdotool getwindowname "$server")
port=$(sed -n 's/^Serveur ZUL Vantor - .* ([^:]*:\([0-9]*\).*$/\1/p' <<<"$caption")
[ -n "$port" ] || fail "the caption gives no port: $caption"
ok "host window: $caption"

"$exe" --bots "127.0.0.1:$port" --count 3 --password sesame --name joueur --walk --seconds 90 \
  >"$scratch/bots.out" 2>&1 &
started+=($!)

# ----------------------------------------------------------- Local

xdotool windowactivate --sync "$server" 2>/dev/null || true
click "$server" 81 22  # "Local", second button of the tool bar
client=$(wait_window "$host" '^ZUL Vantor \[connected\]$') || fail "Local opened no playing client window"
state=$(xprop -id "$client" _NET_WM_STATE)
[[ $state == *_NET_WM_STATE_MAXIMIZED_VERT* && $state == *_NET_WM_STATE_MAXIMIZED_HORZ* ]] ||
  fail "the client window is not maximized: $state"
# The window manager has acted on it: the window covers the screen.
covers() { [[ $(xdotool getwindowgeometry "$client") == *"Geometry: $screen"* ]]; }
wait_for 10 covers || fail "the client window does not cover the screen: $(xdotool getwindowgeometry "$client")"
ok "Local's client window is maximized ($screen): $state"
sleep 2
xdotool mousemove 1200 1000
sleep 0.5
import -window "$client" -resize 50% "$shots/host-local-client.png"
ok "the local player's window saved as host-local-client.png"

# The host window over it, with its caption (the address to give) and the
# bots and the local player in its list.
xdotool windowactivate --sync "$server" 2>/dev/null || xdotool windowraise "$server"
sleep 1
import -frame -window "$server" "$shots/host-window.png"
ok "host window with its players saved as host-window.png"
