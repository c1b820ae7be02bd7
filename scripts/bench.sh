#!/bin/bash
# Builds the benchmarks with the cross compiler, builds their inputs by fixed
# rules and runs them under Wine. Usage: scripts/bench.sh [BUILD_DIR] [MB]
# (default build/bench, or build64/bench in the 64-bit flavour, 4 MB per
# class).
#
# The compressor against zlib, and the inflater, on a corpus whose classes
# are files sorted by name, concatenated and cut to MB megabytes:
#   text            the C++ headers of the installed compiler (/usr/include/c++/12)
#   pe              Wine's DLLs for the flavour's processor
#                   (32-bit: /usr/lib/i386-linux-gnu/wine/i386-windows/*.dll,
#                   64-bit: /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/*.dll)
#   incompressible  the *.gz files under /usr/share/doc
#
# The Files step's archiving of a reference folder, its files taken as they
# are, by path, each class up to its share (about 105 MB in 545 files with
# the 32-bit DLLs):
#   text        the files under /usr/include of 64 KiB or more, up to 40 MB
#   pe          the flavour's Wine DLLs (as above) of 100 KiB or more, up to 45 MB
#   compressed  the *.gz files under /usr/share/doc of 16 KiB or more, up to 20 MB
# Our archiving and its verification, each timed (files_bench under Wine),
# and Python's zipfile at zlib level 8 on the Linux side, interleaved, best
# of RUNS rounds (default 3).
set -euo pipefail
# RUNS=N in the environment: best of N runs (default 5).
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
  "$root/scripts/wine-run" "$build/deflate_bench.exe" --runs "${RUNS:-5}" text.bin pe.bin incompressible.bin

folder=$build/folder
if [ ! -d "$folder/KIVO" ]; then
  python3 - "$folder.tmp/KIVO" "$dlls" <<'PICK'
import os, shutil, sys
classes = [("text", "/usr/include", lambda p: os.path.getsize(p) >= 64 << 10, 40e6),
           ("pe", sys.argv[2], lambda p: p.endswith(".dll") and os.path.getsize(p) >= 100 << 10, 45e6),
           ("compressed", "/usr/share/doc", lambda p: p.endswith(".gz") and os.path.getsize(p) >= 16 << 10, 20e6)]
for name, source, wanted, share in classes:
    paths = sorted(os.path.join(d, f) for d, _, fs in os.walk(source) for f in fs)
    taken = 0
    for path in paths:
        if taken >= share:
            break
        if os.path.islink(path) or not os.path.isfile(path) or not wanted(path):
            continue
        target = os.path.join(sys.argv[1], name, os.path.relpath(path, source))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(path, target)
        taken += os.path.getsize(path)
PICK
  mv "$folder.tmp" "$folder"
fi

times=$build/files-times.txt
: >"$times"
for _ in $(seq "${RUNS:-3}"); do
  KIVO_PRERUN="cp -al '$folder' \"\$KIVO_PREFIX_DIR/drive_c/bench\"" \
    "$root/scripts/wine-run" "$build/files_bench.exe" 'C:\bench\KIVO' 1 >>"$times"
  python3 - "$folder/KIVO" "$build/zipfile.zip" >>"$times" <<'ZIPFILE'
import os, sys, time, zipfile
folder, out = sys.argv[1], sys.argv[2]
start = time.perf_counter()
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=8) as archive:
    for d, folders, files in os.walk(folder):
        folders.sort()
        for f in sorted(files):
            path = os.path.join(d, f)
            archive.write(path, os.path.relpath(path, os.path.dirname(folder)))
print("zipfile %.3f size %d" % (time.perf_counter() - start, os.path.getsize(out)))
os.remove(out)
ZIPFILE
done
python3 - "$times" <<'REPORT'
import sys
runs = [line.split() for line in open(sys.argv[1])]
best = lambda key: min(float(r[r.index(key) + 1]) for r in runs if r[0] in ("run", "zipfile") and key in r)
files = next(r for r in runs if r[0] == "files")
zipped = next(r for r in runs if r[0] == "zipfile")
megabytes = int(files[3]) / 1e6
archive, verify, python = best("archive"), best("verify"), best("zipfile")
print("\nFiles step on the reference folder: %s files, %.1f MB, best of %d" % (files[1], megabytes, len(runs) // 3))
print("%-36s %8s %9s %12s" % ("", "seconds", "MB/s", "archive size"))
print("%-36s %8.2f %9.2f %12s" % ("ours, without verification", archive, megabytes / archive, files[5]))
print("%-36s %8.2f %9.2f" % ("ours, with verification", archive + verify, megabytes / (archive + verify)))
print("%-36s %8.2f %9.2f %12s" % ("Python's zipfile, zlib level 8", python, megabytes / python, zipped[3]))
added = verify / archive
print("the verification (%.2f s) adds %.1f %% to the archiving; ours, verified, takes %.2fx zipfile's time"
      % (verify, 100 * added, (archive + verify) / python))
print("target (verification adds at most 25 %%): %s" % ("met" if added <= 0.25 else "NOT met"))
REPORT
