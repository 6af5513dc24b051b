#!/usr/bin/env bash
# Prints the window's figures under Wine and Xvfb: idle CPU on each page and
# the cost of one paint, then start-to-visible-window time next to the
# --version start. The figures never make it fail.
# Usage: bench/window.sh [BUILD_DIR] [SECONDS_PER_PAGE] [ROUNDS]
#   (defaults: BUILD, configured and built first when needed; 10 s; 15 rounds)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/BUILD}
seconds=${2:-10}
rounds=${3:-15}
if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" >/dev/null
fi
cmake --build "$build" --target window_bench -j2 >/dev/null
"$src/tests/wine-run.sh" "$build/window_bench.exe" idle "$seconds" | tr -d '\r'
"$src/tests/wine-run.sh" "$build/window_bench.exe" start "$rounds" | tr -d '\r'
