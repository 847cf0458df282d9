#!/usr/bin/env bash
# Builds the Debian packages the way a distribution would and checks them:
#   1. dpkg-buildpackage -us -uc -b in a copy of the tree (the build runs the
#      unit tests), plus the source package;
#   2. lintian: no error and no warning; mandoc -T lint on the man pages;
#      systemd-analyze rates each unit 2.5 or better;
#   3. in a throwaway root, installs both packages, runs the installed
#      lcm-show through the installed lcm-emu, runs the packages' own tests
#      (debian/tests, DEP-8) with autopkgtest's null runner against the
#      installed programs, and purges them, checking that nothing of them
#      is left.
# The throwaway root is a private mount namespace in which /usr, /etc and
# /var are overlays on a scratch tmpfs: dpkg and the maintainer scripts run
# for real there, but the machine's own files and package database are never
# touched, and everything is gone when the namespace ends.
# Needs root (or sudo) for the namespace. Leaves the packages in
# build-package/ (in the tree, ignored by git).
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
scripts/install-deps.sh debhelper lintian mandoc man-db systemd autopkgtest

work=$(mktemp -d /tmp/lcm-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

echo "== build: dpkg-buildpackage -us -uc -b (with the unit tests)"
# Only what git tracks or would track: no build folders of this tree.
mkdir "$work/lcm"
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
  xargs -0 cp --parents -t "$work/lcm"
(cd "$work" && dpkg-source --build lcm >"$work/source.log" 2>&1) || { cat "$work/source.log"; exit 1; }
if ! (cd "$work/lcm" && dpkg-buildpackage -us -uc -b -j"$(nproc)" >"$work/build.log" 2>&1); then
  tail -n 60 "$work/build.log"
  exit 1
fi
grep -E '^[0-9]+% tests passed|tests skipped|\(Skipped\)' "$work/build.log" | sed 's/^/   /' || true
version=$(dpkg-parsechangelog -l debian/changelog -S Version)
rm -rf build-package
mkdir build-package
cp "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo "$work"/*.dsc "$work"/*.tar.* build-package/
for deb in build-package/lcm-tools_"$version"_*.deb build-package/lcm-emu_"$version"_*.deb; do
  echo "   $deb"
  dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { print "     " $6 }'
done

echo "== lintian (fails on an error or a warning)"
status=0
# lintian leaves small folders in TMPDIR; let them go with the rest.
mkdir "$work/tmp"
report=$(TMPDIR="$work/tmp" lintian --fail-on error,warning --display-info build-package/*.changes build-package/*.dsc 2>&1) || status=$?
grep -v '^running with root privileges' <<<"$report" | sed 's/^/   /' || true
[ "$status" -eq 0 ] || { echo "lintian: errors or warnings above"; exit 1; }
echo "   no error, no warning"

echo "== mandoc -T lint on the packaged man pages"
mkdir "$work/unpacked" "$work/man"
for deb in build-package/lcm-tools_*.deb build-package/lcm-emu_*.deb; do
  dpkg-deb -x "$deb" "$work/unpacked"
done
for page in "$work"/unpacked/usr/share/man/man[15]/*.[15].gz; do
  name=$(basename "$page" .gz)
  zcat "$page" >"$work/man/$name"
  # The version and the date come from debian/changelog.
  if ! head -n 1 "$work/man/$name" | grep -q "\"lcm $version\""; then
    echo "$name: the .TH line does not carry version $version: $(head -n 1 "$work/man/$name")"
    exit 1
  fi
done
mandoc -T lint "$work"/man/*
echo "   clean: $(cd "$work/man" && echo *)"

echo "== systemd-analyze security of the units (2.5 or better)"
for unit in "$work"/unpacked/lib/systemd/system/*.service; do
  rating=$(systemd-analyze security --offline=true "$unit" 2>/dev/null |
    sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
  echo "   $(basename "$unit"): exposure $rating"
  awk -v r="$rating" 'BEGIN { exit !(r != "" && r <= 2.5) }' || { echo "   more than 2.5"; exit 1; }
done

echo "== install, run and purge in a throwaway root"
$sudo scripts/package-throwaway-root.sh "$work/layers" "$version" "$work/lcm" \
  build-package/lcm-tools_"$version"_*.deb build-package/lcm-emu_"$version"_*.deb
