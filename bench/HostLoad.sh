#!/usr/bin/env bash
# Host load benchmark.  The headless host (varozuvod --serve) and, in the same
# run, a minimal relay of the same frames on plain sockets and epoll
# (bench_EpollRelay, the ceiling on this machine) each face 8, 64 and 256 bot
# players on 127.0.0.1, every run bounded in time.  Two runs per server and
# count:
#   saturated  every bot keeps WINDOW chat lines unacknowledged and says the
#              next as soon as one is acknowledged, and walks: the relay rate
#              is what the server can carry;
#   paced      PACED_CHAT lines per minute and bot, and walks: the latency of
#              a server that is not overrun.
# Then the large rows (LARGE_COUNTS, 1,000 bots) run paced only, at
# LARGE_CHAT lines per minute and bot: the host must hold a thousand players
# at a human pace.  They take minutes; run them by hand, not in CI.
# For each it prints the deliveries of 5, 8 and 9 per second that the bots
# received, the host's rate as a share of the relay's, the latency from
# sending to receipt by another bot (median, p99), the server's CPU time and
# peak resident memory, the deliveries per second of the server's own CPU
# time (less sensitive than the rate to what else the cores run), and whether
# every departure reached every remaining bot with its flag and no chat line
# was lost.
#
# Usage: bench/HostLoad.sh [BUILD_DIR]      (default: build)
# Environment: COUNTS ("8 64 256"; "" for the large rows alone), SECONDS_EACH (12), WINDOW (4),
#              PACED_CHAT (120), DROP (25 percent leave by dropping),
#              LARGE_COUNTS ("1000"; "" for none), LARGE_CHAT (12),
#              LARGE_SECONDS (30)
set -euo pipefail

build=${1:-build}
game=$build/game/varozuvod
relay=$build/bench/bench_EpollRelay
counts=${COUNTS-8 64 256}
seconds=${SECONDS_EACH:-12}
window=${WINDOW:-4}
paced=${PACED_CHAT:-120}
drop=${DROP:-25}
large_counts=${LARGE_COUNTS-1000}
large_chat=${LARGE_CHAT:-12}
large_seconds=${LARGE_SECONDS:-30}
# A bot run ends by itself (a swarm bounds its joining and leaving by its
# size); this is only the bound if something hangs.
run_limit() { echo $(($2 + 90 + $1 / 5)); }

for program in "$game" "$relay"; do
  [[ -x $program ]] || { echo "missing $program (build varozuvod and bench_EpollRelay)" >&2; exit 1; }
done

tmp=$(mktemp -d)
server_pid=
cleanup() {
  [[ -n $server_pid ]] && kill -TERM "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

ticks_per_second=$(getconf CLK_TCK)

# utime + stime of a process, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
status_kb() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }

# Starts a server whose first lines name its port; sets server_pid and port.
start_server() {
  local kind=$1 out=$tmp/$1.out
  if [[ $kind == host ]]; then
    # The host raises its own descriptor limit (and says so when it cannot);
    # it leaves the discovery port to the games of this machine.
    "$game" --serve --port 0 --no-discovery >"$out" 2>&1 &
  else
    # The relay is plain code: give it the hard limit from here.
    (ulimit -n "$(ulimit -Hn)" && exec "$relay" --port 0 --seconds 3600) >"$out" 2>&1 &
  fi
  server_pid=$!
  port=
  for _ in $(seq 100); do
    # The file appears only once the server process has opened it.
    [[ -f $out ]] && port=$(sed -n 's/^\(jeu : \)\{0,1\}port \([0-9][0-9]*\)$/\2/p' "$out" | head -n 1)
    [[ -n $port ]] && return 0
    sleep 0.05
  done
  echo "$kind did not start:" >&2
  cat "$out" >&2
  exit 1
}

stop_server() {
  kill -TERM "$server_pid"
  wait "$server_pid" 2>/dev/null || true
  server_pid=
}

field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<"$2"; }

