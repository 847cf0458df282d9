#!/usr/bin/env bash
# The table's commands and checks, and awk programs, are single-quoted on
# purpose: they are expanded where they run.
# shellcheck disable=SC2016,SC2034
# The real programs on a real kernel serial driver: boots a small virtual
# machine (a Debian kernel, busybox, the programs and the libraries they
# link) whose ttyS1 is QEMU's emulated 16550 UART, driven by Linux's 8250
# driver, with lcm-emu --line playing the module on the UART's host end (a
# pair of named pipes). For each case of the table below the host starts
# lcm-emu --line with the case's options, has the guest run the case's
# command over the console (ttyS0, another pair of named pipes), stops
# lcm-emu and checks the guest's exit status and output, the bytes on the
# wire and the module's screen. A failing case is named and shows the
# screen, the trace and the guest's output.
#
# Needs root (or sudo) to install qemu-system-x86 and cpio when missing. The
# kernel and busybox-static packages are fetched with apt-get download and
# unpacked, never installed, into a cache kept between runs:
# $LCM_VM_CACHE, by default ~/.cache/lcm-real-uart.
# The programs come from build/ when it is configured (scripts/test.sh's
# default preset), built there if out of date; otherwise from build-vm/.
# Skips, saying why in one line, only where QEMU cannot start at all.
# Usage: scripts/check-real-uart.sh   (LCM_VM_CASES="NAME ..." runs only those)
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
say() { echo "check-real-uart: $*"; }

# ---------------------------------------------------------------------------
# The cases. Each row: name, lcm-emu's options, the command the guest runs
# (with busybox's sh), and the checks on its outcome (see "Checks").

# lcm-show's bytes up to its first line, then the whole of lcm-show Hello World.
HELLO_PREFIX="00 01 02 03 04 05 06 07 FE 01 02 03 04 05 06 07 FE 06 FE 03 FE 0A FE 09 00 FE 0A"
HELLO_WORLD="$HELLO_PREFIX 48 65 6C 6C 6F FE 09 40 FE 0A 57 6F 72 6C 64"
EVERY_ENTRY='show_position\ninput_position\n1 5\ndisplay_off\ndisplay_on\nshow_cursor\nhide_cursor\ncursor_home\ncursor_next\ncursor_prev\ncursor_backspace\nclear_screen\nstart_watcher\nstop_watcher\nquit\n'
TWO_PAGES="'echo one; echo first' 'echo two; echo second'"

names=() options=() commands=() checks=()
row() { names+=("$1") options+=("$2") commands+=("$3") checks+=("$4"); }

#   name             lcm-emu options          the guest's command, then the checks
row show-hello-world ""                       "lcm-show Hello World" \
  'status 0; no_errors; wire "$HELLO_WORLD"; screen Hello World'
row line-left-raw    ""                       "lcm-show Hello World && stty -a -F /dev/ttyS1" \
  'status 0; output_has "speed 9600 baud"; output_has_words cs8 -parenb -cstopb -icanon -isig -iexten -echo -opost -icrnl -ixon "min = 1"'
row silent-module    "--silent"               "lcm-show Hello World" \
  'status 1; error_lines 1; errors_have "/dev/ttyS1"; screen Hello World'
row two-shows        ""                       'lcm-show aaaa bbbb & lcm-show cccc dddd; a=$?; wait $!; echo "status $a $?"' \
  'status 0; no_errors; output_has "status 0 0"; one_whole_pair'
row console-entries  ""                       "printf '$EVERY_ENTRY' | lcm-console" \
  'status 0; no_errors; output_has "LCM is cleared!"; output_has "Button watcher is stopped now!"; wire_as_on_a_pty'
row watcher-press    "--press up@1500+400"    "(echo start_watcher; sleep 4; echo quit) | lcm-console" \
  'status 0; no_errors; output_has "Up button"; screen "*" " Up pushed "'
row panel-pages      "--press down@2500+300"  "lcm-panel $TWO_PAGES & p=\$!; sleep 6; kill \$p; wait \$p; echo \"status \$?\"" \
  'status 0; no_errors; output_has "status 0"; wire_has "one" "first" "two" "second"; screen two second'
