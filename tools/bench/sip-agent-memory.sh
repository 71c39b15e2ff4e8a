#!/usr/bin/env bash
# Memory of one idle SIP user agent (baresip) configured as the gateway configures a line:
# what each call at once costs in the one-agent-per-line design.
# Usage: tools/bench/sip-agent-memory.sh [control port, default 47170]
set -euo pipefail
port=${1:-47170}
dir=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -rf "$dir"' EXIT
cat >"$dir/config" <<CONF
poll_method epoll
sip_listen 127.0.0.1:$((port + 2))
net_interface 127.0.0.1
audio_player none,none
audio_alert none,none
audio_source aufile,/dev/null
rtp_ports $((port + 10))-$((port + 20))
module_path /usr/lib/baresip/modules
module g711.so
module aufile.so
module_tmp account.so
module_app menu.so
module_app ctrl_tcp.so
ctrl_tcp_listen 127.0.0.1:$port
CONF
echo '<sip:bench@127.0.0.1>;regint=0;audio_codecs=PCMU;answermode=manual' >"$dir/accounts"
: >"$dir/contacts"
baresip -f "$dir" </dev/null >/dev/null 2>&1 &
pid=$!
sleep 1.5
grep -E '^VmRSS' "/proc/$pid/status"
grep -E '^(Pss|Private_Dirty):' "/proc/$pid/smaps_rollup"
