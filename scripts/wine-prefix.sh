#!/usr/bin/env bash
# Creates (once) and prepares the throwaway Wine prefix of the build:
# no Mono/Gecko prompts, CJK font links so Chinese texts render, caption-button fonts,
# and a graphics driver list that falls back to the null driver without a display.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh"
ready="$WINEPREFIX/.project-ready"
[ -f "$ready" ] && exit 0

mkdir -p "$WINEPREFIX"
DISPLAY= wineboot -i >/dev/null 2>&1 || true
wineserver -w || true

reg="$WINEPREFIX/drive_c/project-setup.reg"
python3 - "$reg" <<'PY'
import sys
font = "wqy-microhei.ttc,WenQuanYi Micro Hei"
def multi(s):
    data = (s + "\0\0").encode("utf-16-le")
    return "hex(7):" + ",".join("%02x" % b for b in data)
lines = ["Windows Registry Editor Version 5.00", ""]
lines.append(r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink]")
for face in ["Arial", "Liberation Sans", "Times New Roman", "Courier New", "DejaVu Sans",
             "Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif"]:
    lines.append('"%s"=%s' % (face, multi(font)))
lines.append("")
lines.append(r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]")
for face in ["SimSun", "NSimSun", "宋体", "新宋体", "SimHei", "黑体", "Microsoft YaHei", "微软雅黑", "MS Song"]:
    lines.append('"%s"="WenQuanYi Micro Hei"' % face)
lines.append("")
lines.append(r"[HKEY_CURRENT_USER\Software\Wine\Drivers]")
lines.append('"Graphics"="x11,null"')
lines.append("")
lines.append(r"[HKEY_CURRENT_USER\Software\Wine\WineDbg]")
lines.append('"ShowCrashDialog"=dword:00000000')
lines.append("")
with open(sys.argv[1], "wb") as f:
    f.write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
PY
DISPLAY= wine regedit 'C:\project-setup.reg' >/dev/null 2>&1
# The user's shell folders are links to the host's home: make them the prefix's own, so
# shortcuts and files the programs write stay inside the throwaway prefix.
for link in "$WINEPREFIX"/drive_c/users/*/*; do
  if [ -L "$link" ]; then rm -f "$link" && mkdir -p "$link"; fi
done
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
for f in marlett symbol webdings wingding; do
  [ -f "/usr/share/wine/fonts/$f.ttf" ] && cp -f "/usr/share/wine/fonts/$f.ttf" "$fonts/"
done
wineserver -w || true
touch "$ready"
