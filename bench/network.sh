#!/usr/bin/env bash
# Prints figures of the setup program against misbehaving hosts under Wine:
# start to visible window next to --version with the release-list host
# refusing, answering at once, after 1 s and after 3 s, and never answering;
# then an install of a downloaded ~180 KB interpreter from the loopback host
# next to the install of the built-in one. The figures never make it fail.
# It serves the build's test port: run it while no test of that build runs.
# Usage: bench/network.sh [BUILD_DIR] [ROUNDS]   (defaults: BUILD, configured
# and built first when needed; 15 rounds)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/BUILD}
rounds=${2:-15}
if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" >/dev/null
fi
cmake --build "$build" --target window_bench -j2 >/dev/null

work=$(mktemp -d /tmp/kelvo-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
x86_64-w64-mingw32-gcc-posix -O2 -static -s -o "$work/kelvo-180k.exe" "$src/bench/interpreter_180k.c"

"$src/tests/wine-run.sh" "$build/window_bench.exe" start "$rounds" | tr -d '\r'
"$src/tests/wine-run.sh" "$build/window_bench.exe" download "$rounds" "Z:${work//\//\\}\\kelvo-180k.exe" | tr -d '\r'
