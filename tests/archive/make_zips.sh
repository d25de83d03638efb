#!/bin/sh
# Makes the test archives with the system's zip tool from a small tree with fixed times.
set -eu
out=$1
rm -rf "$out"
mkdir -p "$out/tree"
cd "$out/tree"
mkdir -p Skin/Button Sys UpdateZip "数据"
printf 'hello\n' >readme.txt
seq 1 40000 >Sys/numbers.txt
python3 -c 'import random,sys; random.seed(7); sys.stdout.buffer.write(bytes(random.getrandbits(8) for _ in range(100000)))' >random.bin
: >empty.dat
printf 'bmp' >Skin/Button/x.bmp
printf '中文' >"数据/说明.txt"
printf 'read only' >readonly.txt
find . -exec touch -d @1600000000 {} +
chmod 444 readonly.txt
zip -q -r ../plain.zip .
zip -q -r -X ../noextra.zip .
zip -q -r -0 ../stored.zip .
{ head -c 100000 /dev/zero | tr '\0' 'S'; cat ../plain.zip; } >../prefixed.zip
touch ../stamp
