#!/usr/bin/env bash
# small_drive.sh up|down DIR: mounts (or removes) a 4 MiB tmpfs at DIR and maps it as
# drive S: of the test prefix. Without the right to mount, "up" only says so.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine-env.sh"
dir=$2
link="$WINEPREFIX/dosdevices/s:"
case "$1" in
up)
  mkdir -p "$dir"
  mountpoint -q "$dir" || mount -t tmpfs -o size=4m tmpfs "$dir" 2>/dev/null || {
    echo "small drive: cannot mount a tmpfs here (not root?); the test will be skipped"
    exit 0
  }
  ln -sfn "$dir" "$link"
  echo "small drive: S: -> $dir ($(df -h --output=size "$dir" | tail -1 | tr -d ' '))"
  ;;
down)
  [ -L "$link" ] && rm -f "$link"
  mountpoint -q "$dir" && umount "$dir"
  rmdir "$dir" 2>/dev/null
  exit 0
  ;;
esac
