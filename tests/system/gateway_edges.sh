#!/usr/bin/env bash
# The agent's request at its edges with the real call server, as one ctest test of the Windows
# build: talmery-gateway (from the native build) on 127.0.0.2, and at the same port on [::1] and
# 127.0.0.1 listeners whose queue is full, so that the system drops every further connection
# attempt unanswered (what a filtered address or a gateway that is down behind its name does).
# The Wine test gateway_edges_test runs in a mount namespace of its own whose /etc/hosts names
# them; the machine's own name files are left as they are. The sockets are the wineserver's
# (outside that namespace): only the names are resolved inside it, by the agent's process.
# Usage: gateway_edges.sh <native build folder> <system_gateway_edges_tests.exe>
set -euo pipefail
native=$1
exe=$2
. "$(dirname "$0")/system_lib.sh" gateway-edges

if ! unshare --mount --propagation private true 2>/dev/null; then
  echo "this test needs a mount namespace of its own (unshare --mount, as root)"; exit 1
fi

port=$(python3 "$(dirname "$0")/../../tools/ci/free_ports.py" 1)
[ -n "$port" ] || { echo "no free port"; exit 1; }

# A connection to a listener whose accept queue is full (one connection, never accepted) gets no
# answer at all: the SYN is dropped, and each retry with it.
cat >"$work/swallow.py" <<'PY'
import socket, sys, time
port = int(sys.argv[1])
held = []
for family, address in ((socket.AF_INET6, "::1"), (socket.AF_INET, "127.0.0.1")):
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.bind((address, port))
    listener.listen(0)
    filler = socket.socket(family, socket.SOCK_STREAM)
    filler.connect((address, port))
    held += [listener, filler]
print("swallowing", flush=True)
while True:
    time.sleep(3600)
PY
python3 "$work/swallow.py" "$port" >"$work/swallow.log" 2>&1 &
pids+=($!)
wait_for_line "$work/swallow.log" 'swallowing' "${pids[-1]}"

# Speaker mode whose folder for the spoken calls is made a file once the gateway has started:
# each call is taken and stored, and its try fails at once (tried again only an hour later), so
# the text stays in the store for the test to read and no machine time goes into speaking 64 KB.
mkdir -p "$work/spoken"
cat >"$work/gateway.conf" <<CONF
listen = 127.0.0.2:$port
database = $work/calls.db
mode = speaker
speaker_dir = $work/spoken
retry_pause = 3600
show_text = yes
numbers = +44*, 555*
CONF
"$native/gateway/talmery-gateway" --config "$work/gateway.conf" >"$work/gateway.out" 2>"$work/gateway.log" &
pids+=($!)
wait_for_line "$work/gateway.log" 'event=start' "${pids[-1]}"
rm -rf "$work/spoken"
: >"$work/spoken"

cat >"$work/hosts" <<HOSTS
::1 v6-first.brisomel.test
127.0.0.2 v6-first.brisomel.test
127.0.0.1 v4-first.brisomel.test
127.0.0.2 v4-first.brisomel.test
127.0.0.2 gateway.brisomel.test
::1 nowhere.brisomel.test
127.0.0.1 nowhere.brisomel.test
HOSTS

status=0
BRISOMEL_EDGE_PORT=$port unshare --mount --propagation private -- \
  bash -c 'mount --bind "$1" /etc/hosts && exec wine "$2" </dev/null' _ "$work/hosts" "$exe" || status=$?
echo "--- gateway log"
cat "$work/gateway.log"
exit "$status"
