#!/usr/bin/env bash
# Configures and builds the whole tree for Windows into build/b (or $BUILD_DIR).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
b="${BUILD_DIR:-$top/build/b}"
# Configure every time: subfolders are picked up when they appear.
cmake -S "$top" -B "$b" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" "$@" >/dev/null
cmake --build "$b" -j"$(nproc)"
