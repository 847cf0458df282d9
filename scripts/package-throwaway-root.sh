#!/usr/bin/env bash
# Run by scripts/check-package.sh, as root. In a mount namespace of its own,
# makes /usr, /etc and /var overlays on a scratch tmpfs, installs the packages
# there with dpkg, runs the installed lcm-show through the installed lcm-emu
# and the source's DEP-8 tests (debian/tests) with autopkgtest's null runner,
# purges the packages and checks that nothing of them is left. Nothing it
# mounts or writes is seen outside, and all of it goes with the namespace.
# Usage: package-throwaway-root.sh SCRATCH VERSION SOURCE lcm-tools.deb lcm-emu.deb
set -euo pipefail

if [ "${1:-}" != --in-own-namespace ]; then
  exec unshare --mount --propagation private "$0" --in-own-namespace "$@"
fi
shift
# unshare ran in this very process, so the caller is still outside: were the
# two namespaces the same, the overlays below would cover the machine's own.
if [ "$(readlink /proc/self/ns/mnt)" = "$(readlink "/proc/$PPID/ns/mnt")" ]; then
  echo "package-throwaway-root.sh: not in a mount namespace of its own; refusing to mount over /usr" >&2
  exit 1
fi

scratch=$1
version=$2
source=$3
shift 3
debs=("$@")

mkdir -p "$scratch"
mount -t tmpfs lcm-throwaway "$scratch"
for dir in usr etc var; do
  mkdir -p "$scratch/$dir/upper" "$scratch/$dir/work"
  mount -t overlay "lcm-throwaway-$dir" \
    -o "lowerdir=/$dir,upperdir=$scratch/$dir/upper,workdir=$scratch/$dir/work" "/$dir"
done

fail() {
  echo "$*"
  exit 1
}

dpkg -i "${debs[@]}" >"$scratch/install.log" 2>&1 || { cat "$scratch/install.log"; fail "dpkg -i failed"; }
for package in lcm-tools lcm-emu; do
  [ "$(dpkg-query -W -f='${Status} ${Version}' "$package")" = "install ok installed $version" ] ||
    fail "$package $version is not installed"
done
installed=$(dpkg -L lcm-tools lcm-emu)
echo "   installed lcm-tools and lcm-emu $version"

unit=/lib/systemd/system/lcm-show-host.service
[ -f "$unit" ] || fail "no $unit"
grep -q '^ExecStart=.* /usr/bin/lcm-show ' "$unit" || fail "the unit does not run /usr/bin/lcm-show"
unit=/lib/systemd/system/lcm-panel.service
grep -qx 'ExecStart=/usr/bin/lcm-panel --config /etc/lcm-panel.conf' "$unit" ||
  fail "the unit does not run lcm-panel --config /etc/lcm-panel.conf"
grep -qx 'Type=notify' "$unit" || fail "lcm-panel.service is not Type=notify"
conffiles=$(dpkg-query -W -f='${Conffiles}' lcm-tools)
grep -q '^ /etc/lcm-panel.conf [0-9a-f]*$' <<<"$conffiles" || fail "/etc/lcm-panel.conf is no conffile: $conffiles"
echo "   /etc/lcm-panel.conf is a conffile, and lcm-panel.service (Type=notify) runs lcm-panel with it"
for unit in /lib/systemd/system/lcm*.service; do
  name=$(basename "$unit")
  enabled=$(find /etc/systemd -name "$name" 2>/dev/null)
  [ -z "$enabled" ] || fail "$name was enabled on install: $enabled"
  # Quiet, or it found a key it does not know or a man page it cannot open.
  complaints=$(systemd-analyze verify "$unit" 2>&1) && [ -z "$complaints" ] ||
    fail "systemd-analyze verify $unit: $complaints"
  echo "   $name is in /lib/systemd/system, not enabled, and systemd-analyze verify finds nothing"
done

for page in lcm-show lcm-console lcm-panel lcm-emu; do
  man -w "$page" >/dev/null || fail "man $page: not found"
done
man -w 5 lcm-panel.conf >/dev/null || fail "man 5 lcm-panel.conf: not found"
for doc in copyright changelog.gz README.md.gz; do
  [ -f /usr/share/doc/lcm-tools/$doc ] || fail "no /usr/share/doc/lcm-tools/$doc"
done
echo "   man pages found; copyright, changelog and README in /usr/share/doc/lcm-tools"

expected=$'+----------------+\n|Hello           |\n|World           |\n+----------------+'
# A panel running on this machine would take the lines: none is asked.
shown=$(LCM_PANEL_SOCKET="$scratch/no-panel.sock" /usr/bin/lcm-emu -- /usr/bin/lcm-show Hello World) ||
  fail "lcm-emu -- lcm-show Hello World failed: $shown"
[ "$shown" = "$expected" ] || fail $'the installed lcm-show showed:\n'"$shown"
echo "   the installed lcm-show, through the installed lcm-emu, shows Hello/World"
for program in lcm-show lcm-console lcm-panel lcm-emu; do
  version_line=$(/usr/bin/$program --version 2>&1)
  [ "$version_line" = "$program $version" ] || fail "$program --version printed: $version_line"
done
echo "   every program's --version prints $version"

# The tests of debian/tests against what is installed here; whatever they
# install or leave goes with the overlays.
mkdir "$scratch/autopkgtest-tmp"
if ! TMPDIR="$scratch/autopkgtest-tmp" autopkgtest --no-built-binaries --output-dir "$scratch/autopkgtest" \
  "$source" -- null >"$scratch/autopkgtest.log" 2>&1; then
  cat "$scratch/autopkgtest.log"
  fail "autopkgtest failed"
fi
sed -n 's/^\([a-z0-9-]* *PASS\)$/   autopkgtest: \1/p' "$scratch/autopkgtest/summary"

dpkg --purge lcm-emu lcm-tools >"$scratch/purge.log" 2>&1 || { cat "$scratch/purge.log"; fail "dpkg --purge failed"; }
for package in lcm-tools lcm-emu; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ -z "$status" ] || [[ "$status" == *not-installed ]] || fail "$package after purge: $status"
done
left=""
while IFS= read -r path; do
  [ -e "$path" ] && [ ! -d "$path" ] && left="$left $path"
done <<<"$installed"
# Anything else of ours: new files or folders in the overlays that name lcm
# (removed ones show as whiteouts, character devices). man-db's cache of
# formatted pages is man-db's, not the package's; its daily run expires it.
left="$left $(find "$scratch"/{usr,etc,var}/upper -name '*lcm*' ! -type c ! -path '*/var/upper/cache/man/*' | tr '\n' ' ')"
[ -z "${left// /}" ] || fail "left behind after purge:$left"
echo "   purged: nothing of either package is left"
