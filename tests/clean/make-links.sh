#!/bin/bash
# Links made on the Linux side inside the prefix copy, which Wine shows as
# folders with FILE_ATTRIBUTE_REPARSE_POINT: below the user's desktop and
# start menu, in the profiles' folder, and as a profile's own folders. The
# test puts its marker shortcuts behind them.
set -eu
c=$KIVO_PREFIX_DIR/drive_c
me=$c/users/$(id -un)
mkdir -p "$c/LinkTarget" "$c/LinkProfile/AppData" "$c/users/dave"
ln -s "$c/LinkTarget" "$me/Desktop/Linked"
ln -s "$c/LinkTarget" "$me/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Linked"
ln -s "$c/LinkProfile" "$c/users/Linked"
ln -s "$c/LinkTarget" "$c/users/dave/Desktop"
ln -s "$c/LinkProfile/AppData" "$c/users/dave/AppData"
