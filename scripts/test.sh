#!/usr/bin/env bash
# From nothing to a passing test run: setup (needs root on a fresh machine), build, tests under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
b="${BUILD_DIR:-$top/build/b}"
cd "$b"
"$top/scripts/with-wine.sh" ctest --output-on-failure -j"$(nproc)" "$@"
