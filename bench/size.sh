#!/usr/bin/env bash
# Prints the size of kelvo-setup.exe, of the two programs it carries, and how
# the setup program's own code compares with its size budget.
# Usage: bench/size.sh [BUILD_DIR]   (default: BUILD beside this script's tree;
# configured and built there first when it holds no kelvo-setup.exe yet)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/BUILD}
if [ ! -f "$build/kelvo-setup.exe" ]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" >/dev/null
fi
cmake --build "$build" --target kelvo-setup -j2 >/dev/null

size() { stat -c %s "$1"; }
exe=$(size "$build/kelvo-setup.exe")
interp=$(size "$build/embedded/kelvo.exe")
editor=$(size "$build/embedded/KelvoIDE.exe")
own=$((exe - interp - editor))

printf '%-28s %9d bytes\n' "kelvo-setup.exe" "$exe" \
    "embedded kelvo.exe" "$interp" "embedded KelvoIDE.exe" "$editor" \
    "setup minus payload" "$own"
printf '%-28s %9.2f KiB\n' "setup minus payload" "$(awk -v b="$own" 'BEGIN{print b/1024}')"
for target_kib in 48 64; do
    budget=$((target_kib * 1024))
    left=$((budget - own))
    verdict=within
    [ "$left" -lt 0 ] && verdict=OVER
    printf 'target %2d KiB (%6d bytes): %s, %+d bytes (%+.2f KiB) of room\n' \
        "$target_kib" "$budget" "$verdict" "$left" "$(awk -v b="$left" 'BEGIN{print b/1024}')"
done
echo "(48 KiB: headless program; 64 KiB: once the setup window is in)"
