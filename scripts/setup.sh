#!/usr/bin/env bash
# Installs, from Debian's archive, whatever the build, the tests and the demo need and the
# machine lacks. Quiet and quick when everything is there already.
set -euo pipefail
packages=(
  make cmake ninja-build
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64
  libsparsehash-dev googletest libgtest-dev
  clang lld
  g++ lcov libxml2-utils
  chromium
  python3
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