row show-to-panel    ""                       "lcm-panel 'echo one; echo first' & p=\$!; sleep 2; lcm-show Updating 45%; s=\$?; sleep 1; kill \$p; wait \$p; echo \"status \$s \$?\"" \
  'status 0; no_errors; output_has "status 0 0"; wire_has "one" "first" "Updating" "45%"; screen Updating 45%'
row stuck-last-byte  "--stall-after 37"       "lcm-show Hello W" \
  'status 1; errors_have "the bytes were not sent"; ends_after_last_write 2.5'
row stuck-last-five  "--stall-after 37"       "lcm-show Hello World" \
  'status 1; errors_have "the bytes were not sent"; ends_after_last_write 2.5'

# ---------------------------------------------------------------------------
# Checks. Each adds to $problems what it finds wrong with the case in $case.

problems=()
problem() { problems+=("$*"); }
# Bytes as upper-case hexadecimal pairs on one line: standard input's, a
# file's, a text's.
hex() { od -An -tx1 -v | tr -s ' \n' '  ' | sed 's/^ //; s/ $//' | tr a-f A-F; }
hex_of() { hex <"$1"; }
text_hex() { printf '%s' "$1" | hex; }

status() { [ "$guest_status" = "$1" ] || problem "exit status $guest_status, not $1"; }
no_errors() { [ ! -s "$case/err" ] || problem "standard error is not empty"; }
error_lines() {
  local count
  count=$(wc -l <"$case/err")
  [ "$count" = "$1" ] || problem "$count lines on standard error, not $1"
}
errors_have() { grep -qF -- "$1" "$case/err" || problem "standard error lacks '$1'"; }
output_has() { grep -qF -- "$1" "$case/out" || problem "standard output lacks '$1'"; }
output_has_words() {
  local word
  for word in "$@"; do
    grep -qE -- "(^|[ ;])$word(;|\$| )" "$case/out" || problem "standard output lacks '$word'"
  done
}
wire() {
  local got
  got=$(hex_of "$case/wire")
  [ "$got" = "$1" ] || problem "the wire carried $got"$'\n'"              not $1"
}
wire_has() {
  local got text
  got=$(hex_of "$case/wire")
  for text in "$@"; do
    [[ "$got" == *"$(text_hex "$text")"* ]] || problem "the wire lacks '$text'"
  done
}
# The two rows of the drawn screen; "*" stands for any row.
screen() {
  local row line
  for row in 0 1; do
    local expected=$1
    shift
    [ "$expected" = "*" ] && continue
    line=$(sed -n "$((row + 2))p" "$case/screen")
    [ "$line" = "$(printf '|%-16s|' "$expected")" ] || problem "row $row of the screen is not '$expected'"
  done
}
# One lcm-show ran whole, then the other: the screen holds the second pair.
one_whole_pair() {
  local ab cd got
  ab="$HELLO_PREFIX $(text_hex aaaa) FE 09 40 FE 0A $(text_hex bbbb)"
  cd="$HELLO_PREFIX $(text_hex cccc) FE 09 40 FE 0A $(text_hex dddd)"
  got=$(hex_of "$case/wire")
  if [ "$got" = "$ab $cd" ]; then
    screen cccc dddd
  elif [ "$got" = "$cd $ab" ]; then
    screen aaaa bbbb
  else
    problem "the wire does not carry one whole run and then the other: $got"
  fi
}
# The same bytes as the case's command sends through lcm-emu's
# pseudo-terminal on the host, but for the watcher's button queries, whose
# number depends on timing.
wire_as_on_a_pty() {
  local reference=$case/pty-wire
  if ! "$bin/lcm-emu" --wire "$reference" -- /bin/sh -c "PATH=$bin:\$PATH; ${commands[$index]}" \
    >"$case/pty-out" 2>&1; then
    problem "the same command through lcm-emu on the host failed: $(head -n 3 "$case/pty-out")"
    return
  fi
  local got expected
  got=$(hex_of "$case/wire" | sed 's/FE 0B//g; s/  */ /g')
  expected=$(hex_of "$reference" | sed 's/FE 0B//g; s/  */ /g')
  [ "$got" = "$expected" ] || problem "the wire carried $got"$'\n'"              not, as on a pty, $expected"
}
# The guest's run less the link's start (three 100 ms flushes before the
# first byte) and less the moment of the last byte the module took.
ends_after_last_write() {
  local last_ms
  last_ms=$(sed -nE 's/^lcm-emu \+([0-9]+) ms: [0-9A-F]{2} .*/\1/p' "$case/trace" | tail -n 1)
  local after
  after=$(awk -v run="$guest_seconds" -v last="${last_ms:-0}" 'BEGIN { printf "%.2f", run - 0.3 - last / 1000 }')
  awk -v after="$after" -v bound="$1" 'BEGIN { exit !(after <= bound) }' ||
    problem "ended $after s after its last write (about 2 s at most)"
}

