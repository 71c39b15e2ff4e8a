#!/usr/bin/env bash
# Measures the callee listener (gateway/listener.h) on this machine, built without sanitizers:
# over the labelled recordings of persons and mailboxes (tests/gateway/callee_recordings.cpp), who
# it decides answered, how soon it clears the line after a person's last word, whether it waits
# out a mailbox's tone, and its CPU per second of a call's audio. Prints the rows and puts them,
# with the date and the machine, into docs/performance.md. Not part of the test command.
# Usage: tools/bench-listener.sh [-v] [repeats for the CPU figure, default 20]
# BRISOMEL_BUILD chooses the build folder (default: build/ in the checkout).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
verbose=
if [ "${1:-}" = -v ]; then
  verbose=-v
  shift
fi
repeats=${1:-20}

tools/ci/setup.sh
. tools/ci/quiet.sh
. tools/ci/measuring.sh

echo "== building (Release, no sanitizers)" >&2
quiet cmake --preset native-release -B "$build/gateway-release"
quiet cmake --build "$build/gateway-release" -j "$(nproc)" --target listener_bench talmery-speak

echo "== measuring" >&2
out=$("$build/gateway-release/tools/bench/listener_bench" $verbose "$repeats")
[ -n "$verbose" ] && grep -v '^|' <<<"$out" >&2
rows=$(grep '^|' <<<"$out")
cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
header="Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu), flite $(dpkg-query -W -f='${Version}' libflite1 2>/dev/null), \
espeak-ng $(dpkg-query -W -f='${Version}' libespeak-ng1 2>/dev/null); load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; \
command: \`tools/bench-listener.sh $repeats\`."
table=$(printf '%s\n\n| Measure | Result | How |\n|---|---|---|\n%s\n' "$header" "$rows")

write_performance_section listener-bench "Who answered: the callee listener" "$table"
printf '%s\n' "$table"
