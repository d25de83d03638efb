#!/usr/bin/env bash
# The long hardening runs under Wine: the version list loop on lists of megabytes against the
# plain loop it replaced, then seeded kills of the updater (downloads and applications) and of
# the installer (copy-out and extraction, each followed by a second run), with their counts.
# Usage: bench/hardening.sh [kills=40] [seed=20261211]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
b=$(realpath -m "${BUILD_DIR:-$top/build/b}")
kills=${1:-40}
seed=${2:-20261211}
[ -f "$b/CMakeCache.txt" ] || "$top/scripts/build.sh" >/dev/null
cmake --build "$b" --target version_list_bench installer_faults_test runvel lobby runvel_probe \
  pellar_waiter pellarsetup -j"$(nproc)" >/dev/null
export WINEPREFIX="${WINEPREFIX:-$top/build/wineprefix-hardening}"
work="$b/tests/hardening"
drives="$work/drives-bench"
mkdir -p "$work"
"$top/scripts/wine-prefix.sh" # the drives are mapped into it
bash "$top/tests/common/tmpfs_drives.sh" up "$drives" t=4m u=18m
trap 'bash "$top/tests/common/tmpfs_drives.sh" down "$drives" t=4m u=18m' EXIT

run() { "$top/scripts/with-wine.sh" "$@"; }

echo "== version list loop (linear) against the plain loop (baseline)"
run wine "$b/tests/hardening/version_list_bench.exe"

echo "== updater: $kills kills in downloads, $kills in applications (seed $seed)"
t0=$(date +%s)
HARDENING_KILLS=$kills HARDENING_SEED=$seed HARDENING_DRIVES="$drives" \
PYTHONDONTWRITEBYTECODE=1 RUNVEL_EXE="$b/updater/Update.exe" RUNVEL_LOBBY="$b/tools/lobby/Orvane.exe" \
RUNVEL_PROBE="$b/tests/updater/runvel_probe.exe" RUNVEL_WINE_RUN="$top/scripts/wine-run.sh" \
RUNVEL_WORK="$work" PELLAR_WAITER="$b/tests/installer/pellar_waiter.exe" \
FAULT_REPORT="$work/updater-faults.json" \
  run timeout $((kills * 20 + 300)) python3 "$top/tests/hardening/test_updater_faults.py" KillTest 2>&1 |
  grep -E "fault counts|^Ran|^OK|FAIL|Error" || true
echo "   $(( $(date +%s) - t0 )) s"

echo "== installer: $kills kills in copy-out and extraction, each run again (seed $seed)"
t0=$(date +%s)
HARDENING_KILLS=$kills HARDENING_SEED=$seed \
  run timeout $((kills * 30 + 300)) wine "$b/tests/hardening/installer_faults_test.exe" \
  --gtest_filter='*Killed*' 2>&1 | grep -E "fault counts|PASSED|FAILED|Failure" || true
echo "   $(( $(date +%s) - t0 )) s"
