#!/bin/bash
# Swaps a folder for a link from the Linux side, at a test's request, while
# the program under test waits at one of its seams (Wine renames what a link
# leads to, not the link, so the program cannot make the swap itself). The
# test puts the folder's and the target's paths below drive_c, one a line,
# into drive_c/swap-request; the folder becomes NAME.away, a symbolic link to
# the target takes its name, and drive_c/swap-done says so. Listens in the
# background for two minutes at most.
set -eu
c=$KIVO_PREFIX_DIR/drive_c
(
  for _ in $(seq 1 12000); do
    [ -d "$c" ] || break
    if [ -f "$c/swap-request" ]; then
      { read -r folder; read -r target; } < "$c/swap-request"
      rm -f "$c/swap-request"
      mv "$c/$folder" "$c/$folder.away" && ln -s "$c/$target" "$c/$folder" && touch "$c/swap-done"
    fi
    sleep 0.01
  done
) < /dev/null > /dev/null 2>&1 &
