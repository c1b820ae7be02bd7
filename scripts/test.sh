#!/bin/bash
# Builds everything and runs every test: the Windows tests under the build
# tree's own Wine prefix, then the native sanitizer tests and a short fuzz run.
# Installs what the machine lacks first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/setup.sh
cmake -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
cmake --build build -j"$(nproc)"
scripts/wine-prefix build
(cd build && ctest --output-on-failure -j"$(nproc)")
if [ -x scripts/native-test.sh ]; then scripts/native-test.sh build/native; fi
