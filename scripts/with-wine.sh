#!/usr/bin/env bash
# Runs a command with the build's Wine prefix warm and, when no display is set, a private Xvfb.
# Wine's background processes are started here, outside the command, with their streams
# closed, so they do not hold the command's output pipes (ctest would wait on them).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
"$here/wine-prefix.sh"

xvfb_pid=
own_server=
cleanup() {
  # Only end a wineserver this run started: another run on the same prefix may be using it.
  [ -n "$own_server" ] && wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ] || [ "${PROJECT_OWN_XVFB:-}" = 1 ]; then
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    export DISPLAY=":$n"
    break
  done
fi

if wineserver -p </dev/null >/dev/null 2>&1; then own_server=1; fi
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
"$@"
