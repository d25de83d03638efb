#!/usr/bin/env bash
# Prepares a fresh Debian 12 machine for building and testing (run as root).
# Idempotent: a second run only checks what is already there.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
third="$top/third_party"          # ignored by git; holds the unpacked minizip source
stamp="$third/.setup-done"

packages=(
  g++-mingw-w64-i686 mingw-w64-tools binutils-mingw-w64-i686 libz-mingw-w64-dev
  wine wine32 xvfb xauth x11-apps imagemagick
  fonts-wqy-microhei fonts-wine fonts-liberation
  cmake make python3 bzip2 xz-utils dpkg-dev ca-certificates
  googletest zip unzip
  # update keys and signatures, installer signing, and Wine's bcrypt ECDSA (through GnuTLS)
  openssl osslsigncode libgnutls30:i386
)

missing() {
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

need_root() {
  if [ "$(id -u)" != 0 ]; then
    echo "setup: run as root (apt-get is needed for: $*)" >&2
    exit 1
  fi
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  need_root "the i386 architecture"
  dpkg --add-architecture i386
  rm -f "$stamp"
fi

# deb-src entry so that the zlib source package (minizip lives in it) can be fetched
srcfile=/etc/apt/sources.list.d/project-deb-src.sources
if [ ! -f "$srcfile" ]; then
  need_root "a deb-src entry"
  cat >"$srcfile" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  rm -f "$stamp"
fi

todo=$(missing)
if [ -n "$todo" ] || [ ! -f "$stamp" ]; then
  need_root "packages"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || apt-get update
  todo=$(missing)
  if [ -n "$todo" ]; then
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $todo
  fi
fi

# minizip source from Debian's zlib source package, newest known version first
mz="$third/minizip"
if [ ! -f "$mz/unzip.c" ]; then
  mkdir -p "$third/dl"
  cd "$third/dl"
  got=
  candidates=$(apt-cache showsrc zlib 2>/dev/null | awk '/^Version:/{print $2}')
  for v in $candidates 1:1.2.13.dfsg-1+deb12u1 1:1.2.13.dfsg-1; do
    if apt-get source --download-only -qq "zlib=$v" >/dev/null 2>&1; then got=$v; break; fi
  done
  [ -n "$got" ] || { echo "setup: no zlib source version could be downloaded" >&2; exit 1; }
  orig=$(ls zlib_*.orig.tar.* | head -n1)
  rm -rf src && mkdir src
  tar -xf "$orig" -C src --strip-components=1
  mkdir -p "$mz"
  for f in unzip.c unzip.h ioapi.c ioapi.h crypt.h; do
    cp "src/contrib/minizip/$f" "$mz/"
  done
  echo "$got" >"$mz/VERSION"
  cd "$top"
  rm -rf "$third/dl"
fi

touch "$stamp"
echo "setup: ready (minizip from zlib $(cat "$mz/VERSION"))"
