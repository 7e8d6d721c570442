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
