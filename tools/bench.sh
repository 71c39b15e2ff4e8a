#!/usr/bin/env bash
# Measures the whole system on this machine, under Wine, in one run: the reminder path against
# its floor, how long Outlook is blocked per event, the add-in's calls, the agent's start, a
# burst of reminders, the reminder call to the real call server in clear and over HTTPS, the
# sizes of the binaries and the idle agent. Prints one table and puts it,
# with the date and the machine, into docs/performance.md.
# Usage: tools/bench.sh [reminders per block of the reminder path's series (4 blocks each), default 40]
# BRISOMEL_BUILD chooses the build folder (default: build/ in the checkout).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
runs=${1:-40}
jobs=$(nproc)

tools/ci/setup.sh

. tools/ci/quiet.sh
. tools/ci/measuring.sh

echo "== building (x86_64 with the measuring programs, i686 for the sizes)" >&2
quiet cmake --preset x86_64 -B "$build/x86_64"
quiet cmake --build "$build/x86_64" -j "$jobs" --target cadelo mervane outlook-sim system_bench calls_bench harness_show_box
quiet cmake --preset i686 -B "$build/i686"
quiet cmake --build "$build/i686" -j "$jobs" --target cadelo mervane
echo "== building the call server (Release, no sanitizers)" >&2
quiet cmake --preset native-release -B "$build/gateway-release"
quiet cmake --build "$build/gateway-release" -j "$jobs" --target talmery-gateway

measuring_wine_session "$build"

echo "== measuring (about five minutes)" >&2
bench_dir="$build/x86_64/tools/bench"
rows=$(cd "$bench_dir" && measure ./system_bench.exe "$runs" | tr -d '\r' | grep '^|')
calls=$(timeout 600 tools/bench/calls_bench.sh "$build/gateway-release/gateway/talmery-gateway" \
  "$bench_dir/calls_bench.exe" 200 | tr -d '\r') || echo "calls_bench did not finish" >&2
calls_rows=$(awk '
  /^MakeReminderCall/  { printf "| MakeReminderCall in process (composition + request) | median %s ms, p95 %s ms (n=%s) | tools/bench calls_bench: called directly, no Outlook, alternating with the bare POST |\n", $4, $7, substr($2, 3) }
  /^bare WinINet POST/ { printf "| Bare WinINet POST of the same bytes | median %s ms, p95 %s ms (n=%s) | tools/bench calls_bench |\n", $6, $9, substr($4, 3) }
  /^Real gateway, clear/ { printf "| MakeReminderCall to the real call server, clear | median %s ms, p95 %s ms (n=%s, %s failed) | tools/bench/calls_bench.sh: host setting localhost; talmery-gateway (Release, speaker mode) on listen_plain; a new connection per request; alternating with the HTTPS call |\n", $6, $9, substr($4, 3), $NF }
  /^Real gateway, HTTPS  / { printf "| MakeReminderCall to the real call server, HTTPS | median %s ms, p95 %s ms (n=%s, %s failed) | host setting https://localhost; the same server on its HTTPS listen (Schannel under Wine; an RSA 2048 certificate of a test authority trusted in the prefix); a full handshake and the chain check per request, as the agent does |\n", $6, $9, substr($4, 3), $NF }
  /^Real gateway, HTTPS \// { printf "| MakeReminderCall to the real call server: HTTPS / clear | median %s, p95 %s | the two rows above, divided |\n", $7, $9 }
  /^Part, resolve/        { printf "| HTTPS leg, part: resolving localhost | median %s ms, p95 %s ms (n=%s) | GetAddrInfoW alone, as the agent resolves its host setting (both legs pay it) |\n", $5, $8, substr($3, 3) }
  /^Part, TCP connect/    { printf "| HTTPS leg, part: TCP connection | median %s ms, p95 %s ms (n=%s) | connect to the HTTPS listener and close (both legs pay it) |\n", $6, $9, substr($4, 3) }
  /^Part, TCP \+ TLS open/ { printf "| HTTPS leg, part: TCP connection with the handshake and the certificate check | median %s ms, p95 %s ms (n=%s) | the agent'"'"'s TlsChannel::Open on a new connection, nothing sent |\n", $8, $11, substr($6, 3) }
  /^Part, chain check/    { printf "| HTTPS leg, part: the certificate check alone | median %s ms, p95 %s ms (n=%s) | the agent'"'"'s CheckServerCertificate: the chain and the SSL policy, as after each handshake |\n", $6, $9, substr($4, 3) }' <<<"$calls")

size() { stat -c %s "$1" | awk '{ printf "%.1f KB", $1 / 1024 }'; }
size_rows=$(cat <<ROWS
| Size of cadelo.exe | i686 $(size "$build/i686/agent/shell/cadelo.exe"), x86_64 $(size "$build/x86_64/agent/shell/cadelo.exe") | Release as shipped: static runtime, stripped (tools/sizes.sh) |
| Size of mervane.dll | i686 $(size "$build/i686/addin/mervane.dll"), x86_64 $(size "$build/x86_64/addin/mervane.dll") | the same |
ROWS
)

cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
header="Measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores ($cpu), $(free -g | awk '/^Mem:/{print $2}') GB, \
$(wine --version), load average $(cut -d' ' -f1-3 /proc/loadavg) at the end; command: \`tools/bench.sh $runs\`."
table=$(printf '%s\n\n| Measure | Result | How |\n|---|---|---|\n%s\n%s\n%s\n' "$header" "$rows" "$calls_rows" "$size_rows")

write_performance_section bench Benchmarks "$table"
printf '%s\n' "$table"
