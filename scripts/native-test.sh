#!/bin/bash
# Builds the plain C++ code natively with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs its tests (the threaded ones also under
# ThreadSanitizer, in BUILD_DIR-tsan), then a short seeded fuzz run of
# every fuzz target (the compressor's and those the other subsystems add).
# Usage: scripts/native-test.sh [BUILD_DIR] (default build/native).
# FUZZ_RUNS and FUZZ_SECONDS bound each fuzz run (defaults 200000 and 60); a
# target may ask for a shorter run in tests/native/fuzz_seeds/<target>.seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
mkdir -p "$build"
build=$(cd "$build" && pwd)

# clang, so that the fuzz targets (libFuzzer) are built with the rest.
CXX=clang++ cmake -S "$root/native" -B "$build" >/dev/null
cmake --build "$build" -j2
status=0
(cd "$build" && ctest --output-on-failure) || status=1

# The threaded tests again under ThreadSanitizer, in a build of their own
# (a minute or two to build, seconds to run).
tsan=$build-tsan
CXX=clang++ cmake -S "$root/native" -B "$tsan" -DKIVO_SANITIZERS=thread >/dev/null
cmake --build "$tsan" -j2 --target zip_parallel_native
(cd "$tsan" && TSAN_OPTIONS=halt_on_error=1 ctest -R '^zip_parallel' --output-on-failure --timeout 300) || status=1

# Every fuzz target of the build (*_fuzz) gets the same bounded, seeded run. Its
# working corpus starts from tests/native/fuzz_seeds/<target>/ when that exists;
# the committed seeds stay as they are.
for fuzzer in "$build"/*_fuzz; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus=$build/fuzz-corpus/$name
  mkdir -p "$corpus"
  if [ -d "$root/tests/native/fuzz_seeds/$name" ]; then
    cp -n "$root/tests/native/fuzz_seeds/$name/"* "$corpus/" 2>/dev/null || true
  fi
  seconds=${FUZZ_SECONDS:-60}
  if [ -z "${FUZZ_SECONDS:-}" ] && [ -f "$root/tests/native/fuzz_seeds/$name.seconds" ]; then
    seconds=$(cat "$root/tests/native/fuzz_seeds/$name.seconds")
  fi
  echo "== $name"
  "$fuzzer" -seed=1 -runs="${FUZZ_RUNS:-200000}" -max_total_time="$seconds" \
    -max_len=70000 -print_final_stats=1 "$corpus" || status=1
done
if [ $status = 0 ]; then echo "native tests and fuzz run passed"; else echo "native tests or fuzz run FAILED" >&2; fi
exit $status
