#!/usr/bin/env bash
# Builds the project and runs every test: the default build, then the
# address+undefined and thread sanitizer builds, and the static checks
# (clang-format, clang-tidy, cppcheck).
# Usage: scripts/test.sh [preset ...]   (default: default asan tsan)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(default asan tsan)

for preset in "${presets[@]}"; do
  echo "== $preset: build"
  cmake --preset "$preset" >/dev/null
  log=$(mktemp)
  if ! cmake --build --preset "$preset" -j"$(nproc)" >"$log" 2>&1; then
    cat "$log"
    exit 1
  fi
  rm -f "$log"
  echo "== $preset: test"
  ctest --preset "$preset"
done

# The static checks read the default build's compile database.
if [[ " ${presets[*]} " == *" default "* ]]; then
  echo "== static checks"
  scripts/check-static.sh
fi
