#!/usr/bin/env bash
# The Debian package as a player and a host admin meet it.  Builds the
# package from the build folder's tree, unpacks it into a scratch root, and
# starts what it installed from another current folder: the launcher under
# Xvfb shows the main window from the game's folder, the host started as its
# systemd unit would start it answers a raw login, and without the right to
# bind port 80 an ordinary user's web server fails with WinSock error 10013.
#
#   PackageTest.sh BUILD_DIR
set -euo pipefail

build=$(readlink -f -- "${1:?usage: PackageTest.sh BUILD_DIR}")
scratch=$(mktemp -d)
# Ordinary users must reach the unpacked tree.
chmod 755 "$scratch"
root=$scratch/root
run_dir=$root/usr/lib/varozuvod
launcher=$root/usr/bin/varozuvod
source "$(dirname "$0")/ScriptSupport.sh"

for tool in cpack dpkg-deb dpkg-shlibdeps groff Xvfb xwininfo; do
  command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/setup.sh"
done

# ------------------------------------------------------------------ build

cmake --build "$build" --target package-files >"$scratch/build.log" 2>&1 ||
  { tail -20 "$scratch/build.log"; fail "the package's files did not build"; }
(cd "$build" && cpack -G DEB -B "$scratch/out" --config CPackConfig.cmake) >"$scratch/cpack.log" 2>&1 ||
  { tail -20 "$scratch/cpack.log"; fail "cpack failed"; }
