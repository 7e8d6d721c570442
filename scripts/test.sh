#!/usr/bin/env bash
# Checks the sources' formatting, builds everything with warnings as errors
# and runs the whole test suite; the tests that need a display run under
# Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/format.sh --check
bash scripts/build.sh -DVAROZUVOD_WERROR=ON
cd build
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2 --timeout 300
