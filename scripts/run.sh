#!/usr/bin/env bash
# Builds everything and runs the sample installer build/b/PellarSetup.exe under Wine.
# With a display: the wizard opens for you to click through (Wine prefix build/wineprefix).
# Without one (or with --headless): drives every wizard step itself in a private Xvfb,
# installs into "C:\Program Files\Tessaly\" of the prefix, pictures each step and reports
# where it installed, which shortcuts it made and where the pictures are.
#   --docs   also copy the pictures to docs/ (PNG)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
headless=
docs=
for a in "$@"; do
  case "$a" in
  --headless) headless=1 ;;
  --docs) docs=1 ;;
  *) echo "usage: scripts/run.sh [--headless] [--docs]" >&2; exit 2 ;;
  esac
done
[ -z "${DISPLAY:-}" ] && headless=1

"$top/scripts/setup.sh"
"$top/scripts/build.sh"
b="${BUILD_DIR:-$top/build/b}"
. "$top/scripts/wine-env.sh"

if [ -z "$headless" ]; then
  echo "run: starting the installer on $DISPLAY (Wine prefix $WINEPREFIX)"
  exec "$top/scripts/with-wine.sh" wine "$b/PellarSetup.exe"
fi

shots="$b/screenshots"
rm -rf "$shots"
mkdir -p "$shots"
# An installer whose trailer names more bytes than the file holds, for the failed step.
python3 - "$b/installer/PellarSetup.exe" "$shots/Damaged.exe" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
open(sys.argv[2], "wb").write(data + b"xyz" + struct.pack("<I", 0xFFFFFF))
PY
winpath() { echo "Z:${1//\//\\}"; }
drive="$b/tests/installer/pellar_drive.exe"
report="$shots/report.txt"
"$top/scripts/with-wine.sh" bash -c '
  wine explorer /desktop=PellarSetup,800x600 "$1" "$2" "C:\\Program Files\\Tessaly\\" "$3" 2>/dev/null
  wine explorer /desktop=PellarSetup,800x600 "$1" "$4" "C:\\Program Files\\Tessaly\\" "$3" --expect-failure 2>/dev/null
' _ "$drive" "$(winpath "$b/PellarSetup.exe")" "$(winpath "$shots")" "$(winpath "$shots/Damaged.exe")" \
  | tr -d '\r' >"$report"
for f in "$shots"/*.bmp; do
  [ -e "$f" ] || continue
  convert "$f" "${f%.bmp}.png" && rm -f "$f"
done
rm -f "$shots/Damaged.exe"

folder=$(sed -n 's/^folder=//p' "$report" | head -1)
echo "run: installed into $folder (that is $WINEPREFIX/drive_c/Program Files/Tessaly/)"
sed -n 's/^shortcut=/run: shortcut /p' "$report"
sed -n 's/^install-ms=/run: install run took (ms, with pictures) /p' "$report" | head -1
echo "run: screenshots in $shots:"
ls "$shots"/*.png | sed 's/^/       /'
if ! grep -q '^result=ok' "$report" || [ "$(grep -c '^result=ok' "$report")" != 2 ]; then
  echo "run: the wizard did not behave as expected; see $report" >&2
  exit 1
fi
if [ -n "$docs" ]; then
  for f in "$shots"/*.png; do cp "$f" "$top/docs/installer-$(basename "$f")"; done
  echo "run: pictures copied to docs/installer-*.png"
fi
