#!/usr/bin/env bash
# lcm-panel over a long run against the emulated module: resident memory and
# open descriptors at the start and at the end, and its CPU share with
# constant pages; and its heap allocations. Expects a built build/
# (bench/run.sh builds it).
# Usage: bench/panel.sh [seconds]   (default 600)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

scripts/install-deps.sh valgrind

seconds=${1:-600}
bin=build/bin
work=$(mktemp -d)
emulator=
cleanup() {
  [ -n "$emulator" ] && kill "$emulator" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The README's example pages; the first (host name and addresses) is shown
# throughout, and its command runs every second, to put many page commands
# through the run.
"$bin/lcm-emu" -- "$bin/lcm-panel" --every 1 'hostname; hostname -I' 'uptime -p | cut -c4-; date +%H:%M' \
  'cat /run/panel-message 2>/dev/null' >"$work/out" 2>"$work/err" &
emulator=$!

if ! panel=$(find_panel "$emulator"); then
  echo "lcm-panel did not start: $(cat "$work/err")" >&2
  exit 1
fi

# The port is open and the first page drawn well within two seconds.
sleep 2
read -r rss0 fds0 own0 children0 < <(sample "$panel")
start=$(date +%s.%N)
sleep "$seconds"
read -r rss1 fds1 own1 children1 < <(sample "$panel")
end=$(date +%s.%N)
peak=$(peak_kb "$panel")

kill -TERM "$emulator"
status=0
wait "$emulator" || status=$?
emulator=

elapsed=$(seconds_between "$start" "$end")
share=$(share $((own1 - own0)) "$elapsed")
pages=$(share $((children1 - children0)) "$elapsed")

echo "lcm-panel through lcm-emu for $elapsed s, constant pages, a page command every second"
print_footprint "$rss0" "$rss1" "$peak" "$fds0" "$fds1"
printf '  CPU share of lcm-panel: %s%% of one core  %s\n' "$share" \
  "$(verdict "$(awk -v s="$share" 'BEGIN { print s <= 0.5 }')")"
printf '  CPU share of its page commands: %s%% of one core\n' "$pages"
printf '  stopped by SIGTERM: exit status %s  %s\n' "$status" "$(verdict "$((status == 0))")"

# Heap: every allocation of a short run under valgrind, with a page command
# every 0.2 s that times out now and then, and an action opened, confirmed
# and run through the menu (valgrind slows the first passes, hence the late
# presses).
"$bin/lcm-emu" --press right@1500+300 --press right@2300+300 --press right@3100+300 -- \
  valgrind --trace-children=no --xtree-memory=full --xtree-memory-file="$work/heap.kcg" \
  "$bin/lcm-panel" --every 0.2 --timeout 0.3 --action Address 'hostname -I' 'hostname; hostname -I' >/dev/null 2>"$work/valgrind" &
emulator=$!
sleep 5
kill -TERM "$emulator"
wait "$emulator" || true
emulator=
read -r allocs start_allocs loop_allocs < <(panel_allocs "$work/valgrind" "$work/heap.kcg")
printf '  heap allocations over a 5 s run under valgrind: %s in the loop (%s in all, %s the server thread'"'"'s start)  %s\n' \
  "$loop_allocs" "$allocs" "$start_allocs" "$(verdict "$(is_zero "$loop_allocs")")"
