#!/usr/bin/env bash
# Downloads against play: does the web server leave the players their host?
# The headless host (varozuvod --serve --web, from the run folder) carries
# the same honest bot players twice, everything on 127.0.0.0/8 and bounded
# in time:
#   quiet      the bots alone;
#   downloads  the bots, and meanwhile DOWNLOADS curl clients, each from a
#              loopback address of its own, fetching the executable again
#              and again as fast as they can read.  Each client is one curl
#              process for all its fetches, started before the bots: the
#              downloaders stand for other machines, and fifty processes
#              starting on this one would weigh on the bots' latency
#              themselves (SPAWN=1 starts a curl per fetch, once the bots
#              play, as the first version of this script did).
# Side by side it prints the bots' deliveries, chat lines lost, their
# latency median and p99, the host's CPU time and the bytes the downloads
# received, then the goal: p99 with the downloads at most twice the quiet
# run's.
#
# Usage: bench/WebLoad.sh [BUILD_DIR]      (default: build)
# Environment: BOTS (64), SECONDS_EACH (20), CHAT (60 lines a minute and
#   bot), DOWNLOADS (50), FILE (/client1, the executable), SPAWN (0),
#   DOWNLOAD_NICE
#   (0; the downloaders stand for other machines: a niceness of 19 keeps
#   their own CPU time from weighing on the host and the bots of a small
#   machine)
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
game_dir=$build/game
game=$game_dir/varozuvod
bots=${BOTS:-64}
seconds=${SECONDS_EACH:-20}
chat=${CHAT:-60}
downloads=${DOWNLOADS:-50}
download_nice=${DOWNLOAD_NICE:-0}
file=${FILE:-/client1}
# The downloads start once the bots are in and stop before the bots leave.
download_delay=3
download_seconds=$((seconds - 5))
run_limit=$((seconds + 120))

[[ -x $game ]] || { echo "missing $game (build varozuvod)" >&2; exit 1; }
command -v curl >/dev/null || { echo "curl is needed for the downloads" >&2; exit 1; }

tmp=$(mktemp -d)
host_pid=
cleanup() {
  jobs -p | xargs -r kill 2>/dev/null || true
  [[ -n $host_pid ]] && kill -TERM "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

ticks_per_second=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
field() { sed -n "s/.*[ :]$1=\([^ ]*\).*/\1/p" <<<"$2"; }

start_host() {
  local out=$tmp/$1.host
  (cd "$game_dir" && exec "$game" --serve --port 0 --web --web-port 0 --no-discovery >"$out" 2>"$out.err") &
  host_pid=$!
  port= web_port=
  for _ in $(seq 100); do
    port=$(sed -n 's/^jeu : port \([0-9]*\)$/\1/p' "$out" 2>/dev/null)
    web_port=$(sed -n 's/^web : port \([0-9]*\)$/\1/p' "$out" 2>/dev/null)
    [[ -n $port && -n $web_port ]] && return 0
    sleep 0.05
  done
  echo "the host did not start:" >&2
  cat "$out" "$out.err" >&2
  exit 1
}

# One download client: fetches until its time is up; appends the bytes of
# each fetch to its own tally.
download_loop() {
  local source=$1 until=$2 tally=$tmp/bytes.$1
  if ((${SPAWN:-0})); then
    while ((SECONDS < until)); do
      nice -n "$download_nice" curl ${CURL_OPTIONS:-} -s -o /dev/null --interface "$source" -m $((until - SECONDS + 1)) -w '%{size_download}\n' \
        "http://127.0.0.1:$web_port$file" >>"$tally" || true
    done
    return
  fi
  # One process, the same fetch many times over: more than the time allows.
  local config=$tmp/curl.$source
  for _ in $(seq 200); do printf 'url = "http://127.0.0.1:%s%s"\noutput = "/dev/null"\n' "$web_port" "$file"; done >"$config"
  # A fetch cut by its time limit still tells its bytes, on standard error,
  # which is not buffered: the fetch after it is cut by the timeout.
  timeout $((until - SECONDS + 2)) nice -n "$download_nice" curl ${CURL_OPTIONS:-} -s --interface "$source" \
    -m $((until - SECONDS)) -w '%{stderr}%{size_download}\n' --config "$config" 2>>"$tally" || true
}

# One run: prints "deliveries lost p50 p99 cpu_s downloaded_bytes".
run() {
  local mode=$1 log=$tmp/$1.bots
  start_host "$mode"
  sleep 0.5
  local before after
  before=$(cpu_ticks "$host_pid")
  local download_pids=() spawn=${SPAWN:-0}
  start_downloads() {
    local until=$1
    for n in $(seq "$downloads"); do
      download_loop "127.0.$((n / 250 + 1)).$((n % 250 + 1))" "$until" &
      download_pids+=($!)
    done
  }
  if [[ $mode == downloads ]] && ((!spawn)); then
    # Running before the bots come, until they have left.
    start_downloads $((SECONDS + download_delay + seconds + 5))
    sleep "$download_delay"
  fi
  timeout "$run_limit" "$game" --bots "127.0.0.1:$port" --count "$bots" --walk --chat "$chat" \
    --seconds "$seconds" --name "$mode" >"$log" 2>&1 &
  local bots_pid=$!
  if [[ $mode == downloads ]] && ((spawn)); then
    sleep "$download_delay"
    start_downloads $((SECONDS + download_seconds))
  fi
  wait "$bots_pid" || true
  ((${#download_pids[@]})) && { wait "${download_pids[@]}" || true; }
  after=$(cpu_ticks "$host_pid")
  kill -TERM "$host_pid"
  wait "$host_pid" 2>/dev/null || true
  host_pid=
  local summary relayed bytes
  summary=$(grep '^summary:' "$log" | tail -n 1)
  [[ -n $summary ]] || { echo "$mode: the bots printed no summary:" >&2; tail -n 20 "$log" >&2; exit 1; }
  relayed=$(sed -n 's/^relay: \([0-9]*\) deliveries.*/\1/p' "$log")
  # Nothing to add up in the quiet run.
  bytes=$(cat "$tmp"/bytes.* 2>/dev/null | awk '{ s += $1 } END { print s + 0 }') || bytes=0
  rm -f "$tmp"/bytes.*
  echo "${relayed:-?} $(field lost "$summary") $(field lat_median_us "$summary") $(field lat_p99_us "$summary")" \
       "$(awk -v t="$ticks_per_second" -v a="$after" -v b="$before" 'BEGIN { printf "%.2f", (a - b) / t }')" \
       "$bytes"
}

echo "web load: $bots bots, ${seconds} s of play, chat $chat lines/min, $downloads downloads of $file" \
  "(niceness $download_nice)"
run quiet >"$tmp/quiet.result"
run downloads >"$tmp/downloads.result"
printf '%-10s %11s %5s %8s %8s %7s %12s\n' run deliveries lost "p50 us" "p99 us" "cpu s" "downloaded"
for mode in quiet downloads; do
  read -r relayed lost p50 p99 cpu bytes <"$tmp/$mode.result"
  printf '%-10s %11s %5s %8s %8s %7s %12s\n' "$mode" "$relayed" "$lost" "$p50" "$p99" "$cpu" "$bytes"
done
read -r _ _ _ qp99 _ _ <"$tmp/quiet.result"
read -r _ dlost _ dp99 _ _ <"$tmp/downloads.result"
echo
if ((dp99 <= 2 * qp99)); then verdict=ok; else verdict=MISSED; fi
echo "goal: $verdict  p99 at most twice the quiet run's ($dp99 us against $qp99 us), lost $dlost"
