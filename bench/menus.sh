#!/usr/bin/env bash
# lcm-panel with a display client's menu walked on the buttons, against the
# emulated module: the README's menu client (docs/examples/menu.py) while
# scheduled presses go through every kind of item, over and over, and
# fifteen other clients set their widgets ten times a second. The
# panel's resident memory and descriptors at the start and at the end, its
# CPU share, the menuevent lines the walk caused, and the heap allocations
# of a shorter run under valgrind. Expects a built build/ (bench/run.sh
# builds it).
# Usage: bench/menus.sh [seconds]   (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

scripts/install-deps.sh valgrind python3

seconds=${1:-30}
heap_seconds=20
bin=build/bin
work=$(mktemp -d)
emulator=
client=
widgets=
CLIENT_SLOTS=16
cleanup() {
  [ -n "$client" ] && kill "$client" 2>/dev/null || true
  [ -n "$widgets" ] && kill "$widgets" 2>/dev/null || true
  [ -n "$emulator" ] && kill "$emulator" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export LCM_PANEL_SOCKET=$work/panel.sock

# One round through the client's menu: into it, the checkbox set, the ring
# turned, the slider moved, the number stepped, the name's first letter
# changed, the address's first digit changed and cancelled, and out again.
ROUND=(right right right up right down right up right down right up up right down right up right
  down right right up right right right right down right up left left left left)
# From 3 s after the module's first byte (or the ms given), a press held
# 300 ms every 500 ms, which even the panel under valgrind sees.
PRESS_MS=500
ROUND_S=$((${#ROUND[@]} * PRESS_MS / 1000 + 1))
press_options() {
  local at=${2:-3000} end=$((${2:-3000} + $1 * 1000)) key
  while [ "$at" -lt "$end" ]; do
    for key in "${ROUND[@]}"; do
      [ "$at" -lt "$end" ] && echo "--press $key@$at+300"
      at=$((at + PRESS_MS))
    done
  done
}

# The client's menuevent lines go to the file named. Beside it, the fifteen
# other clients the panel has room for each set a widget ten times a second
# for the seconds given (bench/clients.py), on screens that wait in the ring.
start_client() {
  for _ in $(seq 100); do
    [ -S "$LCM_PANEL_SOCKET" ] && break
    sleep 0.1
  done
  /usr/bin/python3 bench/clients.py "$LCM_PANEL_SOCKET" "$2" $((CLIENT_SLOTS - 1)) >"$work/widgets" \
    2>"$work/widgets.err" &
  widgets=$!
  /usr/bin/python3 docs/examples/menu.py >"$work/$1" 2>"$work/client.err" &
  client=$!
}
stop() {
  kill "$client" "$widgets" 2>/dev/null || true
  wait "$client" "$widgets" 2>/dev/null || true
  client=
  widgets=
  kill -TERM "$emulator"
  wait "$emulator" || true
  emulator=
}

# The first round runs every kind of screen and edit once, so that the
# memory at the start already holds what the walk uses; the run is measured
# from its end.
# shellcheck disable=SC2046
"$bin/lcm-emu" $(press_options $((ROUND_S + seconds))) -- "$bin/lcm-panel" --refresh 0 'echo lcm-panel bench' \
  >/dev/null 2>"$work/err" &
emulator=$!
if ! panel=$(find_panel "$emulator"); then
  echo "lcm-panel did not start: $(cat "$work/err")" >&2
  exit 1
fi
start_client events $((3 + ROUND_S + seconds + 5))
# The presses begin 3 s after the module's first byte.
sleep $((3 + ROUND_S))
read -r rss0 fds0 own0 _ < <(sample "$panel")
start=$(date +%s.%N)
sleep "$seconds"
read -r rss1 fds1 own1 _ < <(sample "$panel")
end=$(date +%s.%N)
peak=$(peak_kb "$panel")
stop
events=$(grep -c '^menuevent ' "$work/events" || true)

# The panel starts slowly under valgrind: its client is there well before
# the presses begin.
# shellcheck disable=SC2046
"$bin/lcm-emu" $(press_options "$heap_seconds" 8000) -- valgrind --trace-children=no \
  --xtree-memory=full --xtree-memory-file="$work/heap.kcg" "$bin/lcm-panel" --refresh 0 'echo lcm-panel bench' >/dev/null 2>"$work/valgrind" &
emulator=$!
start_client heap_events $((heap_seconds + 9))
sleep $((heap_seconds + 9))
stop
heap_events=$(grep -c '^menuevent ' "$work/heap_events" || true)
read -r allocs start_allocs loop_allocs < <(panel_allocs "$work/valgrind" "$work/heap.kcg")

elapsed=$(seconds_between "$start" "$end")
share=$(share $((own1 - own0)) "$elapsed")
echo "lcm-panel through lcm-emu for $elapsed s after a first round, a display client's menu walked by a press every $PRESS_MS ms while $((CLIENT_SLOTS - 1)) other clients each set a widget 10 times a second"
print_footprint "$rss0" "$rss1" "$peak" "$fds0" "$fds1"
printf '  CPU share of lcm-panel: %s%% of one core  %s\n' "$share" \
  "$(verdict "$(awk -v s="$share" 'BEGIN { print s < 2 }')")"
printf '  menuevent lines the walk sent: %s\n' "$events"
printf '  heap allocations over a %s s walk under valgrind (%s menuevent lines): %s in the loop (%s in all, %s the server thread'"'"'s start)  %s\n' \
  "$heap_seconds" "$heap_events" "$loop_allocs" "$allocs" "$start_allocs" \
  "$(verdict "$(($(is_zero "$loop_allocs") && heap_events > 0))")"
