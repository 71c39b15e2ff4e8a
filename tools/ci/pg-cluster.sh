#!/usr/bin/env bash
# Throwaway PostgreSQL 15 clusters for the gateway's tests and its soak: each in a temporary
# folder of its own, made by initdb as the user postgres (runuser, so as root), listening on a
# Unix socket in that folder alone (no TCP port: nothing another test or a machine's own
# cluster uses is touched).
#
#   pg-cluster.sh start INFO        a cluster for the tests; INFO gets "host=<folder> port=<port>"
#                                   (or "skip: <why>" when it cannot be made here, e.g. not root)
#   pg-cluster.sh stop INFO         stops the cluster INFO names and removes its folder
#   pg-cluster.sh kill FOLDER       an immediate stop of the cluster in FOLDER (as a crash)
#   pg-cluster.sh promote FOLDER    promotes the standby in FOLDER
#
# Sourced, it gives the functions the soak uses (pg_make, pg_start, pg_standby, pg_promote,
# pg_kill, pg_remove).
set -euo pipefail

PG_BIN=/usr/lib/postgresql/15/bin

pg_as() { runuser -u postgres -- "$@"; }

# pg_make FOLDER PORT [extra postgresql.conf lines]: a new cluster in FOLDER/data, not started.
pg_make() {
  local dir=$1 port=$2 extra=${3:-}
  mkdir -p "$dir"
  chown postgres:postgres "$dir"
  chmod 0700 "$dir"
  pg_as "$PG_BIN/initdb" -D "$dir/data" -A trust -U postgres --no-locale -E UTF8 >"$dir/initdb.log" 2>&1
  cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = ''
port = $port
unix_socket_directories = '$dir'
max_connections = 200
shared_buffers = 32MB
wal_level = replica
max_wal_senders = 4
$extra
EOF
}

pg_start() { pg_as "$PG_BIN/pg_ctl" -D "$1/data" -l "$1/server.log" -w -t 60 start >/dev/null; }

# pg_standby FOLDER PRIMARY_FOLDER PRIMARY_PORT PORT NAME: a streaming standby of the primary,
# started; NAME is its application_name (for synchronous_standby_names).
pg_standby() {
  local dir=$1 primary=$2 primaryPort=$3 port=$4 name=$5
  mkdir -p "$dir"
  chown postgres:postgres "$dir"
  chmod 0700 "$dir"
  pg_as "$PG_BIN/pg_basebackup" -h "$primary" -p "$primaryPort" -U postgres -D "$dir/data" -R -X stream -c fast \
    >"$dir/basebackup.log" 2>&1
  # Its own port and socket; no synchronous standby of its own (a promoted standby that kept the
  # primary's would wait for itself at every commit).
  sed -i "s/^port = .*/port = $port/; s|^unix_socket_directories = .*|unix_socket_directories = '$dir'|; \
    /^synchronous_standby_names/d" "$dir/data/postgresql.conf"
  echo "primary_conninfo = 'host=$primary port=$primaryPort user=postgres application_name=$name'" \
    >>"$dir/data/postgresql.auto.conf"
  pg_start "$dir"
}

pg_promote() { pg_as "$PG_BIN/pg_ctl" -D "$1/data" -w promote >/dev/null; }

# An immediate stop: as a crash of the server (no shutdown checkpoint, clients cut off).
pg_kill() { pg_as "$PG_BIN/pg_ctl" -D "$1/data" -m immediate stop >/dev/null 2>&1 || true; }

pg_remove() {
  [ -f "$1/data/postmaster.pid" ] && pg_kill "$1"
  rm -rf "$1"
}

if [ "${BASH_SOURCE[0]}" != "$0" ]; then return 0; fi

command=${1:-}
info=${2:-}
case "$command" in
  start)
    [ -n "$info" ] || { echo "usage: $0 start INFO" >&2; exit 2; }
    if [ -f "$info" ]; then "$0" stop "$info"; fi  # left by a run that did not finish
    if [ "$(id -u)" != 0 ]; then
      echo "skip: the PostgreSQL tests make a throwaway cluster as the user postgres (runuser), which needs root" >"$info"
      exit 0
    fi
    if [ ! -x "$PG_BIN/initdb" ] || ! id postgres >/dev/null 2>&1; then
      echo "skip: postgresql-15 is not installed (tools/ci/setup.sh installs it)" >"$info"
      exit 0
    fi
    dir=$(mktemp -d /tmp/talmery-pg-XXXXXX)
    port=$((20000 + RANDOM % 10000))
    # The tests' commits wait for the local disk only; a test that sets synchronous_commit = on
    # for its own database waits for a standby that never comes (a commit left hanging).
    pg_make "$dir" "$port" "synchronous_commit = local
synchronous_standby_names = 'nobody'"
    if ! pg_start "$dir"; then
      cat "$dir/server.log" >&2
      rm -rf "$dir"
      exit 1
    fi
    echo "host=$dir port=$port" >"$info"
    ;;
  stop)
    [ -f "$info" ] || exit 0
    dir=$(sed -n 's/^host=\([^ ]*\) .*/\1/p' "$info")
    case "$dir" in
      /tmp/talmery-pg-*) pg_remove "$dir" ;;
    esac
    rm -f "$info"
    ;;
  kill) pg_kill "$info" ;;
  promote) pg_promote "$info" ;;
  *)
    echo "usage: $0 start|stop INFO, or kill|promote FOLDER" >&2
    exit 2
    ;;
esac
