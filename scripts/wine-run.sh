#!/usr/bin/env bash
# Runs a Windows program of the build under Wine (CTest's cross-compiling emulator).
. "$(dirname "$0")/wine-env.sh"
[ -f "$WINEPREFIX/.project-ready" ] || "$(dirname "$0")/wine-prefix.sh" >&2
exec wine "$@"