# ---------------------------------------------------------------------------
# What the stage needs.

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if ! scripts/install-deps.sh --only qemu-system-x86 cpio >/dev/null; then
  say "skipped: qemu-system-x86 could not be installed, so QEMU cannot start here"
  exit 0
fi
if ! qemu-system-x86_64 -version >/dev/null 2>&1; then
  say "skipped: qemu-system-x86_64 does not run here: $(qemu-system-x86_64 -version 2>&1 | head -n 1)"
  exit 0
fi

cache=${LCM_VM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/lcm-real-uart}
mkdir -p "$cache"
# The newest Debian cloud kernel (small, boots fast, the 8250 driver built
# in) and busybox-static, unpacked from their packages.
fetch_guest_parts() {
  local kernel_package
  local newest='/Depends: linux-image-/ && !found { found = $2 } END { print found }'
  kernel_package=$(apt-cache depends linux-image-cloud-amd64 2>/dev/null | awk "$newest" || true)
  if [ -z "$kernel_package" ]; then
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    kernel_package=$(apt-cache depends linux-image-cloud-amd64 | awk "$newest")
  fi
  local download
  download=$(mktemp -d)
  chmod 755 "$download"
  say "fetching $kernel_package and busybox-static (not installed)"
  (cd "$download" && apt-get download -q "$kernel_package" busybox-static >/dev/null 2>&1) || {
    say "apt-get download $kernel_package busybox-static failed"
    exit 1
  }
  dpkg-deb --fsys-tarfile "$download"/linux-image-*.deb | tar -xO --wildcards './boot/vmlinuz-*' >"$cache/vmlinuz.new"
  dpkg-deb --fsys-tarfile "$download"/busybox-static_*.deb | tar -xO ./bin/busybox >"$cache/busybox.new"
  chmod 755 "$cache/busybox.new"
  mv "$cache/vmlinuz.new" "$cache/vmlinuz"
  mv "$cache/busybox.new" "$cache/busybox"
  echo "$kernel_package" >"$cache/kernel-package"
  rm -rf "$download"
}
if [ ! -s "$cache/vmlinuz" ] || [ ! -x "$cache/busybox" ]; then
  fetch_guest_parts
fi

programs=(lcm-show lcm-console lcm-panel lcm-emu)
if [ -f build/CMakeCache.txt ]; then
  build=build
else
  build="build-vm"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLCM_BUILD_TESTS=OFF >/dev/null
fi
log=$(mktemp)
if ! cmake --build "$build" --target "${programs[@]}" -j"$(nproc)" >"$log" 2>&1; then
  cat "$log"
  rm -f "$log"
  exit 1
fi
rm -f "$log"
bin=$(cd "$build/bin" && pwd)

