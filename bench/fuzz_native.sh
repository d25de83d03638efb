#!/usr/bin/env bash
# Coverage-guided fuzzing of the archive reader's pure parts (name decoding and cleaning,
# attributes, DOS times, extra fields), built natively with clang's libFuzzer and
# AddressSanitizer. Not part of ctest. Installs clang on a Debian machine when missing (root).
# Usage: bench/fuzz_native.sh [seconds per target=60]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
secs=${1:-60}
if ! command -v clang++-14 >/dev/null || ! ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  apt-get install -y --no-install-recommends clang-14 libclang-rt-14-dev
fi
[ -f "$top/third_party/minizip/ioapi.h" ] || "$top/scripts/setup.sh"
out="$top/build/fuzz-native"
mkdir -p "$out"
src="$top/tests/fuzz/native"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -I"$src/shim" -I"$top/archive" -I"$top/third_party/minizip")
status=0
for t in fuzz_names fuzz_fields; do
  clang++-14 "${flags[@]}" "$src/$t.cpp" "$top/archive/archive_item.cpp" -o "$out/$t"
  corpus="$out/$t-corpus"
  mkdir -p "$corpus"
  if [ "$t" = fuzz_names ]; then
    for n in 'a/b/../c.txt' 'C:\dir\..\x/y.txt' '/abs/name.txt' '.. /x' 'nul.txt' 'Skin/Button/x.bmp'; do
      printf '%s' "$n" > "$corpus/seed-$(printf '%s' "$n" | md5sum | cut -c1-8)"
    done
  else
    printf '\x14\x00\x26\x00\x00\x00\x00\x00\x21\x50UT\x0d\x00\x07\x00\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00' > "$corpus/seed-ut"
  fi
  echo "== $t, $secs s"
  if ! (cd "$out" && "./$t" -max_total_time="$secs" -print_final_stats=1 -max_len=1024 "$corpus" 2>&1 |
        grep -E 'stat::number_of_executed_units|stat::peak_rss|cov:|ERROR|SUMMARY|crash-' | tail -6); then
    status=1
  fi
  ls "$out"/crash-* "$out"/leak-* "$out"/timeout-* 2>/dev/null && status=1
done
exit $status
