#!/usr/bin/env bash
# Builds the Debian package of the call server, talmery-gateway_<version>_<arch>.deb, the Debian
# way (debian/ and dpkg-buildpackage), from a copy of the checkout: the checkout itself stays
# clean. Installs the build dependencies first when run as root.
# Usage: tools/package.sh [--version VERSION] [--older VERSION] [--out DIR]
#   --version  the package's version instead of debian/changelog's (an entry is added to the
#              copy's changelog)
#   --older    also packages the same build as VERSION (lower than the package's): the previous
#              build that an upgrade test starts from, made without compiling twice
#   --out      where the .deb files go (default: build/package)
# BRISOMEL_BUILD chooses the build folder (default: build/ in the checkout); JOBS the parallel
# compilations (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
out=$build/package
version=
older=

while [ $# -gt 0 ]; do
  case "$1" in
    --version) version=${2:?--version needs a value}; shift 2 ;;
    --older) older=${2:?--older needs a value}; shift 2 ;;
    --out) out=${2:?--out needs a folder}; shift 2 ;;
    *) echo "usage: tools/package.sh [--version VERSION] [--older VERSION] [--out DIR]" >&2; exit 2 ;;
  esac
done

if ! command -v dpkg-buildpackage >/dev/null || ! command -v dh >/dev/null; then
  if [ "$(id -u)" = 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends dpkg-dev debhelper
  else
    echo "tools/package.sh: dpkg-buildpackage and debhelper are missing (apt-get install dpkg-dev debhelper)" >&2
    exit 1
  fi
fi
if ! missing=$(dpkg-checkbuilddeps 2>&1); then
  if [ "$(id -u)" = 0 ]; then
    echo "== installing the build dependencies"
    DEBIAN_FRONTEND=noninteractive apt-get build-dep -y -q "$root"
  else
    echo "tools/package.sh: $missing" >&2
    exit 1
  fi
fi

# The sources the call server is built from (the top-level CMake project adds these folders),
# the packaging and the README that the package installs as its documentation.
work=$build/package-work
rm -rf "$work"
source=$work/talmery-gateway
mkdir -p "$source" "$out"
tar -C "$root" -cf - CMakeLists.txt cmake common agent addin gateway tools debian README.md | tar -C "$source" -xf -

# Puts an entry for version $1 on top of the copy's changelog.
add_entry() {
  local entry
  entry=$(mktemp)
  {
    echo "talmery-gateway ($1) bookworm; urgency=medium"
    echo
    echo "  * Built from the checkout as version $1."
    echo
    echo " -- $(sed -n 's/^Maintainer: //p' debian/control)  $(date -R)"
    echo
    cat "$source/debian/changelog"
  } >"$entry"
  mv "$entry" "$source/debian/changelog"
}
if [ -n "$version" ]; then add_entry "$version"; fi
version=$(cd "$source" && dpkg-parsechangelog -SVersion)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
if [ -n "$older" ] && ! dpkg --compare-versions "$older" lt "$version"; then
  echo "tools/package.sh: --older $older is not lower than $version" >&2
  exit 2
fi

echo "== dpkg-buildpackage (talmery-gateway $version, $arch)"
(cd "$source" && dpkg-buildpackage -b -us -uc -j"${JOBS:-2}") >"$work/build.log" 2>&1 || {
  tail -n 60 "$work/build.log" >&2
  echo "tools/package.sh: the build failed; the whole log is $work/build.log" >&2
  exit 1
}
deb=talmery-gateway_${version}_${arch}.deb
mv "$work/$deb" "$out/"
echo "$out/$deb"

if [ -n "$older" ]; then
  # The same tree: without its clean step, dh finds the build done and only packages it again.
  cp "$source/debian/changelog" "$work/changelog"
  add_entry "$older"
  echo "== dpkg-buildpackage (talmery-gateway $older, the same build)"
  (cd "$source" && dpkg-buildpackage -b -nc -us -uc) >"$work/build-older.log" 2>&1 || {
    tail -n 60 "$work/build-older.log" >&2
    echo "tools/package.sh: packaging $older failed; the whole log is $work/build-older.log" >&2
    exit 1
  }
  mv "$work/changelog" "$source/debian/changelog"
  mv "$work/talmery-gateway_${older}_${arch}.deb" "$out/"
  echo "$out/talmery-gateway_${older}_${arch}.deb"
fi
