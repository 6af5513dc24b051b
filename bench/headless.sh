#!/usr/bin/env bash
# Times kelvo-setup.exe --version, --install and --uninstall under Wine against
# a floor program (one settings-change broadcast, the least a Path-editing
# installer does) and a no-op program, all started the same way from one
# runner inside one fresh Wine prefix. Prints medians and ratios; the figures
# never make it fail.
# Usage: bench/headless.sh [BUILD_DIR] [ROUNDS]   (defaults: BUILD beside this
# script's tree, built first when it holds no kelvo-setup.exe; 15 rounds)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/BUILD}
rounds=${2:-15}
if [ ! -f "$build/kelvo-setup.exe" ]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" >/dev/null
fi
cmake --build "$build" --target kelvo-setup -j2 >/dev/null

work=$(mktemp -d /tmp/kelvo-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
# Stripped like kelvo-setup.exe, so image size does not tilt the comparison.
cc="x86_64-w64-mingw32-gcc-posix -O2 -static -s"
$cc -mwindows -o "$work/floor.exe" "$src/bench/floor.c"
$cc -mwindows -o "$work/noop.exe" "$src/bench/noop.c"
$cc -o "$work/bench_runner.exe" "$src/bench/bench_runner.c"
cp "$build/kelvo-setup.exe" "$work/"
ls -l "$work"/*.exe | awk '{printf "%-12s %8d bytes\n", $NF, $5}' | sed "s|$work/||"

"$src/tests/wine-run.sh" "$work/bench_runner.exe" "$rounds" | tr -d '\r'
