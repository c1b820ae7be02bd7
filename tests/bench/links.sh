#!/bin/bash
# Makes Linux-side symbolic links inside the prefix copy, which the program
# under test sees as links (folders with a reparse point). Each argument is
# LINK=TARGET, both below drive_c; a missing target is made as a folder.
set -eu
c=$KIVO_PREFIX_DIR/drive_c
for pair in "$@"; do
  link=${pair%%=*} target=${pair#*=}
  mkdir -p "$c/$target" "$(dirname "$c/$link")"
  ln -sfn "$c/$target" "$c/$link"
done
