#!/usr/bin/env bash
# Runs calls_bench (tools/bench/calls_bench.cpp) under the current Wine session with one real call
# server beside it: talmery-gateway in speaker mode serving HTTPS on `listen`, with a certificate
# for localhost from a throwaway test authority, and in clear on `listen_plain`, so that the clear
# and the HTTPS requests meet the same process, store and configuration and differ only in TLS.
# Prints what calls_bench prints. Usage: calls_bench.sh <talmery-gateway> <calls_bench.exe> [runs]
set -euo pipefail
gateway=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
runs=${3:-200}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tests/system/system_lib.sh" calls-bench
. "$here/../../tests/system/test_authority.sh"

cd "$work"
make_test_authority
issue_certificate gateway localhost 30
ports=$(python3 "$here/../ci/free_ports.py" 2)
[ -n "$ports" ] || { echo "calls_bench.sh: no free ports" >&2; exit 1; }
https_port=$ports
clear_port=$((ports + 1))
cat >gateway.conf <<CONF
listen = 127.0.0.1:$https_port
tls_certificate = $work/gateway.pem
tls_key = $work/gateway.key
listen_plain = 127.0.0.1:$clear_port
database = $work/calls.db
mode = speaker
speaker_dir = $work/spoken
retry_pause = 3600
numbers = 555*
client_rate = 0
daily_calls = 0
max_queued = 0
CONF
# The admission limits are off (client_rate, daily_calls, max_queued): the run posts some 800 calls
# within minutes from one address, and a refusal would be a shorter exchange than a stored call.
# Its folder for spoken calls is a file: each stored call's try fails at once and waits an hour,
# so no speech runs beside the measurement and both legs find the server equally idle.
: >spoken
"$gateway" --config gateway.conf >gateway.out 2>gateway.log &
pids+=($!)
wait_for_line gateway.log 'event=start' "${pids[-1]}" >&2

status=0
(cd "$(dirname "$exe")" && BRISOMEL_BENCH_CA=$(windows_path "$work/ca.crt") BRISOMEL_BENCH_CERT=$(windows_path "$work/gateway.pem") BRISOMEL_BENCH_HTTPS_PORT=$https_port \
  BRISOMEL_BENCH_CLEAR_PORT=$clear_port DISPLAY= wine "./$(basename "$exe")" "$runs" </dev/null) || status=$?
if test_authority_trusted; then
  echo "calls_bench.sh: the test authority is still trusted in the prefix after the run" >&2; status=1
fi
exit "$status"
