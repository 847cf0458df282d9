# Shell functions the benchmark's scripts share; sourced, not run.
# shellcheck shell=bash

verdict() { awk -v ok="$1" 'BEGIN { print (ok ? "meets target" : "MISSES target") }'; }

median() {
  sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The lcm-panel under an lcm-emu: the emulator's child is the init of the
# command's PID namespace, with the panel below it; where no PID namespace
# is allowed, the panel itself. Waits up to 10 s for it to start.
find_panel() {
  local emulator=$1 init
  for _ in $(seq 100); do
    pgrep -P "$emulator" -x lcm-panel && return
    for init in $(pgrep -P "$emulator"); do
      pgrep -P "$init" -x lcm-panel && return
    done
    sleep 0.1
  done
  return 1
}

# A panel's resident kB, open descriptors, own CPU ticks (user + system) and
# its reaped children's CPU ticks.
sample() {
  local panel=$1 rss fds own children
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$panel/status")
  # A page command's pipe is open for a few milliseconds a second; the
  # fewest of five looks a tenth of a second apart leave it out.
  fds=$(for _ in 1 2 3 4 5; do
    find "/proc/$panel/fd" -mindepth 1 -maxdepth 1 | wc -l
    sleep 0.1
  done | sort -n | head -n 1)
  # Fields after the command name: state is 3, utime 14, stime 15, cutime 16, cstime 17.
  read -r own children < <(sed 's/^.*) //' "/proc/$panel/stat" | awk '{ print $12 + $13, $14 + $15 }')
  echo "$rss $fds $own $children"
}

# The CPU share, in percent of one core, of a number of ticks over seconds.
share() {
  awk -v t="$1" -v hz="$(getconf CLK_TCK)" -v s="$2" 'BEGIN { printf "%.2f", t / hz * 100 / s }'
}

# Seconds between two readings of date +%s.%N, to a tenth.
seconds_between() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

# A process's peak resident kB.
peak_kb() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"; }

# The heap allocations a valgrind log counts.
heap_allocs() { grep -o 'total heap usage: [0-9,]* allocs' "$1" | tr -dc 0-9; }

# The allocations made below a function (its file:function, without the
# parameters, ends in NAME), as valgrind --xtree-memory=full counts them in
# FILE; 0 when none is. The whole report is read: a reader that stopped early
# would fail the pipe.
allocs_below() {
  callgrind_annotate --inclusive=yes "$1" 2>/dev/null | awk -v name="$2" '
    { gsub(/\([^)]*\)/, "") }
    !found && NF == 7 && substr($7, length($7) - length(name) + 1) == name { gsub(",", "", $4); print $4; found = 1 }
    END { if (!found) print 0 }'
}

# A panel's allocations from its valgrind log and xtree file: all of them,
# those of its server thread's start (the C library's, once, before the
# loop) and the rest, which the loop made; "unknown" without a log.
panel_allocs() {
  local all start
  all=$(heap_allocs "$1")
  [ -n "$all" ] || { echo "unknown 0 unknown"; return; }
  start=$(allocs_below "$2" ':server_start')
  echo "$all $start $((all - start))"
}

# 1 when a count is a known 0.
is_zero() { [ "$1" = 0 ] && echo 1 || echo 0; }

# Resident kB at the start, at the end and at the peak, then open
# descriptors at the start and at the end: neither may grow over a run.
print_footprint() {
  printf '  resident memory: %s kB at the start, %s kB at the end (peak %s kB)  %s\n' "$1" "$2" "$3" \
    "$(verdict "$(($2 <= $1))")"
  printf '  open descriptors: %s at the start, %s at the end  %s\n' "$4" "$5" "$(verdict "$(($5 == $4))")"
}
