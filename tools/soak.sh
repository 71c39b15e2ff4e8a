#!/usr/bin/env bash
# Soak: 1000 reminders (or as many as given) through the Outlook simulator into one hidden agent,
# under Wine. Prints the agent's private bytes and handle count, sampled from outside it every
# batch, and the verdict on their growth; then the same for a plain client that makes the same
# Automation calls and one bare WinINet POST per reminder (the floor), so that growth of the
# platform under the agent can be told from the agent's own. Puts both into docs/performance.md.
# Usage: tools/soak.sh [reminders, default 1000] [batch, default 100]
# Exit code: 0 when the agent's run passed every check and did not grow without bound; 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BRISOMEL_BUILD:-$root/build}
reminders=${1:-1000}
batch=${2:-100}
jobs=$(nproc)

tools/ci/setup.sh

. tools/ci/quiet.sh
. tools/ci/measuring.sh

echo "== building" >&2
quiet cmake --preset x86_64 -B "$build/x86_64"
quiet cmake --build "$build/x86_64" -j "$jobs" --target cadelo outlook-sim system_soak floor_agent

measuring_wine_session "$build"

soak() {
  (cd "$build/x86_64/tools/bench" && measure ./system_soak.exe "$reminders" "$batch" "$1" | tr -d '\r')
}
echo "== the agent: $reminders reminders in batches of $batch" >&2
status=0
agent=$(soak agent) || status=$?
echo "== the floor: the same through a plain client" >&2
floor=$(soak floor) || true
output=$(printf '### The agent\n\n%s\n\n### The floor: a plain client with a bare WinINet POST per reminder\n\n%s\n' \
  "$agent" "$floor")

header="Soak measured $(date -u '+%Y-%m-%d %H:%M UTC') on $(nproc) cores, $(wine --version); command: \`tools/soak.sh $reminders $batch\`."
section=$(printf '%s\n\n%s\n' "$header" "$output")
write_performance_section soak Soak "$section"
printf '%s\n' "$section"
exit "$status"
