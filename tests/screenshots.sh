#!/usr/bin/env bash
# Renders the three pages of the setup window under Wine and Xvfb at 144 DPI
# (150 % display scaling) and saves them as PNG in docs/screenshots (the GUI
# test takes the pictures).
# Usage: tests/screenshots.sh [BUILD_DIR]   (default: BUILD, built first)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/BUILD}
if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64.cmake" >/dev/null
fi
cmake --build "$build" --target gui_test >/dev/null

shots=$(mktemp -d /tmp/kelvo-shots.XXXXXX)
trap 'rm -rf "$shots"' EXIT
KELVO_WINE_DPI=144 KELVO_SCREENSHOT_DIR="Z:${shots//\//\\}" "$src/tests/wine-run.sh" "$build/gui_test.exe" \
    --gtest_filter=Gui.FrameControlsAndPagesFromOutside | tr -d '\r' | tail -n 3
mkdir -p "$src/docs/screenshots"
for bmp in "$shots"/*.bmp; do
    png=$src/docs/screenshots/$(basename "${bmp%.bmp}").png
    python3 "$src/tests/tools/bmp2png.py" "$bmp" "$png"
    echo "wrote ${png#$src/}"
done
