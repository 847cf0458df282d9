#!/usr/bin/env bash
# lcm-panel serving display clients against the emulated module: sixteen
# clients (bench/clients.py) each set a string widget ten times a second
# while presses page between their screens. The panel's CPU share, resident
# memory and descriptors, each press's time to its redraw, what the updates
# cost on the glass, and the heap allocations of a shorter run under
# valgrind. Expects a built build/ (bench/run.sh builds it).
# Usage: bench/clients.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

scripts/install-deps.sh valgrind python3

seconds=${1:-60}
heap_seconds=5
bin=build/bin
work=$(mktemp -d)
emulator=
clients=
cleanup() {
  [ -n "$clients" ] && kill "$clients" 2>/dev/null || true
  [ -n "$emulator" ] && kill "$emulator" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export LCM_PANEL_SOCKET=$work/panel.sock

# Presses from 3 s after the module's first byte, when the clients' screens
# are long made, until a second before the paced updates end. The ring
# starts on the page: the first Down brings the first client's screen into
# view, then Down and Up go to the second and back, so that a client's
# screen stays in view and every press changes the top row ("client N").
# 1037 ms apart, the presses fall at every phase of the clients' tenths of a
# second.
press_starts() {
  seq 3000 1037 $((3000 + $1 * 1000 - 1000))
}
press_options() {
  local i=0 at
  for at in $(press_starts "$1"); do
    if [ "$i" -eq 0 ] || [ $((i % 2)) -eq 1 ]; then echo "--press down@$at+100"; else echo "--press up@$at+100"; fi
    i=$((i + 1))
  done
}

# Starts the clients for the given seconds; a line they print is waited for
# with wait_for.
start_clients() {
  /usr/bin/python3 bench/clients.py "$LCM_PANEL_SOCKET" "$1" >"$work/clients" 2>"$work/clients.err" &
  clients=$!
}
wait_for() {
  for _ in $(seq $((($2) * 10))); do
    grep -qx "$1" "$work/clients" && return
    kill -0 "$clients" 2>/dev/null || break
    sleep 0.1
  done
  echo "the clients did not report \"$1\": $(cat "$work/clients.err")" >&2
  exit 1
}
finish_clients() {
  wait "$clients" || { echo "the clients failed: $(cat "$work/clients.err")" >&2 && exit 1; }
  clients=
}
stop_emulator() {
  kill -TERM "$emulator"
  wait "$emulator" || true
  emulator=
}

# The whole-screen refresh (every 60 s by default) is off, so that every
# redraw in the trace is one that a press or a widget update caused.
# shellcheck disable=SC2046
"$bin/lcm-emu" --trace $(press_options "$seconds") -- \
  "$bin/lcm-panel" --refresh 0 'echo lcm-panel bench' >/dev/null 2>"$work/trace" &
emulator=$!
if ! panel=$(find_panel "$emulator"); then
  echo "lcm-panel did not start: $(cat "$work/trace")" >&2
  exit 1
fi
start_clients "$seconds"
wait_for "in view" 30
read -r rss0 fds0 own0 _ < <(sample "$panel")
start=$(date +%s.%N)
wait_for paced $((seconds + 30))
read -r rss1 fds1 own1 _ < <(sample "$panel")
end=$(date +%s.%N)
peak=$(peak_kb "$panel")
finish_clients
stop_emulator

elapsed=$(seconds_between "$start" "$end")
summary=$(tail -n 1 "$work/clients")
field() { echo "$summary" | tr ' ' '\n' | awk -F= -v name="$1" '$1 == name { print $2 }'; }

# From the module's trace (rows counted from 0 there): how long a pass with
# nothing to draw takes, from one button query to the next; each press's
# time to the first byte of the redraw it causes, the top row's position,
# since the press changes "client N"; and the bottom row's redraws and cells
# from the first press on. The bursts begin with the first 'b' written at the start
# of the bottom row; the first top-row redraw after them is the page coming
# back as the clients leave.
awk -v starts="$(press_starts "$seconds" | tr '\n' ' ')" '
  BEGIN { presses = split(starts, press, " ") }
  !/^lcm-emu \+/ { next }
  { t = substr($2, 2) + 0 }
  NR == FNR {
    query = /button query/
    if (query && after_query) { gaps += t - last_query; passes++ }
    if (query) last_query = t
    after_query = query
    if (/set position row 1 /) last_bottom = FNR
    if (!burst_from && /text .b. at row 1 column 0$/) burst_from = last_bottom
    next
  }
  burst_from && FNR >= burst_from {
    if (/set position row 0 /) left = 1
    if (!left && /set position row 1 /) burst_redraws++
    next
  }
  /set position row 0 / { top[++tops] = t }
  t >= press[1] && /set position row 1 / { redraws++ }
  t >= press[1] && /  text .* at row 1 column/ { cells++ }
  END {
    answered = 0
    for (p = 1; p <= presses; p++) {
      limit = p < presses ? press[p + 1] : press[p] + 1000
      for (r = 1; r <= tops && top[r] < press[p]; r++) {}
      if (r <= tops && top[r] < limit) {
        answered++
        print "latency", top[r] - press[p]
      }
    }
    printf "counts %d %d %d %d %d %.2f\n", presses, answered, redraws, cells, burst_redraws, passes ? gaps / passes : 0
  }' "$work/trace" "$work/trace" >"$work/figures"
read -r _ presses answered redraws cells burst_redraws pass_ms < <(grep '^counts' "$work/figures")
latencies=$(awk '$1 == "latency" { print $2 }' "$work/figures")
median_ms=$(echo "$latencies" | median)
worst_ms=$(echo "$latencies" | sort -n | tail -n 1)

# Heap: every allocation of a shorter run under valgrind, with the clients,
# the presses and the bursts.
# shellcheck disable=SC2046
"$bin/lcm-emu" $(press_options "$heap_seconds") -- valgrind --trace-children=no \
  --xtree-memory=full --xtree-memory-file="$work/heap.kcg" "$bin/lcm-panel" --refresh 0 'echo lcm-panel bench' >/dev/null 2>"$work/valgrind" &
emulator=$!
start_clients "$heap_seconds"
wait_for paced $((heap_seconds + 60))
finish_clients
stop_emulator
read -r allocs start_allocs loop_allocs < <(panel_allocs "$work/valgrind" "$work/heap.kcg")

# A press waits for the pass it starts in, which may hold a bottom-row
# redraw (the rows are written at the cell just set, without a position
# query), then for the query that sees it: 10 ms more. Three passes with
# nothing to draw bound that.
# A panel whose buttons were left alone for a second pauses 30 ms between
# passes (the first press of the run comes after 3 s untouched): such a
# press may wait out one pause more.
IDLE_PAUSE_MS=30
bound_ms=$(awk -v p="$pass_ms" -v i="$IDLE_PAUSE_MS" 'BEGIN { printf "%.1f", 3 * p + i }')
panel_share=$(share $((own1 - own0)) "$elapsed")
echo "lcm-panel through lcm-emu for $elapsed s, $(field clients) display clients each setting a string widget 10 times a second"
printf '  CPU share of lcm-panel: %s%% of one core  %s\n' "$panel_share" \
  "$(verdict "$(awk -v s="$panel_share" 'BEGIN { print s < 3 }')")"
printf '  CPU share of the clients, apart from the panel: %s%% of one core\n' \
  "$(awk -v c="$(field cpu_s)" -v s="$elapsed" 'BEGIN { printf "%.2f", c * 100 / s }')"
print_footprint "$rss0" "$rss1" "$peak" "$fds0" "$fds1"
printf '  press to the first byte of its redraw, %s of %s presses: median %s ms, worst %s ms (a pass and the waits, and an idle pause: 3 x %s + %s = %s ms)  %s\n' \
  "$answered" "$presses" "$median_ms" "$worst_ms" "$pass_ms" "$IDLE_PAUSE_MS" "$bound_ms" \
  "$(verdict "$(awk -v a="$answered" -v p="$presses" -v w="${worst_ms:-999}" -v b="$bound_ms" \
    'BEGIN { print a == p && w <= b }')")"
printf '  widget sets: %s, %s on the screen in view; %s redraws of its row with %s presses, %s cells written  %s\n' \
  "$(field sets)" "$(field in_view)" "$redraws" "$presses" "$cells" \
  "$(verdict "$((redraws <= $(field in_view) + presses))")"
printf '  bursts of %s sets in one write: %s bursts, %s redraws of the row  %s\n' "$(field burst_sets)" \
  "$(field bursts)" "$burst_redraws" "$(verdict "$(($(field bursts) > 0 && burst_redraws == $(field bursts)))")"
printf '  heap allocations over a %s s run with clients under valgrind: %s in the loop (%s in all, %s the server thread'"'"'s start)  %s\n' \
  "$heap_seconds" "$loop_allocs" "$allocs" "$start_allocs" "$(verdict "$(is_zero "$loop_allocs")")"
