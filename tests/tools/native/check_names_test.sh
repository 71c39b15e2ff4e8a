#!/usr/bin/env bash
# tools/check-names.sh: the checkout keeps the naming rule, and a tree that breaks it is told
# exactly where (a type defined twice, a nested type taking a namespace-scope name, a Hungarian
# member outside the kept list), while kept names and other styles pass.
set -euo pipefail
check="$1/tools/check-names.sh"
"$check" "$1"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/agent" "$tree/addin" "$tree/gateway"
printf 'struct Reply { int m_nCode; };\nclass Kept { int m_hWnd; int count_; };\n' >"$tree/agent/a.h"
printf 'namespace x { enum class Reply { kOk }; }\nclass Host { struct Kept {}; };\n' >"$tree/addin/b.h"
printf 'namespace talmery { class Host { int g_total; }; }\n' >"$tree/gateway/c.h"
expected="type Host defined twice: addin/b.h gateway/c.h
type Kept ( agent/a.h ) also nested in addin/b.h(class:Host)
type Reply defined twice: addin/b.h agent/a.h
agent/a.h:1: m_nCode is not named in the agent's style"
set +e
got=$("$check" "$tree")
rc=$?
set -e
if [ "$rc" != 1 ] || [ "$got" != "$expected" ]; then
  printf 'exit %s, printed:\n%s\nexpected:\n%s\n' "$rc" "$got" "$expected" >&2
  exit 1
fi
echo "check-names tells each offence"