work=$(mktemp -d /tmp/lcm-real-uart.XXXXXX)
qemu_pid=""
emulator_pid=""
cleanup() {
  [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null
  [ -n "$qemu_pid" ] && kill "$qemu_pid" 2>/dev/null && wait "$qemu_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# ---------------------------------------------------------------------------
# The initramfs: busybox, the programs, what they link, and an init that
# runs each command the host sends on the console.

root=$work/root
mkdir -p "$root"/{bin,usr/bin,dev,proc,sys,tmp,run}
cp "$cache/busybox" "$root/bin/busybox"
for program in lcm-show lcm-console lcm-panel; do
  cp "$bin/$program" "$root/usr/bin/"
done
# glibc loads libgcc_s.so.1 at run time (pthread_exit), which ldd does not list.
libraries=$(for program in lcm-show lcm-console lcm-panel; do ldd "$bin/$program"; done |
  awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' | sort -u)
libgcc=$(ldconfig -p | awk '/libgcc_s\.so\.1 .*x86-64/ { found = $NF } END { print found }')
for library in $libraries $libgcc; do
  cp --parents -L "$library" "$root"
done
cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/usr/bin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# Where lcm-panel serves display clients, as on any Linux system.
mount -t tmpfs -o mode=0755 tmpfs /run
exec </dev/ttyS0 >/dev/ttyS0 2>&1
stty -echo -onlcr
echo "@@ready"
while IFS= read -r line; do
  case "$line" in
  "run "*)
    read -r start _ </proc/uptime
    sh -c "${line#run }" >/tmp/out 2>/tmp/err </dev/null
    status=$?
    read -r end _ </proc/uptime
    awk '{ print "@out " $0 }' /tmp/out
    awk '{ print "@err " $0 }' /tmp/err
    echo "@@done $status $start $end"
    ;;
  poweroff) poweroff -f ;;
  esac
done
EOF
chmod 755 "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet >"$work/initramfs.cpio")

# ---------------------------------------------------------------------------
# The machine: 256 MB, one CPU, the console and the module's line each on a
# pair of named pipes (QEMU reads what its guest receives from NAME.in and
# writes what the guest sends to NAME.out).

mkfifo "$work"/console.in "$work"/console.out "$work"/line.in "$work"/line.out
exec {to_guest}<>"$work/console.in" {from_guest}<>"$work/console.out"

boot() {
  local accelerator=$1
  qemu-system-x86_64 -accel "$accelerator" -m 256 -smp 1 -nodefaults -no-user-config -display none \
    -monitor none -no-reboot -kernel "$cache/vmlinuz" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 quiet panic=-1" \
    -chardev pipe,id=console,path="$work/console" -serial chardev:console \
    -chardev pipe,id=module,path="$work/line" -serial chardev:module \
    >"$work/qemu.log" 2>&1 &
  qemu_pid=$!
}

# 0 once the guest's init is ready, 1 when the time ran out, 2 when QEMU ended.
await_guest() {
  local deadline=$((SECONDS + $1)) line
  while [ "$SECONDS" -lt "$deadline" ]; do
    if IFS= read -r -t 1 line <&"$from_guest"; then
      [[ "$line" == "@@ready"* ]] && return 0
    fi
    kill -0 "$qemu_pid" 2>/dev/null || return 2
  done
  return 1
}

stop_qemu() {
  kill "$qemu_pid" 2>/dev/null || true
  wait "$qemu_pid" 2>/dev/null || true
  qemu_pid=""
}

boot_started=$SECONDS
accelerator=tcg
# A KVM guest that works reaches its init at once; a nested hypervisor can
# leave one stuck before its kernel even starts.
if [ -r /dev/kvm ] && [ -w /dev/kvm ]; then
  boot kvm
  if await_guest 4; then
    accelerator=kvm
  else
    stop_qemu
  fi
fi
if [ "$accelerator" = tcg ]; then
  boot tcg
  ready=0
  await_guest 90 || ready=$?
  if [ "$ready" -eq 2 ]; then
    say "skipped: QEMU cannot start here: $(grep -m 1 . "$work/qemu.log" || echo "it ended at once")"
    exit 0
  elif [ "$ready" -ne 0 ]; then
    say "the virtual machine did not reach its init within 90 s"
    cat "$work/qemu.log"
    exit 1
  fi
fi
say "$(cat "$cache/kernel-package" 2>/dev/null || echo "the cached kernel") booted under $accelerator in $((SECONDS - boot_started)) s"

# ---------------------------------------------------------------------------
# One case: lcm-emu on the line, the command in the guest, lcm-emu stopped.

# Bytes QEMU's UART still holds from a stalled case come out once the pipe
# is read; they are dropped here, before the next case's module listens.
settle_line() {
  timeout 0.3 cat "$work/line.out" >/dev/null 2>&1 || true
}

start_emulator() {
  local extra
  read -ra extra <<<"$1"
  "$bin/lcm-emu" --trace --wire "$case/wire" "${extra[@]}" --line "$work/line" >"$case/screen" 2>"$case/trace" &
  emulator_pid=$!
  local waited=0
  until grep -qs "^lcm-emu: the module is on" "$case/trace"; do
    if ! kill -0 "$emulator_pid" 2>/dev/null || [ "$waited" -ge 500 ]; then
      problem "lcm-emu did not start: $(cat "$case/trace")"
      return 1
    fi
    sleep 0.02
    waited=$((waited + 1))
  done
}

stop_emulator() {
  [ -n "$emulator_pid" ] || return 0
  kill -TERM "$emulator_pid" 2>/dev/null || true
  local status=0
  wait "$emulator_pid" || status=$?
  emulator_pid=""
  [ "$status" -eq 0 ] || problem "lcm-emu ended with status $status"
}

# Reads the guest's output until the end line of its command, for up to
# $1 seconds.
await_guest_command() {
  local deadline=$((SECONDS + $1)) line
  while [ "$SECONDS" -lt "$deadline" ]; do
    IFS= read -r -t 1 line <&"$from_guest" || continue
    line=${line%$'\r'}
    case "$line" in
    "@out "*) printf '%s\n' "${line#@out }" >>"$case/out" ;;
    "@err "*) printf '%s\n' "${line#@err }" >>"$case/err" ;;
    "@@done "*)
      read -r _ guest_status start end <<<"$line"
      guest_seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
      return 0
      ;;
    esac
  done
  return 1
}

