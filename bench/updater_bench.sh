#!/usr/bin/env bash
# Updater benchmark under Wine on loopback (on demand, not part of ctest):
#  (a) start to lobby start, no pending archive and an empty version list, against a program
#      that only starts the lobby;
#  (b) an archive download (20 MB and 200 MB): the worker's time and peak memory, against a
#      plain WinINet read loop of the same URL in the same run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
b="${BUILD_DIR:-$top/build/b}"
BIG_MB="${BIG_MB:-200}"
RUNS="${RUNS:-15}"
BUILD_DIR="$b" "$top/scripts/build.sh" >/dev/null

work=$(mktemp -d "$b/updater_bench.XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
win() { echo "Z:$(echo "$1" | sed 's#/#\\#g')"; }

serve() { # root big_size; sets port (not in a subshell: the server's pid is kept for cleanup)
  python3 "$top/tests/updater/update_server.py" "$1" --seconds 900 --big-size "$2" \
    >"$1/port" 2>"$1/server.log" </dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$1/port" ] && break; sleep 0.05; done
  port=$(cut -d= -f2 "$1/port")
}

install() { # folder updater-exe server-port
  mkdir -p "$1/Sys" "$1/UpdateZip" "$1/cwd"
  cp "$2" "$1/Update.exe"
  cp "$b/tools/lobby/Orvane.exe" "$1/"
  printf '[VERSION]\r\nFirstVersion=10008\r\nSecondVersion=20090324\r\n[UPDATE]\r\nServer=http://127.0.0.1:%s\r\n' "$3" |
    iconv -f utf-8 -t utf-16le | { printf '\xff\xfe'; cat; } >"$1/Sys/Config.ini"
}

run() { "$top/scripts/with-wine.sh" "$@"; }

# (a) start-up
mkdir -p "$work/empty"
printf '<ovVersionList></ovVersionList>' >"$work/empty/zip.html"
serve "$work/empty" 0
install "$work/a" "$b/updater/Update.exe" "$port"
mkdir -p "$work/l"
cp "$b/bench/updater/runvel_launch_only.exe" "$b/tools/lobby/Orvane.exe" "$work/l/"
driver="$b/bench/updater/runvel_bench_driver.exe"
cat >"$work/a.sh" <<EOS
wine "$driver" lobby '$(win "$work/a/Update.exe")' '$(win "$work/a/cwd")' $RUNS
wine "$driver" lobby '$(win "$work/l/runvel_launch_only.exe")' '$(win "$work/l")' $RUNS
EOS
out=$(run bash "$work/a.sh" 2>/dev/null)
upd=$(echo "$out" | sed -n 1p | sed 's/.*median_ms=\([0-9.]*\).*/\1/')
lim=$(echo "$out" | sed -n 2p | sed 's/.*median_ms=\([0-9.]*\).*/\1/')
echo "(a) start to lobby, median of $RUNS: Update.exe ${upd} ms, launch-only ${lim} ms," \
  "ratio $(python3 -c "print('%.2f' % ($upd / $lim))")"
echo "    Update.exe: $(echo "$out" | sed -n 1p)"
echo "    launch-only: $(echo "$out" | sed -n 2p)"

# (b) downloads
for mb in 20 "$BIG_MB"; do
  size=$((mb * 1024 * 1024))
  root="$work/srv$mb"
  mkdir -p "$root"
  serve "$root" "$size"
  printf '<ovVersionList><Version>1000820090415http://127.0.0.1:%s/big/1000820090415.zip</Version></ovVersionList>' \
    "$port" >"$root/zip.html"
  d="$work/b$mb"
  install "$d" "$b/bench/updater/memory/Update.exe" "$port"
  cat >"$work/b.sh" <<EOS
wine "$driver" exit '$(win "$d/Update.exe")' '$(win "$d/cwd")'
wine "$b/bench/updater/runvel_wininet_read.exe" 'http://127.0.0.1:$port/big/x.zip' '$(win "$d/plain.bin")'
EOS
  out=$(run bash "$work/b.sh" 2>/dev/null)
  stored=$(stat -c %s "$d/UpdateZip/1000820090415.zip" 2>/dev/null || echo 0)
  mem=$(tr -d '\r' <"$d/UpdateZip/1000820090415.zip.mem.txt" 2>/dev/null || echo "none")
  plain=$(echo "$out" | sed -n 2p)
  python3 - "$mb" "$size" "$stored" "$mem" "$plain" "$(echo "$out" | sed -n 1p)" <<'EOS'
import sys
mb, size, stored, mem, plain, total = sys.argv[1:]
kv = lambda s: dict(p.split("=") for p in s.split())
m, p, t = kv(mem), kv(plain), kv(total)
w = int(m["worker_ms"]) / 1000
print("(b) %s MB: stored %s of %s bytes; worker %.2f s = %.0f MB/s, plain WinINet loop %.2f s"
      " = %.0f MB/s (worker throughput %.0f%% of the loop's); process start to end %s s"
      % (mb, stored, size, w, int(mb) / w, float(p["seconds"]), int(mb) / float(p["seconds"]),
         100 * float(p["seconds"]) / w, t["seconds"]))
print("    peak memory: updater working set %.1f MB, pagefile %.1f MB; plain loop %.1f MB, %.1f MB"
      % (int(m["peak_working_set"]) / 2**20, int(m["peak_pagefile"]) / 2**20,
         int(p["peak_working_set"]) / 2**20, int(p["peak_pagefile"]) / 2**20))
EOS
done
