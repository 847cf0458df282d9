#!/usr/bin/env bash
# Builds the project and shows two lines on an emulated display module.
# Usage: scripts/demo.sh [Line1 Line2]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" >/dev/null
exec build/bin/lcm-emu -- build/bin/lcm-show "${1:-Hello}" "${2:-World}"
