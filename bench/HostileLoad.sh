#!/usr/bin/env bash
# Hostile-peer run: does a host on a public address hold against strangers?
# The headless host (varozuvod --serve, with the web server, from the run
# folder, with its descriptor limit lowered by prlimit) carries the same
# honest bot players twice, everything on 127.0.0.0/8 and bounded in time:
#   quiet    the bots alone;
#   hostile  the bots, and meanwhile bench/HostilePeers.py: players that
#            never read, a chat flooder, connections up to the descriptor
#            limit, garbage, oversized and cut-short frames that then stall,
#            web clients that reset, half-close and stall mid-download,
#            password guessers (pipelined and one guess per connection),
#            phantom joiners (a player logging in again and again, idle
#            connections that never log in), relay flooders (many small
#            walks, 60 KB and malformed walks and positions), unfinished
#            request lines, and discovery queries from 2,000 loopback
#            addresses while the game's own finder looks for the game.
#   busy     the bots while a CPU-bound loop as busy as the peers (one
#            Python thread) runs beside them, talking to nobody: on a
#            machine of few cores the peers slow the bots down by taking
#            the processor alone, and this run tells that part apart.
# The peers and the busy loop run idle-scheduled (chrt --idle): an
# attacker's load is on other machines, not on the host's processor.  Nice
# 19 is not enough on a kernel that schedules by deadlines (EEVDF) and
# does not preempt in the kernel: a waking host or bot still waited a slice
# behind a busy peer.
# The host has a password (PASSWORD); the bots and the peers' honest
# players give it.
# Side by side it prints the bots' deliveries (relayed 5, 8 and 9; chat lines
# said and lost; departures heard), their latency median and p99, the host's
# CPU time and peak memory, and its descriptors at start, at their peak and
# at the end (once the peers are gone and the lingering closes are over),
# then the goals: nothing lost, p99 at most twice the quiet run's, peak
# memory at most 64 MB above the quiet peak, descriptors back at the start.
# Then what each group of peers counted (guesses answered, phantom players
# an honest witness was told of, relayed moves, bytes the discovery flood
# got back...) and the checks on those counts.
#
# Usage: bench/HostileLoad.sh [BUILD_DIR]      (default: build)
# Environment: BOTS (64), SECONDS_EACH (20), CHAT (60 lines a minute and
#   bot), FD_LIMIT (512), HOST_OPTIONS (the limits the host runs with),
#   PASSWORD (the host's), PEERS_SKIP (peers left out, e.g. "discovery,finder";
#   see bench/HostilePeers.py --help)
set -Eeuo pipefail
# A step that fails (a host that died, so that /proc has nothing of it)
# ends the run; say where rather than end without a word.
trap 'echo "HostileLoad.sh: stopped at line $LINENO: $BASH_COMMAND" >&2' ERR

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
game_dir=$build/game
game=$game_dir/varozuvod
peers=$root/bench/HostilePeers.py
bots=${BOTS:-64}
seconds=${SECONDS_EACH:-20}
chat=${CHAT:-60}
fd_limit=${FD_LIMIT:-512}
# The bots all come from 127.0.0.1, so the per-address limit must take them;
# the hostile peers speak from other loopback addresses.
host_options=${HOST_OPTIONS:---max-players 1000 --max-per-address 80 --chat-limit 20}
password=${PASSWORD:-sesame-ouvre-toi}
# The peers start once the bots are in and stop before the bots leave.
peer_delay=3
peer_seconds=$((seconds - 2))
run_limit=$((seconds + 120))

