#!/usr/bin/env bash
# The long archive fuzz run under Wine: the fixture table, then COUNT seeded random cases.
# A hang inside Wine itself is caught by the outer time limit.
# Usage: bench/fuzz_archive.sh [count=50000] [seed=20261211]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
b="${BUILD_DIR:-$top/build/b}"
[ -f "$b/CMakeCache.txt" ] || "$top/scripts/build.sh" >/dev/null
cmake --build "$b" --target archive_fuzz -j"$(nproc)" >/dev/null
count=${1:-50000}
seed=${2:-20261211}
work="$top/build/archive-fuzz"
rm -rf "$work/outside"
export WINEPREFIX="$top/build/wineprefix-fuzz"
rc=0
timeout $((count / 20 + 300)) "$top/scripts/with-wine.sh" \
  wine "$b/tests/fuzz/archive_fuzz.exe" "Z:$work" "$seed" "$count" 500 10000 || rc=$?
[ "$rc" = 124 ] && echo "archive_fuzz: whole run over its time limit (hang outside a case?)" >&2
[ -d "$work/failed" ] && echo "failing cases kept in $work/failed"
exit "$rc"
