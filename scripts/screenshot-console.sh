#!/bin/bash
# Takes a PNG screenshot of the second stage's console while a step runs:
# the console test program's demo (the driver's console with six labelled
# steps of a few seconds) under a private Xvfb, shot several times during the
# second step; the shot with the most highlighted label cells is kept.
# Usage: scripts/screenshot-console.sh [BUILD_DIR [OUTPUT.png]] (default the
# flavour's tree, build or build64: see scripts/flavour)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/flavour"
kivo_flavour_choose
build=$(cd "${1:-$here/../$kivo_tree}" && pwd)
output=${2:-$(cd "$here/.." && pwd)/docs/console.png}
[ -f "$build/tests/console_test.exe" ] || { echo "no $build/tests/console_test.exe; build it first" >&2; exit 2; }

for n in $(seq 150 199); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
done
Xvfb ":$n" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
shots=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; [ -n "${KIVO_KEEP_SHOTS:-}" ] || rm -rf "$shots"' EXIT
export DISPLAY=":$n"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done

KIVO_GRAPHICS=x11 "$here/wine-run" "$build/tests/console_test.exe" --child demo 'C:\kivo\demo.txt' &
demo=$!
# The demo's first step starts once Wine and the console are up; its second
# step (about five seconds of work) is shot every 200 ms.
sleep "${KIVO_SHOT_DELAY:-6}"
for i in $(seq 10 34); do
  import -window root "$shots/shot$i.png" 2>/dev/null || true
  sleep 0.2
done
wait $demo || true

# The highlight is white on light red; count the light red pixels of each shot.
best= bestCount=-1
for shot in "$shots"/shot*.png; do
  count=$(convert "$shot" -fill black +opaque '#FF0000' -fill white -opaque '#FF0000' -format '%[fx:int(mean*w*h)]' info: 2>/dev/null || echo 0)
  if [ "$count" -gt "$bestCount" ]; then best=$shot bestCount=$count; fi
done
[ -n "$best" ] || { echo "no screenshot taken" >&2; exit 1; }
# Keep only the console window's neighbourhood and few colours, so the PNG stays small.
convert "$best" -trim +repage -colors 16 "$output"
echo "$output ($bestCount highlighted pixels)"
