#!/usr/bin/env bash
# Builds the game and starts it from its run folder; arguments go to the game.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cd build/game
exec ./varozuvod "$@"
