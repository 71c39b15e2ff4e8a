#!/usr/bin/env bash
# Prints the size of the code base: files and lines per product folder, small files, framework
# members (functions declared in its headers, as ctags sees them) and test lines.
# Usage: tools/code-figures.sh [git revision]   (default: HEAD)
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
git archive "${1:-HEAD}" | tar -x -C "$tree"
cd "$tree"
lines() { find "$@" -type f -print0 2>/dev/null | xargs -0 cat 2>/dev/null | wc -l; }
printf '%-18s %6s %7s\n' folder files lines
for d in agent/framework agent/calls agent/outlook agent/shell agent/res addin common installer gateway tools tests; do
  printf '%-18s %6d %7d\n' "$d" "$(find "$d" -type f 2>/dev/null | wc -l)" "$(lines "$d")"
done
sources=$(find agent addin common -name '*.cpp' -o -name '*.h' 2>/dev/null)
small=0
for f in $sources; do [ "$(wc -l <"$f")" -lt 20 ] && small=$((small + 1)); done
echo "product source files (agent, addin, common): $(echo "$sources" | wc -l), under 20 lines: $small"
echo "framework members (functions and prototypes in its headers): $(find agent/framework -name '*.h' -print0 | xargs -0 ctags -x --c++-kinds=fp --language-force=C++ | wc -l)"
echo "test lines (tests/ sources, corpora excluded): $(find tests -regextype egrep -regex '.*\.(cpp|h|txt|cmake|sh|py)' -print0 | xargs -0 cat | wc -l)"
echo "largest test files (lines):"
find tests -regextype egrep -regex '.*\.(cpp|h|sh|py)' -print0 | xargs -0 wc -l | grep -v ' total$' | sort -rn | head -8 |
  awk '{ printf "  %6d %s\n", $1, $2 }'
