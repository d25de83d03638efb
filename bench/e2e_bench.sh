#!/usr/bin/env bash
# Whole-product figures under Wine (on demand, not part of ctest):
#  (a) a whole install through the wizard (Install clicked to Finish shown) of the sample
#      installer and of a generated ~100 MB package, against cp + unzip of the same package
#      with the standard tools in the same run;
#  (b) the installed updater's time from start to lobby start (empty version list on a
#      loopback server), against starting the lobby directly;
#  (c) the sizes of the installer stub, the sample installer and the updater.
#   BIG_RANDOM_MB / BIG_TEXT_MB: generated payload (incompressible / compressible MiB)
#   RUNS: updater starts to take the median of
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
b="${BUILD_DIR:-$top/build/b}"
BIG_RANDOM_MB="${BIG_RANDOM_MB:-90}"
BIG_TEXT_MB="${BIG_TEXT_MB:-40}"
RUNS="${RUNS:-15}"
BUILD_DIR="$b" "$top/scripts/build.sh" >/dev/null
. "$top/scripts/wine-env.sh"
# Shell links would otherwise also become menu entries on the host.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

work=$(mktemp -d "$b/e2e_bench.XXXXXX")
server_pid=
desktop="$WINEPREFIX/drive_c/users/$(id -un)/Desktop"
group="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Tessaly"
saved="$work/saved"
mkdir -p "$saved"
# Shortcuts of an earlier installation are put back afterwards.
[ -e "$desktop/Tessaly1.0.lnk" ] && cp -p "$desktop/Tessaly1.0.lnk" "$saved/"
[ -d "$group" ] && cp -rp "$group" "$saved/group"
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -f "$desktop/Tessaly1.0.lnk"
  rm -rf "$group"
  [ -e "$saved/Tessaly1.0.lnk" ] && cp -p "$saved/Tessaly1.0.lnk" "$desktop/"
  [ -d "$saved/group" ] && cp -rp "$saved/group" "$group"
  rm -rf "$work"
}
trap cleanup EXIT
win() { echo "Z:$(echo "$1" | sed 's#/#\\#g')"; }
ms() { date +%s%N; }

# The ~100 MB package: the sample product plus generated skins.
big="$work/big"
cp -r "$b/sample/package" "$big"
python3 - "$big/Skin/Big" "$BIG_RANDOM_MB" "$BIG_TEXT_MB" <<'PY'
import os, random, sys
root, nrand, ntext = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
os.makedirs(root)
rng = random.Random(1)
for i in range(nrand):
    with open(os.path.join(root, "r%03d.bin" % i), "wb") as f:
        f.write(rng.randbytes(1 << 20))
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
         for _ in range(2000)]
for i in range(ntext):
    with open(os.path.join(root, "t%03d.txt" % i), "wb") as f:
        out = bytearray()
        while len(out) < 1 << 20:
            out += rng.choice(words) + b" "
        f.write(bytes(out[: 1 << 20]))
PY
python3 "$top/tools/pack/pack.py" --stub "$b/installer/PellarSetup.exe" --folder "$big" \
  --keep-zip "$work/big.zip" --out "$work/BigSetup.exe"

install() { # installer zip name
  local dest="$work/inst-$3" copy="$work/copy-$3"
  local t0 out t1
  mkdir -p "$dest"
  t0=$(ms)
  out=$("$top/scripts/with-wine.sh" wine "$b/tests/installer/pellar_drive.exe" "$(win "$1")" \
        "$(win "$dest/Tessaly")" 2>/dev/null | tr -d '\r')
  t1=$(ms)
  echo "$out" | grep -q '^result=ok' || { echo "install of $3 failed: $out" >&2; exit 1; }
  local inst_ms wall_ms
  inst_ms=$(echo "$out" | sed -n 's/^install-ms=//p')
  wall_ms=$(( (t1 - t0) / 1000000 ))
  # The same work with standard tools: copy the package out, unzip it, remove the copy.
  mkdir -p "$copy"
  t0=$(ms)
  cp "$2" "$copy/pkg.zip"
  sync "$copy/pkg.zip"
  unzip -q -o "$copy/pkg.zip" -d "$copy/Tessaly"
  rm "$copy/pkg.zip"
  t1=$(ms)
  local base_ms=$(( (t1 - t0) / 1000000 ))
  local files bytes
  files=$(unzip -Z1 "$2" | wc -l)
  bytes=$(du -sb "$copy/Tessaly" | cut -f1)
  diff -r "$copy/Tessaly" "$dest/Tessaly" >/dev/null || { echo "$3: installed tree differs from unzip's" >&2; exit 1; }
  printf '(a) %-6s package %s bytes, %s entries, %s bytes extracted:\n' "$3" "$(stat -c %s "$2")" "$files" "$bytes"
  printf '      installer under Wine: %s ms Install to Finish (%s ms with wizard start and end)\n' "$inst_ms" "$wall_ms"
  printf '      cp + unzip (native):  %s ms   ratio %s\n' "$base_ms" \
    "$(python3 -c "print('%.1f' % ($inst_ms / max($base_ms, 1)))")"
  rm -rf "$copy"
}
install "$b/PellarSetup.exe" "$b/sample/package.zip" sample
install "$work/BigSetup.exe" "$work/big.zip" big

# (b) the sample installation's updater against an empty list from the publishing tool.
app="$work/inst-sample/Tessaly"
mkdir -p "$work/empty" "$work/cwd"
python3 "$top/tools/publish/tessaly-publish.py" serve "$work/empty" --port 0 --seconds 600 \
  >"$work/serve.out" 2>/dev/null </dev/null &
server_pid=$!
for _ in $(seq 100); do grep -q serving "$work/serve.out" 2>/dev/null && break; sleep 0.05; done
port=$(sed -n 's#.*http://127.0.0.1:\([0-9]*\)/zip.html.*#\1#p' "$work/serve.out")
python3 - "$app/Sys/Config.ini" "$port" <<'PY'
import sys
path, port = sys.argv[1], sys.argv[2]
text = open(path, "rb").read()[2:].decode("utf-16-le").rstrip("\r\n")
text += "\r\n[UPDATE]\r\nServer=http://127.0.0.1:%s\r\n" % port
open(path, "wb").write(b"\xff\xfe" + text.encode("utf-16-le"))
PY
timer="$b/bench/e2e/e2e_timer.exe"
out=$("$top/scripts/with-wine.sh" bash -c '
  wine "$1" "$2" "$4" "$5"; wine "$1" "$3" "$4" "$5"' _ "$timer" "$(win "$app/Update.exe")" \
  "$(win "$app/Orvane.exe")" "$(win "$work/cwd")" "$RUNS" 2>/dev/null | tr -d '\r')
upd=$(echo "$out" | sed -n 1p)
lob=$(echo "$out" | sed -n 2p)
echo "(b) start to lobby start, median of $RUNS:"
echo "      Update.exe:         $upd"
echo "      Orvane.exe directly: $lob"

# (c) sizes
echo "(c) sizes: installer stub $(stat -c %s "$b/installer/PellarSetup.exe") bytes," \
  "sample installer $(stat -c %s "$b/PellarSetup.exe") bytes," \
  "updater Update.exe $(stat -c %s "$b/updater/Update.exe") bytes"
