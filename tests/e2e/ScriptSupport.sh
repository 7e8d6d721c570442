# What the end-to-end scripts share; source it after setting $scratch, the
# script's scratch folder.  Processes started in the background go into
# $started: at exit they are killed and waited for, and $scratch removed.
# A script may define on_failure, run before fail exits.

started=()

cleanup() {
  local pid
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf -- "$scratch"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if declare -F on_failure >/dev/null; then on_failure || true; fi
  exit 1
}
ok() { echo "ok: $*"; }

# Fails unless every tool named is on the PATH and the game ($exe) is built.
require() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/setup.sh"
  done
  [ -x "$exe" ] || fail "no game at $exe"
}
note() { echo "note: $*"; }

# Waits up to $1 seconds for the command that follows to succeed.
wait_for() {
  local seconds=$1 i
  shift
  for ((i = 0; i < seconds * 10; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Prints each of the scratch files named by the patterns given (e.g. "*.out")
# on standard error under its name, for whoever reads a failure.
show_logs() {
  local pattern log
  for pattern in "$@"; do
    for log in "$scratch"/$pattern; do
      [ -f "$log" ] && { echo "--- $(basename "$log")" >&2; cat "$log" >&2; }
    done
  done
  return 0
}

# Starts an X server of the script's own and exports its DISPLAY: the server
# picks a free display number itself (-displayfd), so that scripts running
# side by side never share one and no other test's window lies under our
# clicks.  It starts no window manager: until a script starts one, the
# keyboard goes to the window under the pointer.
own_display() {
  exec 3>"$scratch/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$scratch/xvfb.out" 2>&1 &
  started+=($!)
  exec 3>&-
  wait_for 10 test -s "$scratch/display" || fail "Xvfb did not start"
  export DISPLAY=:$(head -n1 "$scratch/display")
  wait_for 10 xdpyinfo >/dev/null 2>&1 || fail "display $DISPLAY does not answer"
  unset QT_QPA_PLATFORM
}

# Waits up to 30 s for process $1's visible window named like $2 and prints
# its id; fails at once if the process has ended.
wait_window() {
  local pid=$1 name=$2 id i
  for ((i = 0; i < 300; i++)); do
    id=$(xdotool search --all --onlyvisible --pid "$pid" --name "$name" 2>/dev/null | head -n1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
