#!/usr/bin/env bash
# tmpfs_drives.sh up|down DIR LETTER=SIZE...: mounts (or removes) one small tmpfs per letter
# at DIR/LETTER and maps it as that drive of the test prefix, e.g. "s=4m" gives a 4 MiB S:.
# Without the right to mount, "up" only says so and the tests that need the drives skip.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine-env.sh"
action=$1 dir=$2
shift 2
for spec in "$@"; do
  letter=${spec%%=*} size=${spec#*=}
  link="$WINEPREFIX/dosdevices/$letter:"
  case "$action" in
  up)
    mkdir -p "$dir/$letter"
    mountpoint -q "$dir/$letter" || mount -t tmpfs -o "size=$size" tmpfs "$dir/$letter" 2>/dev/null || {
      echo "small drives: cannot mount a tmpfs here (not root?); the tests that need them skip"
      exit 0
    }
    ln -sfn "$dir/$letter" "$link"
    echo "small drive: ${letter^^}: -> $dir/$letter ($size)"
    ;;
  down)
    [ -L "$link" ] && rm -f "$link"
    mountpoint -q "$dir/$letter" && umount "$dir/$letter"
    rmdir "$dir/$letter" 2>/dev/null
    ;;
  *)
    echo "usage: tmpfs_drives.sh up|down DIR LETTER=SIZE..." >&2
    exit 2
    ;;
  esac
done
exit 0
