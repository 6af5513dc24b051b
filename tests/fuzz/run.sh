#!/bin/sh
# Builds the release list scan's fuzz target with libFuzzer, ASan and UBSan and
# runs it. Usage: tests/fuzz/run.sh [seconds, default 60] [build dir]
# New inputs go to the build dir's corpus; the seeds in tests/fuzz/corpus stay as they are.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
secs=${1:-60}
out=${2:-${TMPDIR:-/tmp}/kelvo-fuzz}
mkdir -p "$out/corpus"
clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$root/installer" -I"$here" \
    "$here/release_scan_fuzz.cpp" "$root/installer/release_scan.cpp" -o "$out/release_scan_fuzz"
cd "$out"
exec ./release_scan_fuzz -max_total_time="$secs" -max_len=20000 -dict="$here/release_scan.dict" \
    -print_final_stats=1 corpus "$here/corpus"
