#!/usr/bin/env bash
# The database's failover during a rush: two gateways on a primary with a streaming standby
# (synchronous, then asynchronous), 16 clients posting to both; a third into the rush the
# primary is stopped at once (as a crash) and the standby promoted. Afterwards every id the
# gateways answered is looked for on the promoted standby: those missing are acknowledged calls
# lost. Each run on throwaway clusters (tools/ci/pg-cluster.sh). Writes its table into
# docs/performance.md. As root. Not part of the test command.
# Usage: tools/soak-postgres.sh [runs of each kind, default 5] [seconds of each rush, default 12]
# BRISOMEL_BUILD chooses the build folder (default: build/ in the checkout).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
runs=${1:-5}
seconds=${2:-12}
[ "$(id -u)" = 0 ] || { echo "tools/soak-postgres.sh: run it as root (the clusters run as the user postgres)" >&2; exit 1; }

tools/ci/setup.sh
. tools/ci/quiet.sh
. tools/ci/measuring.sh
. tools/ci/pg-cluster.sh

echo "== building (Release, no sanitizers)" >&2
quiet cmake --preset native-release -B "$build/gateway-release"
quiet cmake --build "$build/gateway-release" -j "$(nproc)" --target postgres_bench talmery-gateway talmery-speak
bench=$build/gateway-release/tools/bench/postgres_bench

dir=
trap '[ -z "$dir" ] || { pg_remove "$dir/standby"; pg_remove "$dir/primary"; rm -rf "$dir"; }' EXIT
rows=
for kind in synchronous asynchronous; do
  for run in $(seq 1 "$runs"); do
    echo "== $kind standby, run $run of $runs" >&2
    dir=$(mktemp -d /tmp/talmery-pg-XXXXXX)
    chmod 0711 "$dir"  # the clusters' folders inside are the user postgres's
    p1=$((20000 + RANDOM % 10000))
    p2=$((p1 + 1))
    pg_make "$dir/primary" "$p1"
    pg_start "$dir/primary"
    "$PG_BIN/createdb" -h "$dir/primary" -p "$p1" -U postgres talmery
    pg_standby "$dir/standby" "$dir/primary" "$p1" "$p2" standby1
    # Synchronous only once the standby exists: a commit before would wait for it for ever.
    [ "$kind" = synchronous ] && "$PG_BIN/psql" -h "$dir/primary" -p "$p1" -U postgres -qAtc \
      "ALTER SYSTEM SET synchronous_standby_names = 'standby1'" -c "SELECT pg_reload_conf()" >/dev/null
    want=$([ "$kind" = synchronous ] && echo sync || echo async)
    for _ in $(seq 1 100); do
      state=$("$PG_BIN/psql" -h "$dir/primary" -p "$p1" -U postgres -Atc "SELECT sync_state FROM pg_stat_replication")
      [ "$state" = "$want" ] && break
      sleep 0.2
    done
    row=$("$bench" failover \
      "postgresql://postgres@/talmery?host=$dir/primary,$dir/standby&port=$p1,$p2&target_session_attrs=read-write" \
      "$seconds" "tools/ci/pg-cluster.sh kill $dir/primary" "tools/ci/pg-cluster.sh promote $dir/standby" \
      "postgresql://postgres@/talmery?host=$dir/standby&port=$p2" | grep '^|')
    rows+="| $kind | $run ${row}"$'\n'
    pg_remove "$dir/standby"
    pg_remove "$dir/primary"
    rm -rf "$dir"
    dir=
  done
done
cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
header="Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu), PostgreSQL \
$(dpkg-query -W -f='${Version}' postgresql-15 2>/dev/null), primary and standby on the same machine; \
command: \`tools/soak-postgres.sh $runs $seconds\`. Two gateways (one line each), 16 clients posting to both for \
$seconds s; a third into it the primary is stopped at once (\`pg_ctl -m immediate\`) and the standby promoted \
(\`pg_ctl promote\`). Lost: ids answered to a client that the promoted standby does not hold."
table=$(printf '%s\n\n| Standby | Run | Ids answered | Lost | Answered twice | ERROR answers | Left unanswered | From the stop to the id of the first request sent after it |\n|---|---|---|---|---|---|---|---|\n%s' "$header" "$rows")
write_performance_section postgres-soak "The database's failover during a rush" "$table"
printf '%s\n' "$table"
