#!/usr/bin/env bash
# Builds every program (not the tests) in build/, then shows two lines on an
# emulated display module. Installs only what that needs: cmake, make, g++
# and libinih-dev (lcm-panel reads its configuration file with inih).
# The README's later examples run the programs from build/bin/.
# Usage: scripts/demo.sh [Line1 Line2]
set -euo pipefail
cd "$(dirname "$0")/.."

line1=${1:-Hello}
line2=${2:-World}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
quietly() {
  "$@" >"$log" 2>&1 || { cat "$log"; exit 1; }
}

echo "demo: checking for cmake, make, g++ and libinih-dev (installing any that is missing)"
scripts/install-deps.sh --only cmake make g++ libinih-dev
# A build/ configured before (by a preset, with the tests) keeps its settings;
# only the programs are built in it.
if [ -f build/CMakeCache.txt ]; then
  echo "demo: using the configured build/"
else
  echo "demo: configuring in build/ (tests left out)"
  quietly cmake -S . -B build -DLCM_BUILD_TESTS=OFF
fi
echo "demo: building lcm-show, lcm-console, lcm-panel and lcm-emu in build/bin/"
quietly cmake --build build -j"$(nproc)" --target lcm-show lcm-console lcm-panel lcm-emu
echo "demo: lcm-show \"$line1\" \"$line2\", with lcm-emu as the module on its /dev/ttyS1:"
exec build/bin/lcm-emu -- build/bin/lcm-show "$line1" "$line2"
