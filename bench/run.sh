#!/usr/bin/env bash
# Benchmark of lcm-show, the button watcher and lcm-panel against the
# emulated module; with --clients, of lcm-panel serving display clients too,
# and with --menus, of a display client's menu walked on the buttons.
# Usage: bench/run.sh [--panel[=SECONDS]] [--clients[=SECONDS]] [--menus[=SECONDS]] [runs]
# (default 10 runs a timing; lcm-panel runs 10 s, or SECONDS, 600 when left
# out, with --panel; the clients run SECONDS, 60 when left out; the menu
# walk SECONDS, 30 when left out)
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/common.sh

panel_seconds=10
client_seconds=
menu_seconds=
while [ $# -gt 0 ]; do
  case "$1" in
  --panel) panel_seconds=600 ;;
  --panel=*) panel_seconds=${1#--panel=} ;;
  --clients) client_seconds=60 ;;
  --clients=*) client_seconds=${1#--clients=} ;;
  --menus) menu_seconds=30 ;;
  --menus=*) menu_seconds=${1#--menus=} ;;
  *) break ;;
  esac
  shift
done
runs=${1:-10}
scripts/install-deps.sh valgrind
cmake --preset default >/dev/null
cmake --build --preset default -j"$(nproc)" >/dev/null

bin=build/bin
rusage=build/bench/rusage
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The last line rusage printed: wall_us user_us system_us max_rss_kb status.
cost() {
  "$rusage" "$@" >/dev/null 2>"$work/cost" </dev/null || true
  tail -n 1 "$work/cost"
}

wall_us() {
  for _ in $(seq "$runs"); do cost "$@" | awk '{ print $1 }'; done | median
}

ms() { awk -v us="$1" 'BEGIN { printf "%.1f ms", us / 1000 }'; }

echo "lcm-show Hello World through lcm-emu, median of $runs runs"

# The waits the program must make: three 100 ms flushes at open and a 10 ms
# pause before each of the three replies; paced, 10 bits a byte at 9600 baud.
"$bin/lcm-emu" --wire "$work/wire" -- "$bin/lcm-show" Hello World >/dev/null
host_bytes=$(stat -c %s "$work/wire")
bytes=$((host_bytes + 3))
floor=330000
paced_floor=$(awk -v b="$bytes" -v f="$floor" 'BEGIN { printf "%d", f + b * 10 / 9600 * 1000000 }')

startup=$(wall_us "$bin/lcm-emu" -- "$bin/lcm-show")
plain=$(wall_us "$bin/lcm-emu" -- "$bin/lcm-show" Hello World)
paced=$(wall_us "$bin/lcm-emu" --pace -- "$bin/lcm-show" Hello World)

ratio() { awk -v t="$1" -v s="$startup" -v f="$2" 'BEGIN { printf "%.3f", (t - s) / f }'; }
plain_ratio=$(ratio "$plain" "$floor")
paced_ratio=$(ratio "$paced" "$paced_floor")
printf '  process start-up (emulator + lcm-show, no port)  %s\n' "$(ms "$startup")"
printf '  unpaced: wall %s, floor %s, (wall - start-up) / floor = %s  %s\n' \
  "$(ms "$plain")" "$(ms "$floor")" "$plain_ratio" "$(verdict "$(awk -v r="$plain_ratio" 'BEGIN { print r <= 1.03 }')")"
printf '  paced:   wall %s, floor %s (%d bytes on the line), ratio %s  %s\n' \
  "$(ms "$paced")" "$(ms "$paced_floor")" "$bytes" "$paced_ratio" \
  "$(verdict "$(awk -v r="$paced_ratio" 'BEGIN { print r <= 1.03 }')")"

# CPU of lcm-show alone, measured inside the emulator's namespace.
cpu=$(for _ in $(seq "$runs"); do
  "$bin/lcm-emu" -- "$rusage" "$bin/lcm-show" Hello World 2>&1 >/dev/null | tail -n 1 | awk '{ print $2 + $3 }'
done | median)
printf '  CPU of one run (user + system)  %s  %s\n' "$(ms "$cpu")" "$(verdict "$(awk -v c="$cpu" 'BEGIN { print c < 5000 }')")"

# Heap: every allocation of the run, and those made below main, that is by
# the project's own code rather than the C++ runtime's start-up.
"$bin/lcm-emu" -- valgrind --xtree-memory=full --xtree-memory-file="$work/heap.kcg" \
  "$bin/lcm-show" Hello World >/dev/null 2>"$work/valgrind"
total=$(grep -o 'total heap usage: [0-9,]* allocs' "$work/valgrind" | tr -dc 0-9)
own=$(allocs_below "$work/heap.kcg" ':main')
printf '  heap allocations: %s in the whole process, %s below main  %s\n' \
  "$total" "$own" "$(verdict "$((own == 0))")"

echo "Button watcher in lcm-console through lcm-emu"

# CPU share while the watcher runs for 10 seconds.
{ echo start_watcher; sleep 10; } | "$bin/lcm-emu" -- "$rusage" "$bin/lcm-console" >/dev/null 2>"$work/watch"
share=$(tail -n 1 "$work/watch" | awk '{ printf "%.2f", ($2 + $3) * 100 / $1 }')
printf '  CPU share over %s s  %s%% of one core  %s\n' "$(tail -n 1 "$work/watch" | awk '{ printf "%.1f", $1 / 1e6 }')" \
  "$share" "$(verdict "$(awk -v s="$share" 'BEGIN { print s < 1 }')")"

# Latency from each press to the end of its echo on row 1 (" Up pushed "
# ends with the space at column 10, right after the 'd' at column 9). The
# fixed waits alone make 30 ms of it: the pause before the button reply and
# the pauses before the two position replies of the wipe and the echo; the
# press itself waits up to one polling pass (about 10 ms) to be seen.
presses=()
starts=()
for i in $(seq 0 9); do
  at=$((1000 + i * 500))
  presses+=(--press "up@$at+100")
  starts+=("$at")
done
{ echo start_watcher; sleep 7; } |
  "$bin/lcm-emu" --trace "${presses[@]}" -- "$bin/lcm-console" >/dev/null 2>"$work/trace"
latencies=$(awk -v starts="${starts[*]}" '
  BEGIN { n = split(starts, press, " ") }
  /text/ {
    t = substr($2, 2) + 0
    if (after_d && /at row 1 column 10/) done[++echoes] = t
    after_d = /text .d. at row 1 column 9/
  }
  END {
    for (p = 1; p <= n; p++)
      for (e = 1; e <= echoes; e++)
        if (done[e] >= press[p]) { print done[e] - press[p]; break }
  }' "$work/trace")
count=$(echo "$latencies" | grep -c . || true)
med=$(echo "$latencies" | median)
max=$(echo "$latencies" | sort -n | tail -n 1)
printf '  press to echo on row 1, %s presses: median %s ms, worst %s ms (fixed waits: 30 ms)  %s\n' \
  "$count" "$med" "$max" \
  "$(verdict "$(awk -v m="$max" -v c="$count" 'BEGIN { print c == 10 && m <= 30 }')")"

bench/panel.sh "$panel_seconds"
[ -z "$client_seconds" ] || bench/clients.sh "$client_seconds"
[ -z "$menu_seconds" ] || bench/menus.sh "$menu_seconds"
