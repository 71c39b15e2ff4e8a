#!/usr/bin/env bash
# The whole system with the real call server, as one ctest test of the Windows build: starts the
# loopback phone and talmery-gateway (from the native build) on free loopback ports, runs the
# Wine test real_gateway_test (agent + Outlook simulator + the gateway's HTTP), then checks that
# the phone's recording carries the text the agent composed. The demo runs the same check.
# Usage: real_gateway.sh <native build folder> <system_real_gateway_tests.exe>
set -euo pipefail
native=$1
exe=$2
. "$(dirname "$0")/system_lib.sh" real-gateway

# A block of free loopback ports (phone SIP/control/RTP, gateway HTTP/SIP/control/RTP).
base=$(python3 "$(dirname "$0")/../../tools/ci/free_ports.py" 400)
[ -n "$base" ] || { echo "no free ports"; exit 1; }

"$native/tools/phone/loopback-phone" --dir "$work/phone" --sip-port "$base" --control-port $((base + 2)) \
  --rtp-port $((base + 100)) --answer 5550100 >"$work/phone.log" 2>&1 &
pids+=($!)
wait_for_line "$work/phone.log" 'phone ready' "${pids[-1]}"

cat >"$work/gateway.conf" <<CONF
listen = 127.0.0.1:$((base + 50))
database = $work/calls.db
[sip]
dial = sip:{number}@127.0.0.1:$base
sip_port = $((base + 10))
rtp_ports = $((base + 200))-$((base + 399))
CONF
"$native/gateway/talmery-gateway" --config "$work/gateway.conf" 2>"$work/gateway.log" &
pids+=($!)
wait_for_line "$work/gateway.log" 'event=start' "${pids[-1]}"

status=0
BRISOMEL_REAL_GATEWAY_PORT=$((base + 50)) BRISOMEL_REAL_GATEWAY_TEXT="$(winepath -w "$work/expected.txt")" \
  wine "$exe" </dev/null || status=$?
echo "--- gateway log"
cat "$work/gateway.log"
[ "$status" = 0 ] || exit "$status"

recording=$(ls "$work/phone/recordings/"*-dec.wav | head -n 1)
echo "--- the phone's recording against the agent's text"
"$native/tools/phone/speech-check" --text "$work/expected.txt" --recording "$recording"
