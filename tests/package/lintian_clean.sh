#!/usr/bin/env bash
# lintian finds neither errors nor warnings in the package (informational tags are shown only).
# Usage: lintian_clean.sh PACKAGE.deb
set -uo pipefail
report=$(lintian --info "$1" 2>&1 | grep -v '^running with root privileges')
echo "$report"
! grep -q '^[EW]: ' <<<"$report"
