# Sourced by the measuring scripts (tools/bench.sh, tools/soak.sh, tools/bench-gateway.sh).

# Starts the Wine session of <build> (a prefix of its own) for the x86_64 measuring programs and
# ends it with the script.
measuring_wine_session() {
  . tools/ci/wine-env.sh "$1" win64
  wine_prefix_create >&2
  trap wine_server_stop EXIT
  wine_server_start || true  # a server of this prefix may already run
}

# Runs a measuring program (arguments as for wine); a program that could not even start (exit
# code 2, e.g. while a previous server of this prefix was still going down) gets a second try.
measure() {
  local status=0
  DISPLAY= timeout 1800 wine "$@" </dev/null 2>/dev/null || status=$?
  if [ "$status" = 2 ]; then
    sleep 3
    wine_server_start || true
    status=0
    DISPLAY= timeout 1800 wine "$@" </dev/null 2>/dev/null || status=$?
  fi
  return "$status"
}

# Replaces the text between <!-- <name>:begin --> and <!-- <name>:end --> of docs/performance.md
# with <text>; the file keeps the rest. A missing section is added at the end under <heading>.
write_performance_section() {
  local name=$1 heading=$2 text=$3 doc=docs/performance.md
  mkdir -p docs
  [ -f "$doc" ] || printf '# Performance\n' >"$doc"
  if ! grep -q "<!-- $name:begin -->" "$doc"; then
    printf '\n## %s\n\n<!-- %s:begin -->\n<!-- %s:end -->\n' "$heading" "$name" "$name" >>"$doc"
  fi
  TEXT="$text" BEGIN="<!-- $name:begin -->" END="<!-- $name:end -->" awk '
    $0 == ENVIRON["BEGIN"] { print; print ENVIRON["TEXT"]; skip = 1; next }
    $0 == ENVIRON["END"]   { skip = 0 }
    !skip' "$doc" >"$doc.new" && mv "$doc.new" "$doc"
}
