#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine (as root). Idempotent and quick
# when everything is already there.
set -euo pipefail

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools wine wine32:i386 wine64
          fonts-wine xvfb xauth imagemagick cmake make googletest g++ clang python3 espeak-ng sox
          nsis libclang-rt-14-dev libgtest-dev libgmock-dev
          # tools/check-names.sh and tools/code-figures.sh read the sources through ctags
          universal-ctags
          # the call server (gateway/): HTTP, store, speech, JSON, the SIP user agent it drives
          pkg-config libcpp-httplib-dev libsqlite3-dev libespeak-ng-dev flite1-dev nlohmann-json3-dev baresip-core
          libmicrohttpd-dev libre-dev libssl-dev openssl
          # systemd-analyze rates the sandbox of the shipped unit
          systemd
          # test peers: a real SIP registrar and proxy, SIPp, Office's ribbon schema validator
          kamailio kamailio-tls-modules sip-tester python3-xmlschema
          # several gateways on one shared store; the package, its checks, metrics and a real browser
          postgresql-15 libpq-dev iproute2 debhelper dpkg-dev fakeroot lintian prometheus chromium curl
          # the Windows Installer package: wixl, and msibuild to mend its tables
          wixl msitools)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in mid-sync fails one index now and then; the packages come from the indexes that
  # did arrive, and a missing package still fails the install below.
  updated=no
  for attempt in 1 2 3; do
    apt-get update -q && { updated=yes; break; }
    echo "== apt-get update failed (attempt $attempt)"; sleep 5
  done
  # With one architecture's security index missing, the other's security versions cannot be
  # matched (wine32:i386 needs the same zlib1g on both): take the release's own versions then,
  # which exist for both architectures.
  release=()
  if [ "$updated" = no ]; then
    release=(-t "$(. /etc/os-release; echo "$VERSION_CODENAME")")
    echo "== an index is missing: installing from ${release[1]} itself"
  fi
  apt-get install -y -q --no-install-recommends "${release[@]}" "${missing[@]}"
fi
