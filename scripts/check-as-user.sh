#!/usr/bin/env bash
# Runs the end-to-end tests as an ordinary user on a devpts mounted the way
# Debian usually mounts it (gid=5,mode=620: every pseudo-terminal in the
# group tty), which the machines the tests usually run on do not show.
# Usage (as root): scripts/check-as-user.sh [build-dir]   (default: build)
#
# A throwaway system user is made for the run and removed afterwards. The
# tests run in a mount namespace of this script's own, in which a new devpts
# instance with those options is mounted over /dev/pts; the machine's own
# /dev/pts is not touched. Each test program's result is reported, and the
# script ends non-zero when one failed.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
build=${1:-build}

if [ "$(id -u)" -ne 0 ]; then
  echo "check-as-user: run as root: it makes a throwaway user and a mount namespace" >&2
  exit 2
fi
programs=()
for name in e2e_test isolation_test line_test panel_e2e_test handover_e2e_test console_e2e_test; do
  [ -x "$build/tests/bin/$name" ] && programs+=("$(realpath "$build/tests/bin/$name")")
done
if [ ${#programs[@]} -eq 0 ]; then
  echo "check-as-user: no test programs under $build/tests/bin: build first" >&2
  exit 2
fi

user=lcm-check-$$
if ! useradd --system --no-create-home --shell /usr/sbin/nologin "$user"; then
  echo "check-as-user: cannot make the user $user" >&2
  exit 2
fi
work=$(mktemp -d /tmp/lcm-check-as-user.XXXXXX)
# The user's TMPDIR and HOME: the tests make their scratch folders there.
chown "$user:" "$work"
trap 'userdel "$user" 2>/dev/null; rm -rf "$work"' EXIT

# The programs the tests run are found by the paths compiled into them, so
# the build tree must be one the user may read and search.
inner=$(cat <<'INNER'
set -u
work=$1 user=$2
shift 2
mount --make-rprivate / || exit 3
mount -t devpts -o newinstance,gid=5,mode=620,ptmxmode=0666 devpts /dev/pts || exit 4
mount --bind /dev/pts/ptmx /dev/ptmx || exit 5
status=0
for program in "$@"; do
  name=${program##*/}
  if setpriv --reuid "$user" --regid "$user" --clear-groups --reset-env \
      env TMPDIR="$work" HOME="$work" "$program" --gtest_brief=1 >"$work/$name.log" 2>&1; then
    echo "passed: $name"
  else
    echo "FAILED: $name"
    grep -E '^\[  FAILED  \]' "$work/$name.log" | sort -u | sed 's/^/    /'
    status=1
  fi
done
exit $status
INNER
)
echo "== as $user, devpts gid=5,mode=620 (a namespace of its own)"
unshare --mount --fork bash -c "$inner" inner "$work" "$user" "${programs[@]}"
status=$?
case $status in
  0) echo "== every program passed" ;;
  3 | 4 | 5) echo "check-as-user: could not set up the namespace's devpts (step $status)" >&2 ;;
  *) echo "== some failed; the logs were in $work (removed on exit)" ;;
esac
exit $status
