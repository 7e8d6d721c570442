#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
packages=(cmake ninja-build g++ qt6-base-dev libqt6opengl6-dev libgl-dev libgl1-mesa-dri
          libxrandr-dev libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth
          fonts-dejavu-core fonts-liberation curl dpkg-dev x11-utils libcap2-bin desktop-file-utils groff-base
          xdotool imagemagick libopenal-dev python3 libminiupnpc-dev libnatpmp-dev miniupnpd nftables
          iproute2 openbox clang-format)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
