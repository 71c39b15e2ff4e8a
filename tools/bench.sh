#!/usr/bin/env bash
# Measures the whole system on this machine, under Wine, in one run: the reminder path against
# its floor, how long Outlook is blocked per event, the add-in's calls, the agent's start, a
# burst of reminders, the sizes of the binaries and the idle agent. Prints one table and puts it,
# with the date and the machine, into docs/performance.md.
# Usage: tools/bench.sh [reminders per timed series, default 40]
# BRISOMEL_BUILD chooses the build folder (default: build/ in the checkout).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
runs=${1:-40}
jobs=$(nproc)

tools/ci/setup.sh

. tools/ci/quiet.sh

echo "== building (x86_64 with the measuring programs, i686 for the sizes)" >&2
quiet cmake -S . -B "$build/x86_64" -DCMAKE_BUILD_TYPE=Release -DBRISOMEL_BUILD_TESTS=ON \
  --toolchain "$root/cmake/toolchain-x86_64.cmake"
quiet cmake --build "$build/x86_64" -j "$jobs" --target cadelo mervane outlook-sim system_bench calls_bench harness_show_box
quiet cmake -S . -B "$build/i686" -DCMAKE_BUILD_TYPE=Release -DBRISOMEL_BUILD_TESTS=OFF \
  --toolchain "$root/cmake/toolchain-i686.cmake"
quiet cmake --build "$build/i686" -j "$jobs" --target cadelo mervane

. tools/ci/wine-env.sh "$build" win64
wine_prefix_create >&2
trap wine_server_stop EXIT
wine_server_start || true  # a server of this prefix may already run

# Runs a measuring program (arguments as for wine); a program that could not even start (exit
# code 2, e.g. while a previous server of this prefix was still going down) gets a second try.
measure() {
  local status=0
  DISPLAY= timeout 1800 wine "$@" </dev/null 2>/dev/null || status=$?
  if [ "$status" = 2 ]; then
    sleep 3
    wine_server_start || true
    status=0
    DISPLAY= timeout 1800 wine "$@" </dev/null 2>/dev/null || status=$?
  fi
  return "$status"
}

echo "== measuring (about a minute)" >&2
bench_dir="$build/x86_64/tests/system"
rows=$(cd "$bench_dir" && measure ./system_bench.exe "$runs" | tr -d '\r' | grep '^|')
calls=$(cd "$build/x86_64/tests/calls" && DISPLAY= timeout 300 wine ./calls_bench.exe 200 </dev/null 2>/dev/null | tr -d '\r') ||
  echo "calls_bench did not finish" >&2
calls_rows=$(awk '
  /^MakeReminderCall/  { printf "| MakeReminderCall in process (composition + request) | median %s ms, p95 %s ms (n=%s) | tests/calls calls_bench: called directly, no Outlook, alternating with the bare POST |\n", $4, $7, substr($2, 3) }
  /^bare WinINet POST/ { printf "| Bare WinINet POST of the same bytes | median %s ms, p95 %s ms (n=%s) | tests/calls calls_bench |\n", $6, $9, substr($4, 3) }' <<<"$calls")

size() { stat -c %s "$1" | awk '{ printf "%.1f KB", $1 / 1024 }'; }
size_rows=$(cat <<ROWS
| Size of cadelo.exe | i686 $(size "$build/i686/agent/shell/cadelo.exe"), x86_64 $(size "$build/x86_64/agent/shell/cadelo.exe") | Release as shipped: static runtime, stripped (tools/sizes.sh) |
| Size of mervane.dll | i686 $(size "$build/i686/addin/mervane.dll"), x86_64 $(size "$build/x86_64/addin/mervane.dll") | the same |
ROWS
)

cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
header="Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu), $(free -g | awk '/^Mem:/{print $2}') GB, \
$(wine --version), load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; command: \`tools/bench.sh $runs\`."
table=$(printf '%s\n\n| Measure | Result | How |\n|---|---|---|\n%s\n%s\n%s\n' "$header" "$rows" "$calls_rows" "$size_rows")

# Replaces the text between the bench markers of docs/performance.md (the file keeps the rest).
doc=docs/performance.md
mkdir -p docs
[ -f "$doc" ] || printf '# Performance\n\n<!-- bench:begin -->\n<!-- bench:end -->\n\n<!-- soak:begin -->\n<!-- soak:end -->\n' >"$doc"
TABLE="$table" awk '
  /<!-- bench:begin -->/ { print; print ENVIRON["TABLE"]; skip = 1; next }
  /<!-- bench:end -->/   { skip = 0 }
  !skip' "$doc" >"$doc.new" && mv "$doc.new" "$doc"
printf '%s\n' "$table"
