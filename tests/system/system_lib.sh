# What the whole-system scripts share; sourced as `. system_lib.sh <name>`: a work folder $work
# (/tmp/brisomel-<name>-*) removed at the end, with every process whose pid is added to `pids`
# ended first, and wait_for_line.

work=$(mktemp -d "/tmp/brisomel-$1-XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits until <file> has a line with <text>, for as long as process <pid> lives (a minute at most:
# a sanitizer build on a loaded machine can take many seconds to start); shows the file if not.
wait_for_line() {
  for _ in $(seq 600); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    kill -0 "$3" 2>/dev/null || break
    sleep 0.1
  done
  grep -q "$2" "$1" 2>/dev/null && return 0
  echo "no '$2' from $(basename "$1" .log)"; cat "$1"; exit 1
}
