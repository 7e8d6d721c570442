#!/usr/bin/env bash
# Soak: the headless host on 127.0.0.1 with 64 bot players in waves for a
# bounded time (SOAK_SECONDS, default 480, never more than 600).  Each wave is
# two swarms of 32 that walk, chat and leave (a quarter by dropping the
# connection), the second starting STAGGER_S seconds after the first, so that
# bots join and leave while others play.  Between waves the bots are gone for
# IDLE_S seconds, long enough for the host's graceful closes to end.  The
# host's resident memory (VmRSS) and open descriptors (/proc/PID/fd) are
# sampled every SAMPLE_S seconds; the script prints them at the start, at
# their peak, after the first wave and at the end, and fails unless the
# descriptors are back at their starting count and the memory within
# RSS_SLACK_KB of where it stood after the first wave (the first wave's
# one-time growth: event dispatcher tables, allocator arenas).
#
# Usage: bench/Soak.sh [BUILD_DIR]      (default: build)
set -euo pipefail

build=${1:-build}
game=$build/game/varozuvod
budget=${SOAK_SECONDS:-480}
(( budget <= 600 )) || budget=600
wave_s=${WAVE_S:-30}
stagger_s=${STAGGER_S:-5}
idle_s=${IDLE_S:-7}
sample_s=${SAMPLE_S:-2}
slack_kb=${RSS_SLACK_KB:-1024}
chat=${CHAT:-60}
half=32

[[ -x $game ]] || { echo "missing $game (build varozuvod)" >&2; exit 1; }
tmp=$(mktemp -d)
host_pid=
sampler_pid=
cleanup() {
  [[ -n $sampler_pid ]] && kill "$sampler_pid" 2>/dev/null || true
  [[ -n $host_pid ]] && kill -TERM "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

"$game" --serve --port 0 >"$tmp/host.out" 2>&1 &
host_pid=$!
port=
for _ in $(seq 100); do
  [[ -f $tmp/host.out ]] && port=$(sed -n 's/^jeu : port \([0-9][0-9]*\)$/\1/p' "$tmp/host.out" | head -n 1)
  [[ -n $port ]] && break
  sleep 0.05
done
[[ -n $port ]] || { echo "host did not start:" >&2; cat "$tmp/host.out" >&2; exit 1; }

rss() { awk '$1 == "VmRSS:" { print $2 }' "/proc/$host_pid/status"; }
fds() { ls "/proc/$host_pid/fd" | wc -l; }
sample() { echo "$(date +%s) $(rss) $(fds)"; }

sleep 1
read -r _ rss_start fds_start <<<"$(sample)"
( while kill -0 "$host_pid" 2>/dev/null; do sample; sleep "$sample_s"; done ) >"$tmp/samples" 2>/dev/null &
sampler_pid=$!

started=$(date +%s)
wave=0
failures=0
rss_first=
# A wave takes its playing time, the stagger, joining, draining and leaving
# (a few seconds each at most) and the idle gap.
wave_cost=$((wave_s + stagger_s + idle_s + 15))
while (( $(date +%s) - started + wave_cost <= budget )); do
  wave=$((wave + 1))
  limit=$((wave_s + 60))
  timeout "$limit" "$game" --bots "127.0.0.1:$port" --count "$half" --name "w${wave}a" --walk \
    --chat "$chat" --seconds "$wave_s" --drop 25 >"$tmp/a.log" 2>&1 &
  a=$!
  sleep "$stagger_s"
  timeout "$limit" "$game" --bots "127.0.0.1:$port" --count "$half" --name "w${wave}b" --walk \
    --chat "$chat" --seconds "$wave_s" --drop 25 >"$tmp/b.log" 2>&1 &
  b=$!
  status_a=0 status_b=0
  wait "$a" || status_a=$?
  wait "$b" || status_b=$?
  for side in a b; do
    summary=$(grep '^summary:' "$tmp/$side.log" | tail -n 1 || true)
    echo "wave $wave$side: ${summary:-no summary}"
  done
  (( status_a == 0 && status_b == 0 )) || failures=$((failures + 1))
  sleep "$idle_s"
  read -r _ rss_idle fds_idle <<<"$(sample)"
  echo "wave $wave idle: rss ${rss_idle} kB, fds ${fds_idle}"
  [[ -n $rss_first ]] || rss_first=$rss_idle
done

read -r _ rss_end fds_end <<<"$(sample)"
kill "$sampler_pid" 2>/dev/null || true
wait "$sampler_pid" 2>/dev/null || true
sampler_pid=
rss_peak=$(awk 'BEGIN { m = 0 } $2 > m { m = $2 } END { print m }' "$tmp/samples")
fds_peak=$(awk 'BEGIN { m = 0 } $3 > m { m = $3 } END { print m }' "$tmp/samples")
elapsed=$(( $(date +%s) - started ))

echo
echo "soak: $wave waves of 64 bots in ${elapsed} s; samples every ${sample_s} s: $(wc -l <"$tmp/samples")"
echo "host memory (VmRSS kB): start $rss_start, after wave 1 ${rss_first:-?}, peak $rss_peak, end $rss_end"
echo "host descriptors:       start $fds_start, peak $fds_peak, end $fds_end"
verdict=ok
(( fds_end == fds_start )) || verdict=FAIL
[[ -n $rss_first ]] && (( rss_end <= rss_first + slack_kb )) || verdict=FAIL
(( failures == 0 )) || verdict=FAIL
echo "waves whose bots reported a fault: $failures; verdict: $verdict"
[[ $verdict == ok ]]
