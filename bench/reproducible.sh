#!/usr/bin/env bash
# Builds kelvo-setup.exe twice from the same sources, in two clean build
# directories at different depths, and compares the results byte for byte.
# Exits 1 when they differ (a link timestamp or a build path leaked in).
# Usage: bench/reproducible.sh [DIR_A [DIR_B]]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
a=${1:-/tmp/kelvo-repro-a}
b=${2:-/tmp/kelvo-repro-b/deeper}
for dir in "$a" "$b"; do
    rm -rf "$dir"
    mkdir -p "$dir"
    cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" \
        -DKELVO_TESTS=OFF >"$dir.log" 2>&1
    cmake --build "$dir" --target kelvo-setup -j2 >>"$dir.log" 2>&1 || { cat "$dir.log"; exit 2; }
done
for dir in "$a" "$b"; do
    printf '%s  %8d bytes  %s\n' "$(sha256sum <"$dir/kelvo-setup.exe" | cut -d' ' -f1)" \
        "$(stat -c %s "$dir/kelvo-setup.exe")" "$dir/kelvo-setup.exe"
done
if cmp "$a/kelvo-setup.exe" "$b/kelvo-setup.exe"; then
    echo "reproducible: identical"
else
    echo "NOT reproducible: the two builds differ (cmp -l | head shows where)"
    cmp -l "$a/kelvo-setup.exe" "$b/kelvo-setup.exe" | head -n 20 || true
    exit 1
fi
