#!/usr/bin/env bash
# Holds the naming rule of README's "Names" paragraph where a compiler does not:
#  1. no two types of one name in the product (agent, addin, common, installer, gateway): a class,
#     struct, enum or union defined at namespace scope has a name no other type there has, and a
#     nested type does not take the name of a namespace-scope one (a reader, or a using
#     directive, would mistake one for the other); type aliases are no new types;
#  2. the agent and the add-in (agent, addin, common) name members and globals in one style:
#     Hungarian names (m_..., g_..., s_...) only where tools/names/kept-names.txt keeps them.
# Prints each offence and fails when there is one.
# Usage: tools/check-names.sh [root]   (default: the checkout this script lies in)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
kept="$(cd "$(dirname "$0")" && pwd)/names/kept-names.txt"
cd "$root"
command -v ctags >/dev/null || { echo "check-names: ctags (universal-ctags) is needed" >&2; exit 2; }

# The C and C++ files of those of the folders that exist.
sources() {
  local dir
  for dir in "$@"; do
    [ ! -d "$dir" ] || find "$dir" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \)
  done | sort
}
failed=0

# 1. Type names: "<name> <file> <scope>", scope "-" at namespace scope.
types=$(sources agent addin common installer gateway |
  xargs -r ctags -f - --c++-kinds=csgu --fields=+sK --language-force=C++ 2>/dev/null |
  awk -F'\t' '{ scope = "-"
               for (i = 4; i <= NF; i++) if ($i ~ /^(class|struct|union|enum):/) scope = $i
               print $1, $2, scope }' | sort -u)
dups=$(echo "$types" | awk '$3 == "-" { top[$1]++; where[$1] = where[$1] " " $2 }
                            $3 != "-" { nested[$1] = nested[$1] " " $2 "(" $3 ")" }
                            END { for (n in top) {
                                    if (top[n] > 1) print "type " n " defined twice:" where[n]
                                    if (n in nested) print "type " n " (" where[n] " ) also nested in" nested[n] } }' | sort)
if [ -n "$dups" ]; then echo "$dups"; failed=1; fi

# 2. Hungarian members and globals of the agent and the add-in, but those kept.
names=$(sources agent addin common | xargs -r grep -HnoE '\b[mgs]_[A-Za-z][A-Za-z0-9_]*' || true)
found=$(echo "$names" | awk -F: 'NR == FNR { if ($0 !~ /^#/ && $0 != "") keep[$0] = 1; next }
  $3 != "" && !($3 in keep) { print $1 ":" $2 ": " $3 " is not named in the agent'"'"'s style" }' "$kept" -)
if [ -n "$found" ]; then echo "$found"; failed=1; fi

[ "$failed" = 0 ] && echo "check-names: one name per type, members and globals in one style"
exit "$failed"
