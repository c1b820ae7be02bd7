#!/bin/bash
# Builds the compressor benchmark with the cross compiler, builds its corpus by
# a fixed rule and runs it under Wine. Usage: scripts/bench.sh [BUILD_DIR] [MB]
# (default build/bench, 4 MB per class). Corpus classes, files sorted by name,
# concatenated and cut to MB megabytes:
#   text            the C++ headers of the installed compiler (/usr/include/c++/12)
#   pe              Wine's i386 DLLs (/usr/lib/i386-linux-gnu/wine/i386-windows/*.dll)
#   incompressible  the *.gz files under /usr/share/doc
set -euo pipefail
# RUNS=N in the environment: best of N runs (default 5).
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:-$root/build/bench}" && cd "${1:-$root/build/bench}" && pwd)
mb=${2:-4}

cmake -S "$root/bench" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j2 >/dev/null

corpus=$build/corpus
mkdir -p "$corpus"
make_class() { # name, folder, find arguments: the files, sorted by name, cut to MB megabytes
  local out=$corpus/$1.bin folder=$2
  shift 2
  [ -s "$out" ] && return 0
  find "$folder" "$@" -type f -print0 | LC_ALL=C sort -z | xargs -0 cat 2>/dev/null | head -c $((mb * 1000000)) >"$out.tmp" || true
  mv "$out.tmp" "$out"
}
make_class text /usr/include/c++/12
make_class pe /usr/lib/i386-linux-gnu/wine/i386-windows -maxdepth 1 -name '*.dll'
make_class incompressible /usr/share/doc -name '*.gz'

KIVO_COPY_IN="$corpus/text.bin $corpus/pe.bin $corpus/incompressible.bin" \
  "$root/scripts/wine-run" "$build/deflate_bench.exe" --runs "${RUNS:-5}" text.bin pe.bin incompressible.bin
