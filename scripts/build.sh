#!/usr/bin/env bash
# Configures and builds the whole tree for Windows into build/b (or $BUILD_DIR).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
b="${BUILD_DIR:-$top/build/b}"
if [ ! -f "$b/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$b" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" "$@" >/dev/null
elif [ $# -gt 0 ]; then
  cmake "$b" "$@" >/dev/null
fi
cmake --build "$b" -j"$(nproc)"
