#!/usr/bin/env bash
# drives.sh up|down DIR: mounts two small tmpfs drives below DIR and maps them into the test
# prefix: T: of 4 MiB (full at once) and U: of 18 MiB (passes the installer's 16 MiB check,
# then fills). Without the right to mount, "up" only says so and the tests skip.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine-env.sh"
dir=$2
case "$1" in
up)
  for d in t:4m u:18m; do
    letter=${d%%:*} size=${d#*:}
    mkdir -p "$dir/$letter"
    mountpoint -q "$dir/$letter" || mount -t tmpfs -o size=$size tmpfs "$dir/$letter" 2>/dev/null || {
      echo "small drives: cannot mount a tmpfs here (not root?); the tests will skip"
      exit 0
    }
    ln -sfn "$dir/$letter" "$WINEPREFIX/dosdevices/$letter:"
    echo "small drive: ${letter^^}: -> $dir/$letter ($size)"
  done
  ;;
down)
  for letter in t u; do
    [ -L "$WINEPREFIX/dosdevices/$letter:" ] && rm -f "$WINEPREFIX/dosdevices/$letter:"
    mountpoint -q "$dir/$letter" && umount "$dir/$letter"
    rmdir "$dir/$letter" 2>/dev/null
  done
  rmdir "$dir" 2>/dev/null
  exit 0
  ;;
esac
