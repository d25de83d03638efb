#!/usr/bin/env bash
# Signed updates, on demand (not part of ctest), under Wine on loopback:
#  (a) what the signature check adds to one update of SIZE_MB (default 100): the worker's
#      download with and without the key (hash while streaming, fetch and verify ".sig"), and
#      the check at apply time (re-read, hash, verify); best of RUNS, alternating sides;
#  (b) the programs' sizes with and without signing support.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
b="${BUILD_DIR:-$top/build/b}"
SIZE_MB="${SIZE_MB:-100}"
RUNS="${RUNS:-3}"
BUILD_DIR="$b" "$top/scripts/build.sh" >/dev/null
cmake --build "$b" --target trust_signing_bench_plain trust_signing_bench_signed >/dev/null

work=$(mktemp -d "$b/signing_bench.XXXXXX")
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
win() { echo "Z:$(echo "$1" | sed 's#/#\\#g')"; }

# Incompressible bytes: the archive's content does not matter to the check.
head -c "$((SIZE_MB * 1024 * 1024))" /dev/urandom >"$work/1000820090415.zip"
python3 "$top/tools/publish/tessaly-publish.py" sign "$top/tests/trust/keys/test_update.pem" \
  "$work/1000820090415.zip" >/dev/null
python3 "$top/tests/updater/update_server.py" "$work" --seconds 900 >"$work/port" \
  2>/dev/null </dev/null &
pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cut -d= -f2 "$work/port")
url="http://127.0.0.1:$port/exact/1000820090415.zip"

"$top/scripts/with-wine.sh" bash -c '
  b=$1 work=$2 url=$3 runs=$4
  win() { echo "Z:$(echo "$1" | sed "s#/#\\\\#g")"; }
  best() { sort -n | head -1; }
  : >"$work/plain.txt"; : >"$work/signed.txt"; : >"$work/apply.txt"
  for i in $(seq "$runs"); do
    for side in plain signed; do
      rm -f "$work/out.zip" "$work/out.zip.sig"
      out=$("$(dirname "$0")/wine-run.sh" "$b/tests/trust/trust_signing_bench_$side.exe" "$url" "$(win "$work/out.zip")")
      echo "$out" | grep -q "^result=0" || { echo "signing_bench: $side download failed: $out" >&2; exit 1; }
      echo "$out" | sed -n "s/^download_ms=//p" | tr -d "\r" >>"$work/$side.txt"
      if [ "$side" = signed ]; then
        echo "$out" | grep -q "^apply_check_ok=1" || { echo "signing_bench: check failed" >&2; exit 1; }
        echo "$out" | sed -n "s/^apply_check_ms=//p" | tr -d "\r" >>"$work/apply.txt"
      fi
    done
  done
  p=$(best <"$work/plain.txt"); s=$(best <"$work/signed.txt"); a=$(best <"$work/apply.txt")
  echo "download, no key (baseline): ${p} ms"
  echo "download, with key:          ${s} ms  (+$(awk -v s="$s" -v p="$p" "BEGIN{printf \"%.1f\", s-p}") ms)"
  echo "check at apply time:         ${a} ms"
' "$top/scripts/x" "$b" "$work" "$url" "$RUNS" | sed "s/^/signing_bench: ${SIZE_MB} MB, best of $RUNS: /"

size() { stat -c %s "$1"; }
echo "signing_bench: Update.exe without key $(size "$b/updater/Update.exe") bytes, with key $(size "$b/tests/trust/signed/Update.exe") bytes"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
  -days 2 -subj "/CN=signing bench" >/dev/null 2>&1
python3 "$top/tools/pack/pack.py" --stub "$b/installer/PellarSetup.exe" --zip "$b/sample/package.zip" \
  --out "$work/unsigned.exe"
python3 "$top/tools/pack/pack.py" --stub "$b/installer/PellarSetup.exe" --zip "$b/sample/package.zip" \
  --out "$work/signed.exe" --sign "$work/cert.pem" "$work/key.pem"
echo "signing_bench: PellarSetup.exe stub $(size "$b/installer/PellarSetup.exe") bytes; sample installer unsigned $(size "$work/unsigned.exe"), signed (self-signed RSA-2048, SHA-256) $(size "$work/signed.exe") bytes"
