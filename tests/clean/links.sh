#!/bin/bash
# Links made on the Linux side, which Wine shows as folders with the reparse
# point attribute: in C:\Linked\KIVO the program subfolders DOC, KIVO and
# ZAVURE lead to C:\Outside\Doc, \Prog and \Zav; C:\Moved (a moved
# installation) leads to C:\Real\Install.
set -eu
c=$KIVO_PREFIX_DIR/drive_c
mkdir -p "$c/Linked/KIVO" "$c/Outside/Doc" "$c/Outside/Prog" "$c/Outside/Zav" "$c/Real/Install"
ln -s ../../Outside/Doc "$c/Linked/KIVO/DOC"
ln -s ../../Outside/Prog "$c/Linked/KIVO/KIVO"
ln -s ../../Outside/Zav "$c/Linked/KIVO/ZAVURE"
ln -s Real/Install "$c/Moved"