[[ -x $game ]] || { echo "missing $game (build varozuvod)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "python3 is needed for the hostile peers" >&2; exit 1; }
command -v prlimit >/dev/null || { echo "prlimit (util-linux) is needed" >&2; exit 1; }
command -v chrt >/dev/null || { echo "chrt (util-linux) is needed" >&2; exit 1; }

tmp=$(mktemp -d)
host_pid=
sampler_pid=
cleanup() {
  [[ -n $sampler_pid ]] && kill "$sampler_pid" 2>/dev/null || true
  [[ -n $host_pid ]] && kill -TERM "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

ticks_per_second=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
status_kb() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }
# Counted by the shell's own glob: the sampler below runs ten times a
# second beside the bots, and an ls and a wc each time were load of their
# own, heavier the more descriptors the host held (the hostile run's).
count_fds() {  # pid: sets fd_count
  local entries=("/proc/$1/fd/"*)
  fd_count=${#entries[@]}
  [[ ${entries[0]} == "/proc/$1/fd/*" ]] && fd_count=0
  return 0
}
fds() { count_fds "$1" && echo "$fd_count"; }
field() { sed -n "s/.*[ :]$1=\([^ ]*\).*/\1/p" <<<"$2"; }

# A free UDP port of the loopback for the games search (a host of the
# machine may hold the usual one).
free_udp_port() {
  python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Starts the host; sets host_pid, port, web_port and discovery_port.
start_host() {
  local out=$tmp/$1.host
  discovery_port=$(free_udp_port)
  # shellcheck disable=SC2086
  (cd "$game_dir" && exec prlimit --nofile="$fd_limit:$fd_limit" "$game" --serve --port 0 --web --web-port 0 \
    --password "$password" --discovery-port "$discovery_port" $host_options >"$out" 2>"$out.err") &
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

# Descriptors of the host every 100 ms, the highest kept in $1.
start_sampler() {
  local file=$1
  (peak=0
   while kill -0 "$host_pid" 2>/dev/null; do
     count_fds "$host_pid"
     ((fd_count > peak)) && peak=$fd_count && echo "$peak" >"$file"
     sleep 0.1
   done) &
  sampler_pid=$!
}

# One run: prints "deliveries said acked lost gaps departures sound p50 p99
# cpu_s peak_kB fd_start fd_peak fd_end" and leaves the peers' line in
# $tmp/$1.peers.
run() {
  local mode=$1 log=$tmp/$1.bots
  start_host "$mode"
  sleep 0.5
  local fd_start before rss_start
  fd_start=$(fds "$host_pid")
  echo "$fd_start" >"$tmp/$mode.fdpeak"
  start_sampler "$tmp/$mode.fdpeak"
  before=$(cpu_ticks "$host_pid")
  timeout "$run_limit" "$game" --bots "127.0.0.1:$port" --count "$bots" --walk --chat "$chat" \
    --seconds "$seconds" --name "$mode" --password "$password" >"$log" 2>&1 &
  local bots_pid=$! peers_pid=
  if [[ $mode == busy ]]; then
    sleep "$peer_delay"
    timeout "$peer_seconds" chrt --idle 0 python3 -c 'while True: pass' &
    peers_pid=$!
  elif [[ $mode == hostile ]]; then
    sleep "$peer_delay"
    timeout "$run_limit" chrt --idle 0 python3 "$peers" --port "$port" --web-port "$web_port" --seconds "$peer_seconds" \
      --password "$password" --discovery-port "$discovery_port" --finder "$game" --skip "${PEERS_SKIP:-}" \
      >"$tmp/$mode.peers" 2>&1 &
    peers_pid=$!
  fi
  wait "$bots_pid" || true
  [[ -n $peers_pid ]] && { wait "$peers_pid" || true; }
  # Closed connections linger up to 5 s for their peers' end.
  sleep 6
  local fd_end after peak
  fd_end=$(fds "$host_pid")
  after=$(cpu_ticks "$host_pid")
  peak=$(status_kb "$host_pid" VmHWM)
  kill "$sampler_pid" 2>/dev/null || true
  wait "$sampler_pid" 2>/dev/null || true
  sampler_pid=
  cp "$tmp/$mode.host" "$tmp/$mode.rows"
  kill -TERM "$host_pid"
  wait "$host_pid" 2>/dev/null || true
  host_pid=
  local summary relayed
  summary=$(grep '^summary:' "$log" | tail -n 1)
  [[ -n $summary ]] || { echo "$mode: the bots printed no summary:" >&2; tail -n 20 "$log" >&2; exit 1; }
  relayed=$(sed -n 's/^relay: \([0-9]*\) deliveries.*/\1/p' "$log")
  echo "${relayed:-?} $(field said "$summary") $(field acked "$summary") $(field lost "$summary")" \
       "$(field gaps "$summary") $(field departures "$summary") $(field sound "$summary")" \
       "$(field lat_median_us "$summary") $(field lat_p99_us "$summary")" \
       "$(awk -v t="$ticks_per_second" -v a="$after" -v b="$before" 'BEGIN { printf "%.2f", (a - b) / t }')" \
       "$peak $fd_start $(cat "$tmp/$mode.fdpeak") $fd_end"
}

echo "hostile load: $bots bots, ${seconds} s of play, chat $chat lines/min, host descriptors <= $fd_limit"
echo "host options: $host_options"
# In this shell, not in a command substitution, so that the clean-up sees
# the processes a run leaves when it fails.
run quiet >"$tmp/quiet.result"
run hostile >"$tmp/hostile.result"
run busy >"$tmp/busy.result"
quiet=$(cat "$tmp/quiet.result")
hostile=$(cat "$tmp/hostile.result")
busy=$(cat "$tmp/busy.result")
for mode in quiet hostile busy; do
  echo "$mode bots: $(grep -E '^(bots:|latency:|chat:|departures:|error:)' "$tmp/$mode.bots" | head -n 8 | tr '\n' '|')"
done
echo "peers (hostile run):"
grep -v '^check ' "$tmp/hostile.peers" | sed 's/^/  /'
echo "host errors (hostile run): $(wc -l <"$tmp/hostile.host.err") lines; first: $(head -n 3 "$tmp/hostile.host.err" | tr '\n' '|')"
echo "host rows (hostile run): $(grep -c '^+' "$tmp/hostile.rows") added, $(grep -c '^-' "$tmp/hostile.rows") removed," \
     "$(grep -c 'Muet' "$tmp/hostile.rows") muted, $(grep -c 'Serveur complet\|Trop de connexions' "$tmp/hostile.rows") turned away"
echo
printf '%-8s %11s %7s %7s %5s %5s %11s %6s %8s %8s %7s %9s %9s\n' run deliveries said acked lost gaps departures sound \
  "p50 us" "p99 us" "cpu s" "peak kB" "fd s/p/e"
for mode in quiet hostile busy; do
  line=${!mode}
  read -r relayed said acked lost gaps departures sound p50 p99 cpu peak fs fp fe <<<"$line"
  printf '%-8s %11s %7s %7s %5s %5s %11s %6s %8s %8s %7s %9s %9s\n' "$mode" "$relayed" "$said" "$acked" "$lost" \
    "$gaps" "$departures" "$sound" "$p50" "$p99" "$cpu" "$peak" "$fs/$fp/$fe"
done

read -r _ _ _ qlost _ _ qsound _ qp99 _ qpeak _ _ _ <<<"$quiet"
read -r _ _ _ hlost hgaps hdepartures hsound _ hp99 _ hpeak hfs _ hfe <<<"$hostile"
verdict() { if eval "$2"; then echo "  ok    $1"; else echo "  MISSED $1"; fi; }
echo
echo "goals:"
verdict "nothing lost for the honest bots (lost $hlost, gaps $hgaps, departures $hdepartures, sound $hsound)" \
  '[[ $hlost == 0 && $hgaps == 0 && $hsound == 1 && ${hdepartures%/*} == "${hdepartures#*/}" ]]'
verdict "p99 at most twice the quiet run's ($hp99 us against $qp99 us)" '((hp99 <= 2 * qp99))'
read -r _ _ _ _ _ _ _ _ bp99 _ <<<"$busy"
echo "        (the busy loop alone: p99 $bp99 us, $(awk -v b="$bp99" -v q="$qp99" 'BEGIN { printf "%.1f", b / q }') times the quiet run's)"
verdict "peak memory at most 64 MB above the quiet peak ($hpeak kB against $qpeak kB)" \
  '((hpeak <= qpeak + 64 * 1024))'
verdict "descriptors back at the start level ($hfe at the end, $hfs at the start)" '((hfe <= hfs))'
echo
echo "peer checks:"
grep '^check ' "$tmp/hostile.peers" | sed 's/^check /  /' || echo "  (the peers printed none)"
