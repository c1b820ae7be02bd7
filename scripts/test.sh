#!/bin/bash
# Builds everything and runs every test: the Windows tests under the build
# tree's own Wine prefix, then the native sanitizer tests and a short fuzz run.
# Installs what the machine lacks first. Where this host cannot run 32-bit
# programs (or with KIVO_FLAVOUR=64), the shipped 32-bit build/uninstKIVO.exe
# is built and checked as a file, and the whole suite runs from build64/, built
# for x86-64 (see scripts/flavour).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/flavour
kivo_flavour_choose

scripts/setup.sh
cmake --no-warn-unused-cli -S . -B build -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
if [ "$KIVO_FLAVOUR_BITS" = 64 ]; then
  cmake --build build -j"$(nproc)" --target uninstKIVO
  cmake --no-warn-unused-cli -S . -B build64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
    -DKIVO_SHIPPED_PROGRAM="$root/build/uninstKIVO.exe" >/dev/null
fi
cmake --build "$kivo_tree" -j"$(nproc)"
scripts/wine-prefix "$kivo_tree"
status=0
(cd "$kivo_tree" && ctest --output-on-failure -j"$(nproc)") || status=$?
# CTest names the entries it skipped but not why; GoogleTest wrote the reason
# on the line after "Skipped".
awk '/^[0-9]+\/[0-9]+ Testing: / { name = $3; reason = "" }
     /: Skipped$/ { getline reason }
     /^Skip regular expression found/ { print "skipped: " name ": " reason }' \
  "$kivo_tree/Testing/Temporary/LastTest.log"
[ "$status" = 0 ] || exit "$status"
if [ -x scripts/native-test.sh ]; then scripts/native-test.sh "$kivo_tree/native"; fi
