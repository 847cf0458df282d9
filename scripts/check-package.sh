#!/usr/bin/env bash
# Builds the .deb, installs it on this machine, runs the installed lcm-show
# through the installed lcm-emu, and removes the package again, checking that
# nothing of it is left. Needs root (or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
scripts/install-deps.sh man-db
build=build-package
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DLCM_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
rm -f "$build"/*.deb
(cd "$build" && cpack >/dev/null 2>&1)
deb=$(ls "$build"/*.deb)
echo "== $deb"
dpkg-deb -c "$deb" | awk '{ print "   " $6 }'

$sudo dpkg -i "$deb" >/dev/null
expected=$'+----------------+\n|Hello           |\n|World           |\n+----------------+'
shown=$(/usr/bin/lcm-emu -- /usr/bin/lcm-show Hello World)
if [ "$shown" != "$expected" ]; then
  echo "the installed lcm-show showed:"
  echo "$shown"
  $sudo dpkg -r lcm-tools >/dev/null
  exit 1
fi
for page in lcm-show lcm-console lcm-emu; do
  man -w "$page" >/dev/null
done
echo "installed: lcm-show through lcm-emu shows Hello/World, man pages found"

files=$(dpkg -L lcm-tools | grep -E '^/usr/(bin|share/man|share/doc/lcm)/.')
$sudo dpkg -r lcm-tools >/dev/null
left=""
for f in $files; do
  [ -f "$f" ] && left="$left $f"
done
if dpkg -s lcm-tools >/dev/null 2>&1 || [ -n "$left" ]; then
  echo "left behind after removal:$left"
  exit 1
fi
echo "removed cleanly"