debs=("$scratch"/out/varozuvod_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one varozuvod_*.deb, found: ${debs[*]}"
deb=${debs[0]}
ok "built $(basename "$deb")"

# ------------------------------------------------------------------ control

field() { dpkg-deb -f "$deb" "$1"; }
# The libraries come from dpkg-shlibdeps reading the executable.
depends=$(field Depends)
for needed in libqt6widgets6 libqt6gui6 libc6 fonts-dejavu-core libopenal1; do
  [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "Depends lacks $needed: $depends"
done
dpkg-deb -e "$deb" "$scratch/control"
[ -x "$scratch/control/postinst" ] || fail "postinst missing or not executable"
sh -n "$scratch/control/postinst" || fail "postinst is not valid sh"
dpkg -x "$deb" "$root"

# postinst against a stand-in setcap (and systemctl, so that this machine's
# systemd is left alone): it grants the packaged executable the one
# capability, and neither a failing setcap nor a missing one fails the
# installation.
fake=$scratch/fakebin
no_setcap=$scratch/fakebin-no-setcap
mkdir -p "$fake" "$no_setcap"
printf '#!/bin/sh\necho "$@" >>"%s"\nexit "${SETCAP_STATUS:-0}"\n' "$scratch/setcap.calls" >"$fake/setcap"
printf '#!/bin/sh\nexit 0\n' >"$fake/systemctl"
cp "$fake/systemctl" "$no_setcap/systemctl"
chmod +x "$fake/setcap" "$fake/systemctl" "$no_setcap/systemctl"
PATH=$fake:/usr/bin:/bin sh "$scratch/control/postinst" configure || fail "postinst failed"
read -r granted target <"$scratch/setcap.calls"
[ "$granted" = cap_net_bind_service=+ep ] || fail "postinst grants $granted"
[ -x "$root$target" ] && [ "$target" != /usr/bin/varozuvod ] ||
  fail "postinst grants $target, which is not the packaged executable"
SETCAP_STATUS=1 PATH=$fake:/usr/bin:/bin sh "$scratch/control/postinst" configure 2>"$scratch/postinst.err" ||
  fail "postinst fails when setcap fails"
grep -q 'port 80' "$scratch/postinst.err" || fail "postinst says nothing when setcap fails"
PATH=$no_setcap:/usr/bin:/bin sh "$scratch/control/postinst" configure 2>"$scratch/postinst.err" ||
  fail "postinst fails without setcap"
grep -q libcap2-bin "$scratch/postinst.err" || fail "postinst does not name the package setcap comes from"
ok "control fields, Depends from the shared libraries, postinst with and without setcap"
while read -r conffile; do
  [ -z "$conffile" ] || [ -f "$root$conffile" ] || fail "conffile $conffile is not in the package"
done <"$scratch/control/conffiles"
grep -qx /etc/default/varozuvod-host "$scratch/control/conffiles" || fail "the host's options are no conffile"

# ------------------------------------------------------------------ files

[ -x "$run_dir/varozuvod" ] || fail "no executable in the run folder"
[ -x "$launcher" ] || fail "no launcher /usr/bin/varozuvod"
for served in VAROzuvod.exe VAROzuvod.ZIP DATA.ZIP; do
  [ -s "$run_dir/$served" ] || fail "the web server's $served is missing"
done
[ -d "$run_dir/data" ] || fail "no data folder"
cmp -s "$build/game/VAROzuvod.exe" "$run_dir/VAROzuvod.exe" || fail "VAROzuvod.exe differs from the build's"
stamps=$(find "$run_dir/data" -name '.*' | head -1)
[ -z "$stamps" ] || fail "build stamp in the data tree: $stamps"
(cd "$build/game" && find data -type f ! -name '.*' | sort) >"$scratch/built-data"
(cd "$run_dir" && find data -type f | sort) >"$scratch/packaged-data"
cmp -s "$scratch/built-data" "$scratch/packaged-data" || fail "the packaged data tree differs from the build's"
# The download page's data archive carries the sounds with the rest.
# Listed into a file first: grep -q leaving early would end the listing by
# SIGPIPE, which pipefail takes for a failure.
(cd "$scratch" && cmake -E tar tf "$run_dir/DATA.ZIP") >"$scratch/data-zip-list"
grep -q '^data/sons/Pas1\.wav$' "$scratch/data-zip-list" || fail "DATA.ZIP holds no sounds"
mode=$(stat -c %a "$root/etc/default/varozuvod-host")
[ "$mode" = 600 ] || fail "/etc/default/varozuvod-host is mode $mode, it may hold a password"
ok "run folder with executable, data tree ($(wc -l <"$scratch/packaged-data") files) and downloads"

version=$("$launcher" --version)
[ "$version" = "varozuvod $(field Version)" ] || fail "--version says '$version', the package is $(field Version)"
ok "the launcher passes options through: $version"

# ------------------------------------------------------------------ launcher

elsewhere=$scratch/elsewhere
mkdir -p "$elsewhere"
ln -s "$launcher" "$elsewhere/linked"
# grep reads the whole help: one that stopped at the first match would end
# the program's longer output by a broken pipe, and pipefail would say so.
(cd "$elsewhere" && ./linked --help | grep -- --serve >/dev/null) || fail "the launcher does not work through a symbolic link"
status=0
(cd "$elsewhere" && "$launcher" --no-such-option 2>/dev/null) || status=$?
[ "$status" = 2 ] || fail "an unknown option exits $status through the launcher, not 2"
cp "$launcher" "$elsewhere/stray"
status=0
message=$("$elsewhere/stray" --help 2>&1) || status=$?
[ "$status" = 1 ] && [[ "$message" == *"folder"*"missing"* ]] ||
  fail "a launcher without its run folder gave $status: $message"
ok "launcher: through a link, exit status kept, a missing run folder named"

# ------------------------------------------------------------------ desktop entry and icon

desktop=$root/usr/share/applications/varozuvod.desktop
[ -f "$desktop" ] || fail "no desktop entry"
entry() { sed -n "s/^$1=//p" "$desktop" | head -1; }
exec_command=$(entry Exec)
[ -x "$root/usr/bin/${exec_command%% *}" ] || fail "Exec=$exec_command is not an installed command"
icon=$(entry Icon)
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate refuses the entry"
else
  note "desktop-file-validate missing, entry not validated"
fi

# The width and height of a PNG from its IHDR chunk, and its colour type.
png_header() { od -An -v -j 16 -N 10 -tu1 "$1" | tr -s ' \n' ' '; }
hicolor=$root/usr/share/icons/hicolor
for size in 16 24 32 48 64 128 256; do
  png=$hicolor/${size}x${size}/apps/$icon.png
  [ -f "$png" ] || fail "no ${size}x${size} icon"
  read -r w3 w2 w1 w0 h3 h2 h1 h0 depth colour <<<"$(png_header "$png")"
  width=$(((w3 << 24) | (w2 << 16) | (w1 << 8) | w0))
  height=$(((h3 << 24) | (h2 << 16) | (h1 << 8) | h0))
  [ "$width" = "$size" ] && [ "$height" = "$size" ] || fail "$png is ${width}x${height}"
  [ "$depth" = 8 ] && [ "$colour" = 6 ] || fail "$png is not 8-bit RGBA (depth $depth, colour type $colour)"
done
svg=$hicolor/scalable/apps/$icon.svg
grep -q '<svg xmlns="http://www.w3.org/2000/svg"' "$svg" || fail "no scalable icon"
grep -q 'viewBox="0 0 256 256"' "$svg" || fail "the scalable icon has no square view box"
# Every reference in the SVG has its definition.
for ref in $(grep -o 'url(#[a-z0-9]*)' "$svg" | sed 's/url(#\(.*\))/\1/' | sort -u); do
  grep -q "id=\"$ref\"" "$svg" || fail "the scalable icon refers to undefined #$ref"
done
ok "desktop entry runs varozuvod with icon $icon in 7 sizes and scalable"

# ------------------------------------------------------------------ manual page

page=$root/usr/share/man/man6/varozuvod.6.gz
[ -f "$page" ] || fail "no manual page in section 6"
warnings=$(zcat "$page" | groff -man -ww -Tutf8 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "groff warns about the manual page: $warnings"
text=$(zcat "$page" | groff -man -Tutf8 -P-cbou 2>/dev/null)
for option in $("$launcher" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
  grep -q -- "$option" <<<"$text" || fail "the manual page does not describe $option"
done
grep -q 'Impossible de démarrer le serveur (WINSOCK error #10013)' <<<"$text" ||
  fail "the manual page does not quote the error of port 80"
ok "manual page: clean troff, every option of --help described"

# ------------------------------------------------------------------ systemd unit

unit=$root/usr/lib/systemd/system/varozuvod-host.service
[ -f "$unit" ] || fail "no systemd unit"
unit_value() { sed -n "s/^$1=//p" "$unit" | head -1; }
exec_start=$(unit_value ExecStart)
working=$(unit_value WorkingDirectory)
environment=$(unit_value EnvironmentFile)
[ -x "$root${exec_start%% *}" ] || fail "ExecStart=$exec_start is not in the package"
[ -d "$root$working" ] || fail "WorkingDirectory=$working is not in the package"
[ -f "$root${environment#-}" ] || fail "EnvironmentFile=$environment is not in the package"
[ ! -e "$root/etc/systemd/system/multi-user.target.wants" ] || fail "the package enables the unit"
if command -v systemd-analyze >/dev/null; then
  # Its command is not installed on this machine; anything else it reports
  # is a mistake in the unit.
  complaints=$(systemd-analyze verify --man=no "$unit" 2>&1 | grep -v 'is not executable' || true)
  [ -z "$complaints" ] || fail "systemd-analyze: $complaints"
else
  note "systemd-analyze missing, unit not verified"
fi

# The unit's command with the options file's words, rooted in the scratch
# tree, on a free port, as an ordinary user where this test can be one.
as_user=()
if [ "$(id -u)" = 0 ]; then as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups); fi
options=$(set -a && . "$root${environment#-}" && echo "$VAROZUVOD_HOST_OPTIONS")
read -r -a words <<<"${exec_start#* }"
command_line=("$root${exec_start%% *}")
for word in "${words[@]}"; do
  [ "$word" = '$VAROZUVOD_HOST_OPTIONS' ] && command_line+=($options) || command_line+=("$word")
done

# Starts the host in the background with its outputs in $1.out and $1.err.
start_host() {
  local log=$1
  shift
  (cd "$root$working" && exec "${as_user[@]}" "$@" >"$log.out" 2>"$log.err") &
  host_pid=$!
  started+=("$host_pid")
}
host_port() { sed -n "s/^$1 : port \([0-9]*\)$/\1/p" "$2.out"; }

start_host "$scratch/service" "${command_line[@]}" --port 0
wait_for 10 grep -qs '^jeu : port' "$scratch/service.out" ||
  fail "the unit's host did not start: $(cat "$scratch/service.err")"
port=$(host_port jeu "$scratch/service")

# A raw login: frame 3 (join) with the name guest, unpacked: id 03, length
# 05, the bytes.  The host answers with 3 (the player's id) and 8 (its cell).
exec {peer}<>"/dev/tcp/127.0.0.1/$port"
printf '\003\005guest' >&"$peer"
next_byte() {
  byte=$(timeout 5 dd bs=1 count=1 status=none <&"$peer" | od -An -tu1 | tr -d ' ')
  [ -n "$byte" ]
}
# A packed integer: seven bits a byte, most significant first, the high bit
# set on every byte but the last.
next_packed() {
  packed=0
  while next_byte; do
    packed=$(((packed << 7) | (byte & 127)))
    ((byte & 128)) || return 0
  done
  return 1
}
next_frame() {
  next_packed || return 1
  frame_id=$packed
  next_packed || return 1
  local length=$packed i
  for ((i = 0; i < length; i++)); do next_byte || return 1; done
}
next_frame || fail "the host did not answer the login"
[ "$frame_id" = 3 ] || fail "the host answered the login with $frame_id, not 3"
next_frame || fail "the host sent no start cell"
[ "$frame_id" = 8 ] || fail "the host's second answer is $frame_id, not 8"
exec {peer}>&-
wait_for 5 grep -qs $'^+\t127.0.0.1' "$scratch/service.out" || fail "the host does not list the connection"
kill -TERM "$host_pid"
status=0
wait "$host_pid" || status=$?
[ "$status" = 0 ] || fail "the host exited $status after SIGTERM"
ok "the unit's command line answers a raw login with 3 then 8 and ends on SIGTERM (as ${as_user[*]:-$(id -un)})"

# ------------------------------------------------------------------ port 80

unprivileged=$(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024)
if [ "$unprivileged" -le 80 ]; then
  note "this kernel lets every user bind ports from $unprivileged (net.ipv4.ip_unprivileged_port_start): error 10013 cannot happen here"
else
  start_host "$scratch/web" "$launcher" --serve --port 0 --web
  wait_for 10 grep -qs 'WINSOCK error' "$scratch/web.err" ||
    fail "port 80 without the capability gave no error: $(cat "$scratch/web.err")"
  grep -qx 'Impossible de démarrer le serveur (WINSOCK error #10013)' "$scratch/web.err" ||
    fail "port 80 without the capability: $(cat "$scratch/web.err")"
  wait_for 5 grep -qs '^jeu : port' "$scratch/web.out" || fail "the game server stopped with the web server"
  kill -TERM "$host_pid"
  wait "$host_pid" || true
  ok "an ordinary user's web server on port 80: Impossible de démarrer le serveur (WINSOCK error #10013)"

  # What postinst grants makes the same start succeed (or meet a port 80
  # that something else holds, 10048), never 10013.
  if [ "$(id -u)" = 0 ] && setcap cap_net_bind_service=+ep "$run_dir/varozuvod" 2>/dev/null; then
    start_host "$scratch/granted" "$launcher" --serve --port 0 --web
    wait_for 10 grep -qs '^jeu : port' "$scratch/granted.out" || fail "the granted host did not start"
    wait_for 2 grep -qs '^web : port 80$' "$scratch/granted.out" || true
    if grep -q '#10013' "$scratch/granted.err"; then fail "the capability did not let port 80 be bound"; fi
    kill -TERM "$host_pid"
    wait "$host_pid" || true
    if grep -q '^web : port 80$' "$scratch/granted.out"; then
      ok "with cap_net_bind_service the ordinary user's web server listens on port 80"
    else
      note "port 80 is taken here: $(cat "$scratch/granted.err")"
    fi
  else
    note "setcap not possible here: the granted start not checked"
  fi
fi

# ------------------------------------------------------------------ main window

exec {display_fd}>"$scratch/display"
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 &
started+=($!)
exec {display_fd}>&-
wait_for 10 test -s "$scratch/display" || fail "Xvfb did not start: $(cat "$scratch/xvfb.log")"
export DISPLAY=":$(head -1 "$scratch/display")"
(cd "$elsewhere" && QT_QPA_PLATFORM=xcb exec "$launcher" >"$scratch/game.out" 2>&1) &
game_pid=$!
started+=("$game_pid")
title="ZUL Vantor v1.0"
viewable() { xwininfo -name "$title" 2>/dev/null | grep -q 'Map State: IsViewable'; }
wait_for 20 viewable || fail "no main window \"$title\" appeared: $(cat "$scratch/game.out")"
[ "$(readlink -f "/proc/$game_pid/cwd")" = "$(readlink -f "$run_dir")" ] ||
  fail "the game runs in $(readlink -f "/proc/$game_pid/cwd"), not in its folder"
if command -v import >/dev/null; then
  mkdir -p "$build/Testing"
  import -window root "$build/Testing/package-main-window.png" 2>/dev/null &&
    note "screenshot in $build/Testing/package-main-window.png"
fi
ok "the launcher started from $elsewhere shows \"$title\", running in the game's folder"
echo "PASS"
