#!/usr/bin/env bash
# Reminder calls followed to their end, with the real call server, as one ctest test of the
# Windows build: the loopback phone (5550100 answers, 5550186 is busy, 5550187 never answers, any
# other number is not found) and talmery-gateway in SIP mode dialling it (two tries a second
# apart, two seconds of ringing; a second one with one try of twenty seconds), all from the
# native build. Its administrators' address is one
# nobody here uses, so the agent reads its calls with their tokens alone. After the Wine test, a
# guessed id (and one with a wrong token) is refused as an unknown one.
# Usage: follow.sh <native build folder> <system_follow_tests.exe>
set -euo pipefail
native=$1
exe=$2
. "$(dirname "$0")/system_lib.sh" follow

base=$(python3 "$(dirname "$0")/../../tools/ci/free_ports.py" 400)
[ -n "$base" ] || { echo "no free ports"; exit 1; }

"$native/tools/phone/loopback-phone" --dir "$work/phone" --sip-port "$base" --control-port $((base + 2)) \
  --rtp-port $((base + 100)) --answer 5550100 --busy 5550186 --never 5550187 >"$work/phone.log" 2>&1 &
pids+=($!)
wait_for_line "$work/phone.log" 'phone ready' "${pids[-1]}"

port=$((base + 50))
cat >"$work/gateway.conf" <<CONF
listen = 127.0.0.1:$port
database = $work/calls.db
metrics_clients = 127.0.0.3
attempts = 2
retry_pause = 1
ring_time = 2
[sip]
dial = sip:{number}@127.0.0.1:$base
sip_port = $((base + 10))
rtp_ports = $((base + 200))-$((base + 299))
CONF
"$native/gateway/talmery-gateway" --config "$work/gateway.conf" 2>"$work/gateway.log" &
pids+=($!)
wait_for_line "$work/gateway.log" 'event=start' "${pids[-1]}"

# A second gateway whose calls ring long, one try each: an agent ends before their end is known.
slow=$((base + 51))
cat >"$work/slow.conf" <<CONF
listen = 127.0.0.1:$slow
database = $work/slow.db
metrics_clients = 127.0.0.3
attempts = 1
ring_time = 20
[sip]
dial = sip:{number}@127.0.0.1:$base
sip_port = $((base + 11))
rtp_ports = $((base + 300))-$((base + 399))
CONF
"$native/gateway/talmery-gateway" --config "$work/slow.conf" 2>"$work/slow.log" &
pids+=($!)
wait_for_line "$work/slow.log" 'event=start' "${pids[-1]}"

status=0
BRISOMEL_FOLLOW_PORT=$port BRISOMEL_FOLLOW_LOG="$(winepath -w "$work/gateway.log")" \
  BRISOMEL_FOLLOW_SLOW_PORT=$slow BRISOMEL_FOLLOW_SLOW_LOG="$(winepath -w "$work/slow.log")" \
  wine "$exe" </dev/null || status=$?
echo "--- gateway log"
cat "$work/gateway.log"
echo "--- slow gateway log"
cat "$work/slow.log"
[ "$status" = 0 ] || exit "$status"

echo "--- guessed ids"
for header in "" "Talmery-Call-Token: 00000000000000000000000000000000"; do
  for id in 1 2; do
    answer=$(curl -s -o /dev/null -w '%{http_code}' ${header:+-H "$header"} "http://127.0.0.1:$port/calls/$id")
    [ "$answer" = 404 ] || { echo "call $id read without its token: $answer"; exit 1; }
  done
done
[ "$(curl -s --interface 127.0.0.3 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/calls/1")" = 200 ] ||
  { echo "the administrators' address cannot read call 1"; exit 1; }
echo "refused without the token, read by the administrators' address"
