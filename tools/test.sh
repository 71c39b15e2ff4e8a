#!/usr/bin/env bash
# Builds everything and runs every test: the pure logic natively under AddressSanitizer and
# UBSan, then the Windows binaries (x86_64; i686 is built too) under Wine, headless.
# Usage: tools/test.sh [ctest arguments for the Wine run, e.g. -R Gateway]
# BRISOMEL_BUILD chooses the build folder (default: build/ in the checkout).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
jobs=$(nproc)

tools/ci/setup.sh

echo "== native build (sanitizers)"
cmake --preset native -B "$build/native" >/dev/null
cmake --build "$build/native" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$build/native" --output-on-failure -j "$jobs"

# The Windows tests run on the x86_64 binaries in a 64-bit prefix (see tools/ci/wine-env.sh); the
# i686 build (the 32-bit product and its setup) must build cleanly with warnings as errors. The
# installer tests run the x86_64 tree's 64-bit form of the setup, which also carries the i686
# add-in: the i686 tree is built first.
for arch in i686 x86_64; do
  echo "== Windows build ($arch)"
  # The whole-system test with the real call server runs that server from the native build.
  cmake --preset "$arch" -B "$build/$arch" -DBRISOMEL_NATIVE_BUILD="$build/native" >/dev/null
  cmake --build "$build/$arch" -j "$jobs"
done

# Most of a Windows test's time is Wine starting processes and the test waiting on them, so two
# run at once, each in a prefix of its own (a Windows of its own: registry, processes, COM).
# BRISOMEL_WINE_PREFIXES=1 runs them one after the other in one prefix.
prefixes=${BRISOMEL_WINE_PREFIXES:-2}
echo "== Windows tests under Wine (x86_64, 64-bit prefixes: $prefixes)"
. tools/ci/wine-env.sh "$build" win64 "$prefixes"
wine_prefix_create
trap wine_server_stop EXIT
wine_server_start
DISPLAY= wine_desktop_hold "$build/x86_64/tests/harness/harness_desktop_keeper.exe"
wine_resources_file "$build/x86_64/wine-prefixes.json"
DISPLAY= ctest --test-dir "$build/x86_64" --output-on-failure --timeout 300 -j "$prefixes" \
  --resource-spec-file "$build/x86_64/wine-prefixes.json" "$@"
