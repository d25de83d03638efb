#!/usr/bin/env bash
# Builds and runs the archive extraction benchmark under Wine. Its data lives under build/ and is
# removed afterwards; it uses a Wine prefix of its own so test runs elsewhere do not end its
# Wine server mid-run.
# Usage: bench/archive_bench.sh [rounds]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
b="${BUILD_DIR:-$top/build/b}"
[ -f "$b/CMakeCache.txt" ] || "$top/scripts/build.sh" >/dev/null
cmake --build "$b" --target archive_bench -j"$(nproc)" >/dev/null
work="$top/build/archive-bench"
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
export WINEPREFIX="$top/build/wineprefix-bench"
out=$("$top/scripts/with-wine.sh" wine "$b/bench/archive/archive_bench.exe" "Z:$work" "${1:-5}")
echo "$out"
grep -q '^ratio' <<<"$out" || { echo "archive_bench: no result" >&2; exit 1; }
