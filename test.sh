#!/usr/bin/env bash
# Runs every test of Kelvo Setup on a Debian machine: installs what it needs,
# builds the Windows program and its Windows-side tests (run under Wine), and
# the native tests of the portable units (under ASan and UBSan).
set -euo pipefail
cd "$(dirname "$0")"
. ./cmake/deps.sh
kelvo_install_deps test

jobs=$(nproc)
cmake -S . -B BUILD -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
cmake --build BUILD -j "$jobs"
cmake -S . -B BUILD-native -G Ninja
cmake --build BUILD-native -j "$jobs"

status=0
ctest --test-dir BUILD-native --output-on-failure -j "$jobs" || status=1
ctest --test-dir BUILD --output-on-failure -j "$jobs" || status=1
exit $status
