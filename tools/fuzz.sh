#!/usr/bin/env bash
# Long fuzzing runs of every fuzzer (native clang build with ASan and UBSan).
# Usage: tools/fuzz.sh [runs per target, default 1000000] [target name filter]
# New interesting inputs collect in <build>/native/tests/fuzz/work/<target>; a crasher is written
# there as crash-*: copy it into tests/fuzz/corpus/<target>/ as a regression case once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BRISOMEL_BUILD:-$(pwd)/build}
runs=${1:-1000000}
filter=${2:-}
tools/ci/setup.sh
cmake --preset native -B "$build/native" >/dev/null
cmake --build "$build/native" -j "$(nproc)" >/dev/null
for corpus in tests/fuzz/corpus/*/; do
  name=$(basename "$corpus")
  [[ -n "$filter" && "$name" != *"$filter"* ]] && continue
  work="$build/native/tests/fuzz/work/$name"
  mkdir -p "$work"
  echo "== fuzz_$name: $runs runs"
  start=$(date +%s)
  "$build/native/tests/fuzz/fuzz_$name" -runs="$runs" -timeout=5 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/" "$work" "$corpus" 2>&1 |
    grep -E 'stat::number_of_executed_units|stat::new_units_added|ERROR|SUMMARY|check failed' || true
  echo "   $(( $(date +%s) - start )) s, corpus $(ls "$work" | wc -l) units; crashers: $(ls "$work"/crash-* 2>/dev/null | wc -l)"
done
