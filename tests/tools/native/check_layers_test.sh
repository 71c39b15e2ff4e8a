#!/usr/bin/env bash
# tools/check-layers.sh: the checkout keeps gateway/'s layers, and a tree that breaks them is told
# exactly where (an include upward, a file of no listed module, an include of no listed module, a
# row without its files), while includes sideways and downward pass.
set -euo pipefail
check="$1/tools/check-layers.sh"
"$check" "$1"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/gateway"
printf '# module layer\nlow 0\npeer 0\nhigh 1\ngone 1\n' >"$tree/gateway/layers.txt"
printf '#pragma once\n#include "gateway/peer.h"\n' >"$tree/gateway/low.h"
printf '#include "gateway/low.h"\n\n  #include "gateway/high.h"  // the offence\n' >"$tree/gateway/low.cpp"
printf '#pragma once\n#include <string>\n' >"$tree/gateway/peer.h"
printf '#include "gateway/high.h"\n#include "gateway/low.h"\n#include "gateway/other.h"\n' >"$tree/gateway/high.cpp"
printf '#pragma once\n' >"$tree/gateway/high.h"
printf '#include "gateway/low.h"\n' >"$tree/gateway/stray.cpp"
expected="gateway/high.cpp:3: includes gateway/other.h, of no module in gateway/layers.txt
gateway/low.cpp:3: includes gateway/high.h upward (low is of layer 0, high of layer 1)
gateway/stray.cpp: module stray has no row in gateway/layers.txt
gateway/layers.txt: gone is listed but has no gateway/gone.h nor .cpp"
set +e
got=$("$check" "$tree")
rc=$?
set -e
if [ "$rc" != 1 ] || [ "$got" != "$expected" ]; then
  printf 'exit %s, printed:\n%s\nexpected:\n%s\n' "$rc" "$got" "$expected" >&2
  exit 1
fi
echo "check-layers tells each offence"
