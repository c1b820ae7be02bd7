#!/bin/bash
# The whole uninstall of a sample KIVO installation, in a throwaway Wine
# prefix: sets up the machine, builds build/, lays out the installation, runs
# uninstKIVO.exe with every box answered by a small driver program, takes a
# screenshot of the console while a step runs, and prints what was removed and
# kept, the archive's name and listing, and where the screenshot is.
# Usage: scripts/demo.sh   (KIVO_LANG=fr_FR.UTF-8 or es_MX.UTF-8 for another
# language; KIVO_BUILD=dir for another build directory than the flavour's,
# build or build64: see scripts/flavour)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/flavour
kivo_flavour_choose

scripts/setup.sh
build=${KIVO_BUILD:-$kivo_tree}
cmake --no-warn-unused-cli -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$kivo_toolchain" >/dev/null
cmake --build "$build" -j"$(nproc)" --target uninstKIVO e2e_uninstall >/dev/null
scripts/wine-prefix "$build"

out=$(cd "$build" && pwd)/demo
rm -rf "$out"
mkdir -p "$out/shots"

# A display of our own, so that the console can be photographed from outside.
for n in $(seq 200 260); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=":$n"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

# Shots every 150 ms while the uninstall runs; the steps blink in white on
# light red, so the shot with the most light red shows a step at work.
(
  i=0
  while [ ! -e "$out/done" ] && [ $i -lt 600 ]; do
    import -window root "$out/shots/shot$(printf %03d $i).png" 2>/dev/null || true
    i=$((i + 1))
    sleep 0.15
  done
) &
shooter=$!

# The report and the archive are read on the Linux side before the prefix goes.
export KIVO_GRAPHICS=x11
export KIVO_POSTCHECK="cp \"\$KIVO_PREFIX_DIR/drive_c/demo-report.txt\" '$out/report.txt';
  cp \"\$KIVO_PREFIX_DIR\"/drive_c/savKIVO*.zip '$out/' 2>/dev/null || true"
status=0
scripts/wine-run "$build/tests/e2e_uninstall.exe" --demo 'C:\demo-report.txt' || status=$?
touch "$out/done"
wait $shooter || true

best= bestCount=-1
for shot in "$out"/shots/*.png; do
  [ -e "$shot" ] || continue
  count=$(convert "$shot" -fill black +opaque '#FF0000' -fill white -opaque '#FF0000' \
    -format '%[fx:int(mean*w*h)]' info: 2>/dev/null || echo 0)
  if [ "$count" -gt "$bestCount" ]; then best=$shot bestCount=$count; fi
done
if [ -n "$best" ]; then convert "$best" -trim +repage "$out/console-step.png"; fi
rm -rf "$out/shots" "$out/done"

echo
echo "=== uninstKIVO demo ==="
if [ -f "$out/report.txt" ]; then tr -d '\r' <"$out/report.txt"; else echo "no report (the run failed with status $status)"; fi
for archive in "$out"/savKIVO*.zip; do
  [ -e "$archive" ] || continue
  echo
  echo "Archive listing of $(basename "$archive") (copied to $out):"
  python3 - "$archive" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    print("  %10s %10s  %s" % ("size", "packed", "name"))
    for i in z.infolist():
        print("  %10d %10d  %s" % (i.file_size, i.compress_size, i.filename))
    bad = z.testzip()
    print("  zipfile check:", "all CRCs correct" if bad is None else "bad entry " + bad)
PY
done
echo
if [ -f "$out/console-step.png" ]; then
  echo "Screenshot of the console during a step: $out/console-step.png"
else
  echo "No screenshot was taken."
fi
exit $status
