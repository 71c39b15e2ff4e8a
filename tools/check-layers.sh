#!/usr/bin/env bash
# Holds the call server's layering (gateway/layers.txt): a module (a .h and its .cpp) includes
# modules of its own layer or of layers below it, never one above, so that the lower parts build
# and test without the upper ones. Every gateway/*.h and *.cpp must be of a module the table
# names, and every module the table names must exist.
# Prints each offence and fails when there is one.
# Usage: tools/check-layers.sh [root]   (default: the checkout this script lies in)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$root"
table=gateway/layers.txt
[ -f "$table" ] || { echo "check-layers: $table is missing" >&2; exit 2; }

declare -A layer
while read -r module number _; do
  case "$module" in '' | '#'*) continue ;; esac
  if [[ ! "$number" =~ ^[0-9]+$ ]]; then
    echo "$table: $module has no layer number"
    exit 1
  fi
  if [ -n "${layer[$module]:-}" ]; then
    echo "$table: $module is listed twice"
    exit 1
  fi
  layer[$module]=$number
done <"$table"

offences=0
declare -A seen
for file in $(find gateway -maxdepth 1 \( -name '*.h' -o -name '*.cpp' \) | LC_ALL=C sort); do
  name=${file#gateway/}
  module=${name%.*}
  seen[$module]=1
  if [ -z "${layer[$module]:-}" ]; then
    echo "$file: module $module has no row in $table"
    offences=$((offences + 1))
    continue
  fi
  while IFS=: read -r line included; do
    target=${included%.h}
    if [ -z "${layer[$target]:-}" ]; then
      echo "$file:$line: includes gateway/$included, of no module in $table"
      offences=$((offences + 1))
    elif [ "${layer[$target]}" -gt "${layer[$module]}" ]; then
      echo "$file:$line: includes gateway/$included upward ($module is of layer ${layer[$module]}, $target of layer ${layer[$target]})"
      offences=$((offences + 1))
    fi
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"gateway/[^"]*"' "$file" |
             sed 's|^\([0-9]*\):[^"]*"gateway/\([^"]*\)".*|\1:\2|')
done
for module in $(printf '%s\n' "${!layer[@]}" | LC_ALL=C sort); do
  if [ -z "${seen[$module]:-}" ]; then
    echo "$table: $module is listed but has no gateway/$module.h nor .cpp"
    offences=$((offences + 1))
  fi
done
[ "$offences" = 0 ] || exit 1
echo "check-layers: gateway/ keeps its layers (${#layer[@]} modules)"
