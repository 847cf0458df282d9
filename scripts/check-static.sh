#!/usr/bin/env bash
# Static checks: formatting, clang-tidy and cppcheck over every tracked C++
# file. Needs a configured build/ (for compile_commands.json).
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
# The fuzz targets build only with clang, in build-fuzz, and are not in build/'s compile database.
mapfile -t units < <(git ls-files '*.cpp' ':!tests/fuzz')
status=0

echo "== clang-format"
clang-format --dry-run -Werror "${sources[@]}" || status=1

echo "== clang-tidy"
# Each file once, two at a time.
printf '%s\n' "${units[@]}" |
  xargs -P "$(nproc)" -n 1 clang-tidy -p build --quiet 2>/dev/null |
  grep -E '^/.*: (warning|error):' && status=1

echo "== cppcheck"
cppcheck --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr \
  --std=c++17 --quiet --suppress=missingIncludeSystem --suppress=useStlAlgorithm \
  -I serial -I lcm -I console -I panel -I emulator app lcm serial console panel emulator || status=1

exit "$status"
