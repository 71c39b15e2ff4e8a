#!/usr/bin/env bash
# The whole story, end to end, under Wine (headless): the user's first start of the agent writes
# the settings and registers the add-in; "Outlook" (our simulator) starts, loads the add-in, which
# starts the agent hidden; the user marks an appointment as a reminder call from the add-in's ribbon
# in its window ("Call me at the reminder", "Number to call") and saves it; Outlook raises its
# reminder; the Talmery Gateway (talmery-gateway, our call server) takes the call request and, in
# speaker mode, prints the call and speaks the text into a WAV file; a snoozed reminder's call says
# the time really left; the user, away over lunch, finds the agent's messages on top of Outlook,
# one at a time: a reminder raised too late, and the gateway gone down, told once for both
# reminders it missed; Outlook shuts down and the agent is terminated. The summary checks that the
# speech carries the text the agent composed.
# Usage: tools/demo.sh [--phone]
#   --phone: the gateway dials a loopback telephone over SIP instead (a second baresip that
#            answers and records), and the summary checks the phone's recording.
set -euo pipefail
phone_mode=0
[ "${1:-}" = --phone ] && phone_mode=1
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
demo=$build/demo
jobs=$(nproc)

step() { printf '\n== %s\n' "$*"; }

tools/ci/setup.sh

step "Building the Talmery Gateway (Linux) and the Windows binaries (x86_64)"
cmake --preset native -B "$build/native" >/dev/null
cmake --build "$build/native" -j "$jobs" --target talmery-gateway talmery-speak loopback-phone speech-check \
  >/dev/null
cmake --preset x86_64 -B "$build/x86_64" >/dev/null
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

gateway_args=(--listen 127.0.0.1:8155 --database "$demo/calls.db")
if [ "$phone_mode" = 1 ]; then
  step "A telephone on loopback (number 555-0100) answers and records what it hears"
  base=$(python3 tools/ci/free_ports.py 400)
  "$build/native/tools/phone/loopback-phone" --dir "$demo/phone" --sip-port "$base" \
    --control-port $((base + 2)) --rtp-port $((base + 100)) --answer 5550100 >"$demo/phone.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do grep -q 'phone ready' "$demo/phone.log" 2>/dev/null && break; sleep 0.1; done
  sed 's/^/   [phone] /' "$demo/phone.log"
  cat >"$demo/gateway.conf" <<CONF
[sip]
dial = sip:{number}@127.0.0.1:$base
sip_port = $((base + 10))
rtp_ports = $((base + 200))-$((base + 399))
CONF
  gateway_args+=(--config "$demo/gateway.conf")
  step "The Talmery Gateway listens on 127.0.0.1:8155 and dials over SIP"
else
  gateway_args+=(--speaker "$demo/calls")
  step "The Talmery Gateway listens on 127.0.0.1:8155 (speaker mode: no telephone)"
fi
: >"$demo/gateway.log"
"$build/native/gateway/talmery-gateway" "${gateway_args[@]}" >>"$demo/gateway.log" 2>&1 &
gateway_pid=$!
pids+=($gateway_pid)
for _ in $(seq 100); do grep -q 'event=start' "$demo/gateway.log" 2>/dev/null && break; sleep 0.1; done
tail -n +1 -f "$demo/gateway.log" 2>/dev/null | sed -u 's/^/   [gateway] /' &
pids+=($!)
sleep 0.3

step "The user starts the agent for the first time and sets it up"
wine "$(winepath -w "$demo/demo-user.exe")" first-start 'C:\Program Files\Brisomel\cadelo.exe' \
  "555-0199" "Ann" "Lee" </dev/null

