#!/usr/bin/env bash
# CPU per call of the gateway and its speech helpers in speaker mode (no telephone): N calls of
# one usual reminder text, each spoken to a WAV file; /proc accounting of the gateway and of its
# reaped talmery-speak children from the first request to the last file written.
# Usage: tools/bench/speaker-cpu.sh [calls, default 20] [build folder, default build/gateway-release]
set -euo pipefail
cd "$(dirname "$0")/../.."
calls=${1:-20}
build=${2:-build/gateway-release}
dir=$(mktemp -d)
trap 'kill "$gw" 2>/dev/null; wait "$gw" 2>/dev/null; rm -rf "$dir"' EXIT
port=$(python3 tools/ci/free_ports.py 1)
cat >"$dir/g.conf" <<CONF
listen = 127.0.0.1:$port
database = $dir/calls.db
client_rate = 1000000
daily_calls = 100000000
numbers = 555????
mode = speaker
speaker_dir = $dir/calls
CONF
mkdir -p "$dir/calls"
"$build/gateway/talmery-gateway" --config "$dir/g.conf" >"$dir/out.log" 2>"$dir/g.log" &
gw=$!
for _ in $(seq 100); do grep -q 'event=start' "$dir/g.log" "$dir/out.log" 2>/dev/null && break; sleep 0.1; done
# utime stime cutime cstime, in clock ticks
cpu() { awk '{print $14, $15, $16, $17}' "/proc/$gw/stat"; }
read -r u0 s0 cu0 cs0 < <(cpu)
python3 - "$port" "$calls" <<'PY'
import sys, urllib.parse, urllib.request
port, calls = sys.argv[1], int(sys.argv[2])
text = ("Reminder: the budget review with the finance team starts at half past ten in room four. "
        "Please bring the quarterly figures and the travel plan for March.")
for i in range(calls):
    body = urllib.parse.urlencode({"calltime": "0", "selfdelete": "0", "firstocc": "15",
                                   "phoneno": "555%04d" % i, "txt": text}).encode()
    urllib.request.urlopen(f"http://127.0.0.1:{port}/ocall/callreqHandler.jsp", body).read()
PY
for _ in $(seq 1200); do
  [ "$(grep -c 'spoken to' "$dir/out.log" || true)" -ge "$calls" ] && break
  sleep 0.1
done
sleep 0.5  # the last helper reaped
read -r u1 s1 cu1 cs1 < <(cpu)
tick=$(getconf CLK_TCK)
spoken=$(grep -c 'spoken to' "$dir/out.log" || true)
seconds=$(grep -m1 'spoken to' "$dir/out.log" | sed 's/.*(\([0-9.]*\) s.*/\1/')
awk -v n="$calls" -v t="$tick" -v g=$((u1 - u0 + s1 - s0)) -v h=$((cu1 - cu0 + cs1 - cs0)) -v done="$spoken" -v len="$seconds" \
  'BEGIN { printf "%d of %d calls spoken (%s s each): %.3f s CPU per call (gateway %.1f ms, speech helpers %.1f ms)\n",
           done, n, len, (g + h) / t / n, 1000 * g / t / n, 1000 * h / t / n }'
