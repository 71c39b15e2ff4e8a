#!/usr/bin/env bash
# The whole story, end to end, under Wine (headless): the user's first start of the agent writes
# the settings and registers the add-in; "Outlook" (our simulator) starts, loads the add-in, which
# starts the agent hidden; Outlook raises the reminder of an appointment made with the custom
# form; the stand-in Talmery Gateway receives the call request, prints it and speaks the text into
# a WAV file; Outlook shuts down and the agent is terminated.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
demo=$build/demo
jobs=$(nproc)

step() { printf '\n== %s\n' "$*"; }

tools/ci/setup.sh

step "Building the stand-in gateway (Linux) and the Windows binaries (x86_64)"
cmake -S . -B "$build/native" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build/native" -j "$jobs" --target talmery-gateway >/dev/null
cmake -S . -B "$build/x86_64" -DCMAKE_BUILD_TYPE=Release \
  --toolchain "$root/cmake/toolchain-x86_64.cmake" >/dev/null
cmake --build "$build/x86_64" -j "$jobs" --target cadelo mervane outlook-sim demo-user >/dev/null

step "A fresh Windows (Wine prefix $demo/wine-win64)"
rm -rf "$demo"
mkdir -p "$demo/calls"
. tools/ci/wine-env.sh "$demo" win64
wine_prefix_create >/dev/null
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wine_server_stop
}
trap cleanup EXIT
wine_server_start
apps="$WINEPREFIX/drive_c/Program Files"
mkdir -p "$apps/Brisomel" "$apps/Outlook"
cp "$build/x86_64/agent/shell/cadelo.exe" "$build/x86_64/addin/mervane.dll" "$apps/Brisomel/"
cp "$build/x86_64/tools/outlook-sim/outlook-sim.exe" "$apps/Outlook/"
cp "$build/x86_64/tools/demo/demo-user.exe" "$demo/"
echo "   installed C:\\Program Files\\Brisomel\\cadelo.exe and mervane.dll"
wine 'C:\Program Files\Outlook\outlook-sim.exe' /regserver </dev/null
echo "   installed the Outlook simulator as \"Outlook.Application\""

step "The Talmery Gateway (stand-in) listens on 127.0.0.1:8155"
"$build/native/tools/gateway/talmery-gateway" --port 8155 --speak-dir "$demo/calls" \
  >"$demo/gateway.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q listening "$demo/gateway.log" 2>/dev/null && break; sleep 0.1; done
tail -n +1 -f "$demo/gateway.log" 2>/dev/null | sed -u 's/^/   [gateway] /' &
pids+=($!)
sleep 0.3

step "The user starts the agent for the first time and sets it up"
wine "$(winepath -w "$demo/demo-user.exe")" first-start 'C:\Program Files\Brisomel\cadelo.exe' \
  "555-0199" "Ann" "Lee" </dev/null

step "Outlook starts, loads the add-in, and raises the reminder of \"Budget review\""
cat >"$demo/outlook-script.txt" <<'SCRIPT'
version "16.0.0.1"
item 1 class "IPM.Appointment.ReminderCall" start +15m minutes 15
item 1 subject "Budget review" location "Room 4" body "Bring the quarterly figures"
item 1 prop notifycall text "555-0100"
wait-advise 30s
note "the agent is connected, the reminder comes due"
fire 1
sleep 4s
note "Outlook shuts down"
quit
SCRIPT
: >"$demo/outlook.log"
tail -n +1 -f "$demo/outlook.log" 2>/dev/null | sed -u 's/^/   [outlook] /' &
pids+=($!)
wine 'C:\Program Files\Outlook\outlook-sim.exe' /script "$(winepath -w "$demo/outlook-script.txt")" \
  /log "$(winepath -w "$demo/outlook.log")" </dev/null || true
sleep 0.5

step "After Outlook's end"
agents=$(wine "$(winepath -w "$demo/demo-user.exe")" agents </dev/null | tr -d '\r')
echo "   agent processes still running: $agents"

step "Summary"
requests=$(grep -c '^call request #[0-9]*: number' "$demo/gateway.log" || true)
wavs=$(ls "$demo/calls"/*.wav 2>/dev/null || true)
echo "   settings and add-in registration written by the agent's first start"
echo "   call requests received by the gateway: $requests"
for w in $wavs; do
  echo "   spoken text: $w ($(soxi -d "$w" 2>/dev/null || stat -c %s "$w"))"
done
echo "   agent processes left after Outlook's end: $agents"
[ "$requests" -ge 1 ] && [ "$agents" = 0 ]
