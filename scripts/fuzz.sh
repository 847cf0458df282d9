#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Usage: scripts/fuzz.sh [seconds-per-target]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" --target module_fuzz console_fuzz clients_fuzz >/dev/null

# The targets at once, sharing the cores; any crash fails the run. The console's
# failure lines go to standard error: -close_fd_mask=2 drops them, while
# libFuzzer and the sanitizers keep a copy of the stream for their reports.
pids=()
targets=(module_fuzz console_fuzz clients_fuzz)
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  dict=()
  [ -f tests/fuzz/${target%_fuzz}.dict ] && dict=(-dict=tests/fuzz/${target%_fuzz}.dict)
  build-fuzz/bin/$target "${dict[@]}" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 -close_fd_mask=2 \
    -artifact_prefix=build-fuzz/ "$corpus" >build-fuzz/$target.log 2>&1 &
  pids+=($!)
done
status=0
for i in "${!pids[@]}"; do
  target=${targets[$i]}
  if wait "${pids[$i]}"; then
    echo "$target: $(grep -E '^stat::number_of_executed_units' build-fuzz/$target.log | awk '{print $2}') inputs, no crash"
  else
    echo "$target: FAILED"
    tail -n 40 build-fuzz/$target.log
    status=1
  fi
done
exit "$status"
