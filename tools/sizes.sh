#!/usr/bin/env bash
# Builds the shipped Windows binaries (Release, i686 and x86_64) and prints their sizes as they
# ship, beside the goals: cadelo.exe at most 400 KB, mervane.dll at most 64 KB. Also lists each
# binary's imported DLLs: the static runtime means system DLLs only.
# Usage: tools/sizes.sh            (BRISOMEL_BUILD chooses the build folder, default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}

tools/ci/setup.sh

for arch in i686 x86_64; do
  if [ ! -f "$build/$arch/CMakeCache.txt" ]; then
    cmake --preset "$arch" -B "$build/$arch" >/dev/null
  fi
  cmake --build "$build/$arch" -j 2 --target cadelo mervane >/dev/null
done

status=0
printf '| Binary | Arch | Bytes | KB | Goal | Imports |\n|---|---|---|---|---|---|\n'
for arch in i686 x86_64; do
  for entry in agent/shell/cadelo.exe:400 addin/mervane.dll:64; do
    file=$build/$arch/${entry%%:*}
    goal=${entry##*:}
    bytes=$(stat -c %s "$file")
    imports=$("$arch-w64-mingw32-objdump" -p "$file" | awk '/DLL Name:/ { print tolower($3) }' |
      sort | paste -sd ' ')
    verdict="≤ $goal KB"
    if [ "$bytes" -gt $((goal * 1024)) ]; then verdict="OVER $goal KB"; status=1; fi
    printf '| %s | %s | %d | %s | %s | %s |\n' "$(basename "$file")" "$arch" "$bytes" \
      "$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1024 }')" "$verdict" "$imports"
  done
done
exit $status
