#!/usr/bin/env bash
# Builds the project and runs every test: the default build, then the
# address+undefined and thread sanitizer builds, and the static checks
# (clang-format, clang-tidy, cppcheck). Every preset and the static checks
# run even when one before failed; the run ends with one summary of what
# failed (preset by preset, test by test) and a non-zero status if anything did.
# Usage: scripts/test.sh [preset ...]   (default: default asan tsan)
#
# The end-to-end tests mostly wait on the emulated module, so while one
# preset's tests run, the next preset is built (and at the end the static
# checks run) beside them at the lowest priority: the tests keep the cores
# whenever they need them, and the builds take what is left.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

scripts/install-deps.sh
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(default asan tsan)
with_static=no
[[ " ${presets[*]} " == *" default "* ]] && with_static=yes

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j"$(nproc)"
}

# One step at the lowest priority: its output in $logs/NAME, its status
# (0 or 1) in $logs/NAME.status.
step() {
  local name=$1 status=0
  shift
  nice -n 19 "$@" >"$logs/$name" 2>&1 || status=1
  echo "$status" >"$logs/$name.status"
}

# Everything after the first preset's build, in order.
background() {
  local preset
  for preset in "${presets[@]:1}"; do
    step "build-$preset" bash -c "$(declare -f build); build $preset"
  done
  # The static checks read the default build's compile database.
  if [ "$with_static" = yes ]; then
    step static scripts/check-static.sh
  fi
}

# Waits (without a bound: each step ends by itself) for a background step's status.
await() {
  until [ -f "$logs/$1.status" ]; do sleep 1; done
  [ "$(cat "$logs/$1.status")" -eq 0 ]
}

# What failed, one line each, for the summary at the end.
failures=()

# A preset's tests; the names of those that failed go into the summary.
run_tests() {
  local preset=$1 log="$logs/test-$1" status
  ctest --preset "$preset" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ]; then
    local names
    names=$(sed -n '/The following tests FAILED:/,$p' "$log" | sed -n 's/^[[:space:]]*[0-9]* - \(.*\)$/\1/p')
    [ -n "$names" ] || names="(ctest failed before naming a test)"
    while IFS= read -r name; do failures+=("$preset: $name"); done <<<"$names"
  fi
}

echo "== ${presets[0]}: build"
first_built=yes
if ! build "${presets[0]}" >"$logs/build-${presets[0]}" 2>&1; then
  cat "$logs/build-${presets[0]}"
  failures+=("${presets[0]}: the build failed, no test ran")
  first_built=no
fi
# A group of its own, so that an interrupted run ends the builds beside it too.
set -m
background &
helper=$!
set +m
trap 'kill -- -"$helper" 2>/dev/null || true; wait "$helper" 2>/dev/null || true; rm -rf "$logs"' EXIT

for i in "${!presets[@]}"; do
  preset=${presets[$i]}
  if [ "$i" -gt 0 ]; then
    echo "== $preset: build (beside the tests before)"
    if ! await "build-$preset"; then
      cat "$logs/build-$preset"
      failures+=("$preset: the build failed, no test ran")
      continue
    fi
  elif [ "$first_built" = no ]; then
    continue
  fi
  echo "== $preset: test"
  run_tests "$preset"
done

if [ "$with_static" = yes ]; then
  echo "== static checks (beside the tests)"
  if ! await static; then
    failures+=("static checks: findings above")
  fi
  cat "$logs/static"
fi
wait "$helper" || true

echo "== summary"
if [ ${#failures[@]} -eq 0 ]; then
  checked="the tests of ${presets[*]}"
  [ "$with_static" = yes ] && checked+=" and the static checks"
  echo "everything passed: $checked"
  exit 0
fi
printf '%s\n' "${failures[@]}"
exit 1
