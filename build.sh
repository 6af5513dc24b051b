#!/usr/bin/env bash
# Builds kelvo-setup.exe on a Debian machine and starts it under Wine (the
# setup window; pass a switch such as --version to run it headless instead).
set -euo pipefail
cd "$(dirname "$0")"
. ./cmake/deps.sh
kelvo_install_deps build

cmake -S . -B BUILD -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKELVO_TESTS=OFF
cmake --build BUILD -j "$(nproc)"
ls -l BUILD/kelvo-setup.exe
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec wine BUILD/kelvo-setup.exe "$@"
