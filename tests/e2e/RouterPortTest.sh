#!/usr/bin/env bash
# A host behind a home router opens its ports there and players on the
# Internet join it through the router's public address.  The network is
# three namespaces of our own joined by veth pairs, with no link to the
# machine's interfaces, so nothing leaves them:
#
#   lan (192.168.77.2, the host with --upnp)
#     -- rtr (192.168.77.1 | 11.7.0.1: nftables masquerade, the real miniupnpd)
#     -- wan (11.7.0.2, the bots)
#
# The router's public side needs an address miniupnpd takes for a public
# one: it refuses the private and documentation ranges.  Three rounds: the
# router speaks UPnP, NAT-PMP only, or neither.  With a router the WAN bots
# join, chat and walk, and hear each other leave; once the host ends (SIGTERM)
# the router holds no mapping and the WAN bots cannot connect.  Without one
# the host says so and runs on: a bot of the LAN plays.
#
#   RouterPortTest.sh BUILD_DIR
# Exits 77 (skipped) where namespaces cannot be made.
set -euo pipefail

build=$(readlink -f -- "${1:?usage: RouterPortTest.sh BUILD_DIR}")
game_dir=$build/game
exe=$game_dir/varozuvod
scratch=$(mktemp -d)
source "$(dirname "$0")/ScriptSupport.sh"

skip() {
  echo "skipped: $*"
  exit 77
}

[ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
for tool in ip nft miniupnpd; do
  command -v "$tool" >/dev/null || skip "$tool is missing: run scripts/setup.sh"
done
[ -x "$exe" ] || fail "no game at $exe"

lan=zul$$-lan
rtr=zul$$-rtr
wan=zul$$-wan
lan_address=192.168.77.2
router_lan=192.168.77.1
router_wan=11.7.0.1
wan_address=11.7.0.2
game_port=2048
web_port=8080

# In the foreground only: started with & this would give the pid of a
# subshell, not of the program.
in_ns() {  # namespace command...
  local ns=$1
  shift
  ip netns exec "$ns" "$@"
}

remove_lab() {
  local ns
  for ns in "$lan" "$rtr" "$wan"; do ip netns del "$ns" 2>/dev/null || true; done
}

on_failure() {
  show_logs "*.out" "*.log"
  echo "--- router rules" >&2
  in_ns "$rtr" nft list ruleset >&2 || true
}

# The namespaces go after the processes in them (ScriptSupport's cleanup).
trap 'cleanup; remove_lab' EXIT

make_lab() {
  ip netns add "$lan" || skip "ip netns add failed (no namespaces here)"
  ip netns add "$rtr"
  ip netns add "$wan"
  ip link add lan0 netns "$lan" type veth peer name rlan netns "$rtr"
  ip link add rwan netns "$rtr" type veth peer name wan0 netns "$wan"
  in_ns "$lan" ip addr add $lan_address/24 dev lan0
  in_ns "$rtr" ip addr add $router_lan/24 dev rlan
  in_ns "$rtr" ip addr add $router_wan/24 dev rwan
  in_ns "$wan" ip addr add $wan_address/24 dev wan0
  local ns
  for ns in "$lan" "$rtr" "$wan"; do in_ns "$ns" ip link set lo up; done
  in_ns "$lan" ip link set lan0 up
  in_ns "$rtr" ip link set rlan up
  in_ns "$rtr" ip link set rwan up
  in_ns "$wan" ip link set wan0 up
  in_ns "$lan" ip route add default via $router_lan
  in_ns "$rtr" sysctl -qw net.ipv4.ip_forward=1
  # The home router: the LAN goes out masqueraded, nothing comes in unless
  # it answers the LAN or miniupnpd let it in through its own chains.
  in_ns "$rtr" nft -f - <<EOF
table inet filter {
  chain forward {
    type filter hook forward priority 0; policy drop;
    ct state established,related accept
    iifname "rlan" oifname "rwan" accept
    jump miniupnpd
  }
  chain miniupnpd {
  }
  chain prerouting {
    type nat hook prerouting priority -100; policy accept;
    jump prerouting_miniupnpd
  }
  chain postrouting {
    type nat hook postrouting priority 100; policy accept;
    jump postrouting_miniupnpd
    oifname "rwan" masquerade
  }
  chain prerouting_miniupnpd {
  }
  chain postrouting_miniupnpd {
  }
}
EOF
}

start_router() {  # upnp yes|no, natpmp yes|no
  cat >"$scratch/miniupnpd.conf" <<EOF
ext_ifname=rwan
listening_ip=rlan
port=0
enable_upnp=$1
enable_natpmp=$2
secure_mode=yes
system_uptime=no
uuid=9f1f0e2a-5c3b-4d6e-8a7b-2c1d0e9f8a7b
upnp_table_name=filter
upnp_nat_table_name=filter
upnp_forward_chain=miniupnpd
upnp_nat_chain=prerouting_miniupnpd
upnp_nat_postrouting_chain=postrouting_miniupnpd
allow 1024-65535 192.168.77.0/24 1024-65535
deny 0-65535 0.0.0.0/0 0-65535
EOF
  ip netns exec "$rtr" miniupnpd -f "$scratch/miniupnpd.conf" -d -P "$scratch/miniupnpd.pid" \
    >"$scratch/miniupnpd.log" 2>&1 &
  router_pid=$!
  started+=($router_pid)
  wait_for 10 grep -q -i "listening" "$scratch/miniupnpd.log" 2>/dev/null ||
    fail "miniupnpd did not start"
}

stop_router() {
  kill "$router_pid" 2>/dev/null || true
  wait "$router_pid" 2>/dev/null || true
}

# The router's forwarding rules that miniupnpd added.
mappings() { in_ns "$rtr" nft list chain inet filter prerouting_miniupnpd | grep -c dnat || true; }

start_host() {  # round name
  ip netns exec "$lan" "$exe" --serve --port $game_port --web --web-port $web_port --no-discovery --upnp \
    >"$scratch/host-$1.out" 2>&1 &
  host_pid=$!
  started+=($host_pid)
}

# The router's answer in the host's listing, within the searches' time.
host_says() {  # round text
  wait_for 20 grep -qF -- "$2" "$scratch/host-$1.out" 2>/dev/null
}

stop_host() {  # round
  kill -TERM "$host_pid"
  local status=0
  wait "$host_pid" || status=$?
  [ "$status" -eq 0 ] || fail "$1: the host ended with status $status"
}

bots() {  # namespace target round [options...]
  local ns=$1 target=$2 round=$3
  shift 3
  in_ns "$ns" "$exe" --bots "$target:$game_port" --lab "$target" "$@" >"$scratch/bots-$round.out" 2>&1
}

# The WAN bots play through the router: every bot joined, chat and walks
# relayed between them with nothing lost, every departure heard.
wan_bots_play() {  # round
  bots "$wan" $router_wan "$1" --count 3 --walk --chat 120 --seconds 3 ||
    fail "$1: the WAN bots failed"
  local summary
  summary=$(grep '^summary:' "$scratch/bots-$1.out")
  [[ $summary == *" joined=3 "* && $summary == *" sound=1"* ]] || fail "$1: $summary"
  [[ $summary != *" walks=0 "* && $summary != *" said=0 "* ]] || fail "$1: no walk or chat: $summary"
  grep -q '^relay: [1-9]' "$scratch/bots-$1.out" || fail "$1: nothing relayed"
  # Each leaver but the last is heard by those still there.
  [[ $summary == *"departures=3/3"* ]] || fail "$1: departures not all heard: $summary"
  ok "$1: three WAN bots played through $router_wan:$game_port"
}

wan_bots_refused() {  # round
  if bots "$wan" $router_wan "$1-after" --count 1 --seconds 0; then
    fail "$1: a WAN bot still joined after the host ended"
  fi
  grep -q '^summary:.* joined=0 ' "$scratch/bots-$1-after.out" || fail "$1: the WAN bot was not turned away"
  ok "$1: the WAN bots cannot connect any more"
}

round_with_router() {  # round upnp natpmp
  local round=$1
  start_router "$2" "$3"
  start_host "$round"
  host_says "$round" "Adresse Internet : $router_wan:$game_port, web : port $web_port" ||
    fail "$round: the host did not give its public address"
  ok "$round: the host says: $(grep -F 'Adresse Internet' "$scratch/host-$round.out")"
  [ "$(mappings)" -ge 2 ] || fail "$round: the router holds no mapping for the host"
  wan_bots_play "$round"
  stop_host "$round"
  [ "$(mappings)" -eq 0 ] || fail "$round: the router still holds $(mappings) mapping(s) after the host ended"
  ok "$round: the router holds no mapping once the host ended"
  wan_bots_refused "$round"
  stop_router
}

make_lab
ok "lab: $lan | $rtr ($router_wan) | $wan"

round_with_router upnp yes no
round_with_router natpmp no yes

# Neither: the host says so and runs on for the LAN.
start_host none
host_says none "Aucun routeur UPnP ni NAT-PMP trouvé" || fail "none: the host did not say it found no router"
ok "none: the host says: Aucun routeur UPnP ni NAT-PMP trouvé"
bots "$lan" $lan_address none-lan --count 2 --walk --chat 120 --seconds 2 || fail "none: the LAN bots failed"
grep -q '^summary:.* joined=2 .* sound=1' "$scratch/bots-none-lan.out" || fail "none: the LAN bots did not play"
ok "none: the game runs for the LAN"
wan_bots_refused none
stop_host none
ok "router port mapping behind a real NAT"
