#!/bin/sh
# Builds the fuzz targets (the release list scan, the executable completeness
# check) with libFuzzer, ASan and UBSan and runs each for a while.
# Usage: tests/fuzz/run.sh [seconds per target, default 60] [build dir] [target...]
# New inputs go to the build dir's corpus; the seeds in tests/fuzz/corpus stay as they are.
# The native test suite runs the same targets briefly (tests/native/fuzz.cmake).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
secs=${1:-60}
out=${2:-${TMPDIR:-/tmp}/kelvo-fuzz}
[ $# -gt 2 ] && shift 2 || set -- release_scan exe_check
mkdir -p "$out"
for target in "$@"; do
    [ -f "$here/${target}_fuzz.cpp" ] || { echo "unknown fuzz target: $target" >&2; exit 2; }
    clang++ -std=c++17 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
        -I"$root/installer" -I"$here" \
        "$here/${target}_fuzz.cpp" "$root/installer/$target.cpp" -o "$out/${target}_fuzz"
    mkdir -p "$out/$target-corpus"
    (cd "$out" && "./${target}_fuzz" -max_total_time="$secs" -max_len=20000 -dict="$here/$target.dict" \
        -print_final_stats=1 "$target-corpus" "$here/corpus/$target")
done