# A program whose bytes are stuck waits in its last close for the driver's
# closing wait (30 s), and not even SIGKILL ends that wait: a stalled line
# is let go after a few seconds, so that the bytes leave and it ends.
run_in_guest() {
  local patience=60
  [[ "$2" == *--stall-after* ]] && patience=8
  : >"$case/out"
  : >"$case/err"
  guest_status=none
  guest_seconds=none
  printf 'run %s\n' "$1" >&"$to_guest"
  await_guest_command "$patience" && return 0
  problem "the command was still running after $patience s; the line was let go"
  stop_emulator
  settle_line
  await_guest_command 40 || problem "the guest did not finish the command"
}

show_case() {
  echo "   the guest ran: ${commands[$1]}"
  echo "   status $guest_status after $guest_seconds s; standard output:"
  sed 's/^/     /' "$case/out"
  echo "   standard error:"
  sed 's/^/     /' "$case/err"
  echo "   the module's screen:"
  sed 's/^/     /' "$case/screen"
  echo "   lcm-emu's trace:"
  sed 's/^/     /' "$case/trace"
}

passed=() failed=()
for index in "${!names[@]}"; do
  name=${names[$index]}
  [ -z "${LCM_VM_CASES:-}" ] || [[ " $LCM_VM_CASES " == *" $name "* ]] || continue
  case=$work/$name
  mkdir -p "$case"
  problems=()
  case_started=$SECONDS
  settle_line
  if start_emulator "${options[$index]}"; then
    run_in_guest "${commands[$index]}" "${options[$index]}"
    stop_emulator
    eval "${checks[$index]}"
  fi
  took=$((SECONDS - case_started))
  if [ ${#problems[@]} -eq 0 ]; then
    say "ok $name (${took} s)"
    passed+=("$name")
    continue
  fi
  say "FAIL $name (${took} s):"
  printf '   %s\n' "${problems[@]}"
  show_case "$index"
  failed+=("$name")
done

printf 'poweroff\n' >&"$to_guest"
for _ in 1 2 3 4 5 6 7 8 9 10; do
  kill -0 "$qemu_pid" 2>/dev/null || break
  sleep 0.2
done
stop_qemu

say "the stage took $((SECONDS - started)) s"
echo "check-real-uart: ${#passed[@]} passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
