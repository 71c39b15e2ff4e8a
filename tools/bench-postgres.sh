#!/usr/bin/env bash
# Measures gateways sharing one PostgreSQL database on this machine, built without sanitizers:
# accepted requests per second with one node and with two, and how long after a node is killed
# its call in progress is closed and a call it had accepted is placed by the other. Against a
# throwaway cluster (tools/ci/pg-cluster.sh: fsync and synchronous_commit on, no standby).
# Prints the rows and puts them, with the date, the machine and its load, into
# docs/performance.md. As root (the cluster runs as the user postgres). Not part of the test
# command.
# Usage: tools/bench-postgres.sh [requests, default 5000] [runs of each takeover, default 3]
# BRISOMEL_BUILD chooses the build folder (default: build/ in the checkout).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
requests=${1:-5000}
runs=${2:-3}
[ "$(id -u)" = 0 ] || { echo "tools/bench-postgres.sh: run it as root (the cluster runs as the user postgres)" >&2; exit 1; }

tools/ci/setup.sh
. tools/ci/quiet.sh
. tools/ci/measuring.sh
. tools/ci/pg-cluster.sh

echo "== building (Release, no sanitizers)" >&2
quiet cmake --preset native-release -B "$build/gateway-release"
quiet cmake --build "$build/gateway-release" -j "$(nproc)" --target postgres_bench talmery-gateway talmery-speak

dir=$(mktemp -d /tmp/talmery-pg-XXXXXX)
trap 'pg_remove "$dir"' EXIT
port=$((20000 + RANDOM % 10000))
pg_make "$dir" "$port"
pg_start "$dir"
uri() {
  "$PG_BIN/createdb" -h "$dir" -p "$port" -U postgres "$1"
  echo "postgresql://postgres@/$1?host=$dir&port=$port"
}

echo "== measuring (about $((2 + runs * 3 / 2)) minutes)" >&2
bench=$build/gateway-release/tools/bench/postgres_bench
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
rows=$({
  "$bench" rate "$(uri rate_one)" "$requests" 1
  "$bench" rate "$(uri rate_two)" "$requests" 2
  "$bench" takeover "$(uri takeover)" 30 "$runs"
  "$bench" takeover "$(uri takeover_short)" 5 "$runs"
} | grep '^|')
cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
header="Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu), $(free -g | awk '/^Mem:/{print $2}') GB, \
PostgreSQL $(dpkg-query -W -f='${Version}' postgresql-15 2>/dev/null) on the same machine (one throwaway cluster, \
Unix socket); load average $load_before before and $(cut -d' ' -f1-3 /proc/loadavg) after; \
command: \`tools/bench-postgres.sh $requests $runs\`."
table=$(printf '%s\n\n| Measure | Result | How |\n|---|---|---|\n%s\n' "$header" "$rows")

write_performance_section postgres-bench "Gateways sharing one PostgreSQL database" "$table"
printf '%s\n' "$table"
