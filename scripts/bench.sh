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
# Each round runs our archiving with 1 worker and with one per processor,
# each followed by its verification, each timed and each in a process of its
# own for its peak working set (files_bench under Wine); Python's zipfile at
# zlib level 8 on the Linux side; and the whole Files step as the user waits
# for it, from its label to the result box, by the real program on a sample
# installation that holds the same folder (e2e_uninstall --time-files-step).
# Best of RUNS rounds (default 3); the ratios and their targets follow.
# SKIP_CODEC=1 leaves out the compressor's and the inflater's benchmarks.
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

cmake --no-warn-unused-cli -S "$root/bench" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/$kivo_toolchain" >/dev/null
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
if [ -z "${SKIP_CODEC:-}" ]; then
  # The inflater's benchmark runs on the same corpus.
  KIVO_COPY_IN="$corpus/text.bin $corpus/pe.bin $corpus/incompressible.bin" \
    "$root/scripts/wine-run" "$build/inflate_bench.exe" text.bin pe.bin incompressible.bin

  KIVO_COPY_IN="$corpus/text.bin $corpus/pe.bin $corpus/incompressible.bin" \
    "$root/scripts/wine-run" "$build/deflate_bench.exe" --runs "${RUNS:-5}" text.bin pe.bin incompressible.bin
fi

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

# The step as the person waits for it drives the real program (the flavour's
# build tree, as the demo does) on a sample installation holding the same
# folder, from the Files label to the result box.
tree=$root/$kivo_tree
cmake --no-warn-unused-cli -S "$root" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$root/$kivo_toolchain" >/dev/null
cmake --build "$tree" -j2 --target uninstKIVO e2e_uninstall >/dev/null

times=$build/files-times.txt
: >"$times"
for _ in $(seq "${RUNS:-3}"); do
  for workers in 1 0; do
    KIVO_PRERUN="cp -al '$folder' \"\$KIVO_PREFIX_DIR/drive_c/bench\"" \
      "$root/scripts/wine-run" "$build/files_bench.exe" 'C:\bench\KIVO' 1 $workers >>"$times"
  done
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
  rm -f "$build/step.txt"
  KIVO_PRERUN="mkdir -p \"\$KIVO_PREFIX_DIR/drive_c/Apps/KIVO\" && cp -al '$folder/KIVO' \"\$KIVO_PREFIX_DIR/drive_c/Apps/KIVO/Reference\"" \
    KIVO_POSTCHECK="cp \"\$KIVO_PREFIX_DIR/drive_c/step.txt\" '$build/step.txt'" \
    "$root/scripts/wine-run" "$tree/tests/e2e_uninstall.exe" --time-files-step 'C:\step.txt' >/dev/null || true
  cat "$build/step.txt" >>"$times" 2>/dev/null || echo "files-step not measured" >>"$times"
done
python3 - "$times" "$(nproc)" <<'REPORT'
import sys
lines = [line.split() for line in open(sys.argv[1])]
processors = int(sys.argv[2])
def best(first, key, condition=lambda r: True):
    values = [float(r[r.index(key) + 1]) for r in lines if r and r[0] == first and key in r and condition(r)]
    return min(values) if values else float("nan")
workers = lambda w: (lambda r: r[r.index("workers") + 1] == w)
files = next(r for r in lines if r[0] == "files")
zipped = next(r for r in lines if r[0] == "zipfile")
megabytes = int(files[3]) / 1e6
one, each = best("run", "archive", workers("1")), best("run", "archive", workers("0"))
verify = best("run", "verify", workers("0"))
python, step = best("zipfile", "zipfile"), best("files-step", "files-step")
peak = lambda w: max(int(r[r.index("peak") + 1]) - int(r[r.index("before") + 1])
                     for r in lines if r[0] == "memory" and r[2] == w) / 2**20
rounds = sum(1 for r in lines if r[0] == "zipfile")
print("\nFiles step on the reference folder: %s files, %.1f MB, %d processors, best of %d interleaved rounds"
      % (files[1], megabytes, processors, rounds))
print("%-46s %8s %8s %12s %14s" % ("", "seconds", "MB/s", "archive size", "peak memory MB"))
print("%-46s %8.2f %8.2f %12s %14.1f" % ("ours, 1 worker", one, megabytes / one, files[5], peak("1")))
print("%-46s %8.2f %8.2f %12s %14.1f" % ("ours, one worker per processor", each, megabytes / each, files[5], peak("0")))
print("%-46s %8.2f %8.2f" % ("ours, one per processor, verified", each + verify, megabytes / (each + verify)))
print("%-46s %8.2f %8.2f %12s" % ("Python's zipfile, zlib level 8", python, megabytes / python, zipped[3]))
print("%-46s %8.2f" % ("the step as the user sees it (label to box)", step))
def target(name, value, limit, below):
    met = value <= limit if below else value >= limit
    print("%-58s %6.2f  target %s %.2f: %s" % (name, value, "<=" if below else ">=", limit, "met" if met else "NOT met"))
target("one worker per processor, speed-up over 1 worker", one / each, 1.7, False)
target("one worker per processor, time against zipfile's", each / python, 0.5, True)
target("the step as the user sees it, against the archiving", step / each, 1.5, True)
target("the verification, share added to the archiving", verify / each, 0.25, True)
print("peak memory: the working set's peak above its size before the archiving")
REPORT