step "Outlook starts and loads the add-in; the user marks an appointment from the ribbon; the reminders of the day come"
cat >"$demo/outlook-script.txt" <<'SCRIPT'
version "16.0.0.1"
item 1 start +15m minutes 15
item 1 subject "Budget review" location "Room 4" body "Bring the quarterly figures"
item 2 class "IPM.Appointment.ReminderCall" start +3m minutes 15 subject "Stand-up"
item 2 prop notifycall text "555-0100"
item 3 class "IPM.Appointment.ReminderCall" start -10m subject "Lunch with Bo"
item 4 class "IPM.Appointment.ReminderCall" start +15m subject "Call the bank"
item 5 class "IPM.Appointment.ReminderCall" start +20m subject "Dentist"
wait-advise 30s
note "the user opens the budget review and marks it from the ribbon"
open-inspector 1
click BrisomelReminderCall
type BrisomelNumber "555-0100"
close-inspector 1
note "the agent is connected, the reminder comes due"
fire 1
note "a reminder snoozed until 3 minutes before its start comes due"
fire 2
sleep 4s
note "the user is out for lunch; Outlook was closed over the start of lunch"
fire 3
note "the gateway is down; two more reminders come due"
fire 4
fire 5
sleep 6s
note "Outlook shuts down"
quit
SCRIPT
# Over the phone the first two calls take their time (one number, one call after the other, the
# text spoken twice in each): Outlook's day waits for them before the gateway goes down.
calls_seconds=4
[ "$phone_mode" = 1 ] && calls_seconds=90
sed -i "s/^sleep 4s\$/sleep ${calls_seconds}s/" "$demo/outlook-script.txt"
: >"$demo/outlook.log"
tail -n +1 -f "$demo/outlook.log" 2>/dev/null | sed -u 's/^/   [outlook] /' &
pids+=($!)
# The gateway goes down, as it might while the user is away, once it has finished the first two
# calls.
(
  for _ in $(seq $((calls_seconds * 10 + 600))); do
    [ "$(grep -cE 'event=state .*state=(done|failed)' "$demo/gateway.log" 2>/dev/null || true)" -ge 2 ] && break
    sleep 0.1
  done
  kill "$gateway_pid" 2>/dev/null || true
) &
pids+=($!)
# What the user sees in the appointment's window while marking it.
wine "$(winepath -w "$demo/demo-user.exe")" ribbon "$(winepath -w "$demo/outlook.log")" 40 </dev/null &
pids+=($!)
# The user reads the agent's messages as they come (each box is left up for two seconds).
wine "$(winepath -w "$demo/demo-user.exe")" read-boxes $((calls_seconds + 16)) </dev/null &
reader=$!
pids+=($reader)
wine 'C:\Program Files\Outlook\outlook-sim.exe' /script "$(winepath -w "$demo/outlook-script.txt")" \
  /log "$(winepath -w "$demo/outlook.log")" </dev/null || true
wait "$reader" || true
sleep 0.5

step "After Outlook's end"
agents=$(wine "$(winepath -w "$demo/demo-user.exe")" agents </dev/null | tr -d '\r')
echo "   agent processes still running: $agents"

step "The gateway's record of the call (talmery-gateway --list)"
for _ in $(seq 300); do
  "$build/native/gateway/talmery-gateway" --database "$demo/calls.db" --list 2>/dev/null |
    grep -Eq ' (done|failed) ' && break
  sleep 0.2
done
"$build/native/gateway/talmery-gateway" --database "$demo/calls.db" --list | sed 's/^/   /'

step "Summary"
requests=$(grep -c 'event=state call=[0-9]* state=queued' "$demo/gateway.log" || true)
# The text the agent composes from the settings and the appointment above.
printf '%s\n' "Hi, this is Ann Lee's appointment reminder call program." \
  "You have an appointment coming up in 15 minutes." "The appointment subject is: Budget review" \
  "The appointment location is: Room 4" ". The appointment notes is: Bring the quarterly figures" \
  >"$demo/expected.txt"
if [ "$phone_mode" = 1 ]; then
  heard=$(ls "$demo/phone/recordings/"*-dec.wav 2>/dev/null | head -n 1 || true)
  what="the phone's recording"
else
  heard="$demo/calls/call-1.wav"
  what="the spoken text"
fi
speech=fail
if [ -f "$heard" ] && "$build/native/tools/phone/speech-check" --text "$demo/expected.txt" --recording "$heard" \
  >"$demo/speech-check.txt"; then
  speech=ok
fi
marked=$(grep -c 'Item#1 MessageClass put ("IPM.Appointment.ReminderCall")' "$demo/outlook.log" || true)
echo "   settings and add-in registration written by the agent's first start"
echo "   appointments marked from the ribbon: $marked"
echo "   call requests accepted by the gateway: $requests"
echo "   $what: ${heard:-none} ($(soxi -d "$heard" 2>/dev/null || echo missing))"
sed 's/^/     /' "$demo/speech-check.txt" 2>/dev/null || true
echo "   it carries the text the agent composed: $speech"
echo "   agent processes left after Outlook's end: $agents"
[ "$requests" -ge 1 ] && [ "$marked" = 1 ] && [ "$agents" = 0 ] && [ "$speech" = ok ]
