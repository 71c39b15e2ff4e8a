#!/usr/bin/env bash
# The 64-bit Outlook story under Wine, in a 64-bit prefix of its own (build/wine-win64): setup
# installs both add-ins (mervane64.dll registered in the 64-bit view), the 64-bit Outlook
# simulator loads the 64-bit add-in, which starts the 32-bit agent, and a reminder ends at the
# stand-in gateway; the 32-bit simulator (32-bit Outlook on 64-bit Windows) does the same with the
# 32-bit add-in; the uninstall leaves nothing behind. These are the installer tests of the normal
# test run, here on 64-bit Windows.
# Usage: tools/test64.sh [ctest arguments, e.g. -R Outlook64]
# BRISOMEL_BUILD chooses the build folder (default: build/ in the checkout).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
jobs=$(nproc)

tools/ci/setup.sh

echo "== Windows build (x86_64: the 64-bit add-in and Outlook simulator)"
cmake -S . -B "$build/x86_64" -DCMAKE_BUILD_TYPE=Release -DBRISOMEL_BUILD_TESTS=OFF \
  --toolchain "$root/cmake/toolchain-x86_64.cmake" >/dev/null
cmake --build "$build/x86_64" -j "$jobs" --target mervane outlook-sim

echo "== Windows build (i686: agent, setup, tests)"
cmake -S . -B "$build/i686" -DCMAKE_BUILD_TYPE=Release -DBRISOMEL_BUILD_TESTS=ON \
  --toolchain "$root/cmake/toolchain-i686.cmake" >/dev/null
cmake --build "$build/i686" -j "$jobs" --target installer_tests

echo "== installer tests under Wine (64-bit prefix)"
. tools/ci/wine-env.sh "$build" win64
wine_prefix_create
trap wine_server_stop EXIT
wine_server_start
DISPLAY= ctest --test-dir "$build/i686/tests/installer" --output-on-failure --timeout 300 "$@"
