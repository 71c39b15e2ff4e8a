#!/usr/bin/env bash
# Measures the call server (talmery-gateway) on this machine, built without sanitizers: accepted
# requests per second with the durable store, POST -> INVITE on the wire, simultaneous calls with
# clean audio, idle memory, 100 and 200 calls at once, the answers during a morning rush. Prints the rows and puts them, with the date, the machine and its
# load, into docs/performance.md. Not part of the test command.
# Usage: tools/bench-gateway.sh [requests, default 5000] [simultaneous calls, default 20]
# BRISOMEL_BUILD chooses the build folder (default: build/ in the checkout).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
requests=${1:-5000}
calls=${2:-20}
jobs=$(nproc)

tools/ci/setup.sh
. tools/ci/quiet.sh
. tools/ci/measuring.sh

echo "== building (Release, no sanitizers)" >&2
quiet cmake --preset native-release -B "$build/gateway-release"
quiet cmake --build "$build/gateway-release" -j "$jobs" --target gateway_bench talmery-gateway talmery-speak

echo "== measuring (about two minutes)" >&2
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
rows=$("$build/gateway-release/tools/bench/gateway_bench" "$requests" "$calls" | grep '^|')
cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
header="Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu), $(free -g | awk '/^Mem:/{print $2}') GB, \
libre $(dpkg-query -W -f='${Version}' libre0 2>/dev/null), SQLite $(dpkg-query -W -f='${Version}' libsqlite3-0 2>/dev/null); \
load average $load_before before and $(cut -d' ' -f1-3 /proc/loadavg) after (other work on the machine counts in it); \
command: \`tools/bench-gateway.sh $requests $calls\`."
table=$(printf '%s\n\n| Measure | Result | How |\n|---|---|---|\n%s\n' "$header" "$rows")

write_performance_section gateway-bench "The call server (talmery-gateway)" "$table"
printf '%s\n' "$table"
