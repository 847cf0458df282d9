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
# Every finding is an error (WarningsAsErrors in .clang-tidy), so a file with
# one makes clang-tidy, and so xargs, fail; the findings are printed as well.
# Without the compile database the checks would run with guessed flags.
if [ ! -f build/compile_commands.json ]; then
  echo "build/compile_commands.json is missing: run 'cmake --preset default' first" >&2
  status=1
else
  tidy_log=$(mktemp)
  if ! printf '%s\n' "${units[@]}" | xargs -P "$(nproc)" -n 1 clang-tidy -p build --quiet >"$tidy_log" 2>&1; then
    status=1
    grep -vE '^[0-9]+ (warnings?|errors?)( and [0-9]+ (warnings?|errors?))? generated\.$' "$tidy_log" || true
  elif grep -qE ': (warning|error):' "$tidy_log"; then
    status=1
    cat "$tidy_log"
  fi
  rm -f "$tidy_log"
fi

echo "== cppcheck"
cppcheck --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr \
  --std=c++17 --quiet --suppress=missingIncludeSystem --suppress=useStlAlgorithm \
  -I serial -I lcm -I console -I text -I clients -I server -I panel -I emulator \
  app lcm serial console text clients server panel emulator || status=1

exit "$status"
