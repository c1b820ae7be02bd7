#!/bin/bash
# Builds the compressor benchmark with the cross compiler, builds its corpus by
# a fixed rule and runs it under Wine. Usage: scripts/bench.sh [BUILD_DIR] [MB]
# (default build/bench, or build64/bench in the 64-bit flavour, 4 MB per
# class). Corpus classes, files sorted by name, concatenated and cut to MB
# megabytes:
#   text            the C++ headers of the installed compiler (/usr/include/c++/12)
#   pe              Wine's DLLs for the flavour's processor
#                   (32-bit: /usr/lib/i386-linux-gnu/wine/i386-windows/*.dll,
#                   64-bit: /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/*.dll)
#   incompressible  the *.gz files under /usr/share/doc
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/flavour"
kivo_flavour_choose
build=${1:-$root/$kivo_tree/bench}
build=$(mkdir -p "$build" && cd "$build" && pwd)
mb=${2:-4}
if [ "$KIVO_FLAVOUR_BITS" = 64 ]; then
  dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
else
  dlls=/usr/lib/i386-linux-gnu/wine/i386-windows
fi

cmake -S "$root/bench" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/$kivo_toolchain" >/dev/null
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
make_class pe "$dlls" -maxdepth 1 -name '*.dll'
make_class incompressible /usr/share/doc -name '*.gz'
# The inflater's benchmark runs on the same corpus.
KIVO_COPY_IN="$corpus/text.bin $corpus/pe.bin $corpus/incompressible.bin" \
  "$root/scripts/wine-run" "$build/inflate_bench.exe" text.bin pe.bin incompressible.bin

KIVO_COPY_IN="$corpus/text.bin $corpus/pe.bin $corpus/incompressible.bin" \
  "$root/scripts/wine-run" "$build/deflate_bench.exe" text.bin pe.bin incompressible.bin
