#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the checks need, if
# any is missing.
# Usage: scripts/install-deps.sh [extra-package ...]
#        scripts/install-deps.sh --only package ...   (just those)
set -euo pipefail

if [ "${1:-}" = --only ]; then
  shift
  packages=("$@")
else
  packages=(cmake make g++ dpkg-dev libinih-dev libgtest-dev libgmock-dev clang libclang-rt-14-dev clang-tidy clang-format cppcheck python3 "$@")
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then
    sudo="sudo"
  else
    echo "install-deps: not root and no sudo; please install: ${missing[*]}" >&2
    exit 1
  fi
fi
# Through env: sudo would drop an exported DEBIAN_FRONTEND.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