# One bot run against the server: prints "rate p50 p99 cpu_s lost departures wrong sound bots_cpu_s".
bot_run() {
  local count=$1 chat=$2 play=${3:-$seconds} log=$tmp/bots.log before after summary
  before=$(cpu_ticks "$server_pid")
  TIMEFORMAT='%U %S'
  { time timeout "$(run_limit "$count" "$play")" "$game" --bots "127.0.0.1:$port" --count "$count" --walk \
      --chat "$chat" --window "$window" --seconds "$play" --drop "$drop" --name "b" >"$log" 2>&1 || true; } \
      2>"$tmp/time"
  after=$(cpu_ticks "$server_pid")
  summary=$(grep '^summary:' "$log" | tail -n 1)
  [[ -n $summary ]] || { echo "bots printed no summary:" >&2; tail -n 20 "$log" >&2; exit 1; }
  echo "$(field rate "$summary") $(field lat_median_us "$summary") $(field lat_p99_us "$summary")" \
       "$(awk -v t="$ticks_per_second" -v a="$after" -v b="$before" 'BEGIN { printf "%.2f", (a - b) / t }')" \
       "$(field lost "$summary") $(field departures "$summary") $(field wrong_flags "$summary")" \
       "$(field sound "$summary") $(awk '{ printf "%.2f", $1 + $2 }' "$tmp/time")"
}

declare -A result
echo "host load: ${seconds} s per run, window $window, paced $paced lines/min, $drop% drop; $(nproc) cores"
[[ -n $large_counts ]] && echo "large rows: $large_counts bots paced only, $large_chat lines/min, ${large_seconds} s"
# What a run that was not made shows in the table.
not_run="- - - - 0 0/0 0 1 -"
for count in $counts $large_counts; do
  large=
  [[ " $large_counts " == *" $count "* && " $counts " != *" $count "* ]] && large=1
  for kind in host relay; do
    start_server "$kind"
    sleep 0.3
    rss_start=$(status_kb "$server_pid" VmRSS)
    if [[ -n $large ]]; then
      saturated=$not_run
      steady=$(bot_run "$count" "$large_chat" "$large_seconds")
    else
      saturated=$(bot_run "$count" max)
      steady=$(bot_run "$count" "$paced")
    fi
    peak=$(status_kb "$server_pid" VmHWM)
    stop_server
    result[$count,$kind]="$saturated | $steady | $rss_start $peak"
    echo "  $count bots, $kind: saturated [$saturated] paced [$steady] rss start/peak kB [$rss_start $peak]"
  done
done

echo
printf '%5s %-6s %10s %6s %9s %9s %6s %10s %9s %9s %9s %8s %8s %11s %6s\n' \
  bots server "rate/s" ratio "p50 us" "p99 us" "cpu s" "per cpu-s" "paced p50" "paced p99" "paced cpu" \
  "bots cpu" "peak kB" departures checks
for count in $counts $large_counts; do
  for kind in host relay; do
    IFS='|' read -r sat steady mem <<<"${result[$count,$kind]}"
    read -r rate p50 p99 cpu lost departures wrong sound bots_cpu <<<"$sat"
    read -r _ q50 q99 qcpu qlost qdepartures qwrong qsound qbots_cpu <<<"$steady"
    # A paced-only row shows the paced run's departures and bots' CPU.
    [[ $rate == - ]] && departures=$qdepartures bots_cpu=$qbots_cpu
    read -r _ peak <<<"$mem"
    read -r host_rate _ <<<"${result[$count,host]}"
    read -r relay_rate _ <<<"${result[$count,relay]}"
    ratio=$(awk -v h="$host_rate" -v r="$relay_rate" -v k="$kind" \
      'BEGIN { if (k == "host" && h != "-" && r > 0) printf "%.3f", h / r; else printf "-" }')
    per_cpu=$(awk -v r="$rate" -v c="$cpu" -v s="$seconds" 'BEGIN { if (c > 0) printf "%.0f", r * s / c; else printf "-" }')
    checks=ok
    [[ $lost == 0 && $qlost == 0 && $wrong == 0 && $qwrong == 0 && $sound == 1 && $qsound == 1 ]] || checks=FAIL
    [[ ${departures%/*} == "${departures#*/}" && ${qdepartures%/*} == "${qdepartures#*/}" ]] || checks=FAIL
    printf '%5s %-6s %10s %6s %9s %9s %6s %10s %9s %9s %9s %8s %8s %11s %6s\n' \
      "$count" "$kind" "$rate" "$ratio" "$p50" "$p99" "$cpu" "$per_cpu" "$q50" "$q99" "$qcpu" "$bots_cpu" \
      "$peak" "$departures" "$checks"
  done
done
