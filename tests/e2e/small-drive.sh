#!/bin/bash
# Gives the prefix copy a drive D: of 1 MiB (a tmpfs), so that an archive
# written there runs out of room. Mounting needs root; without it the drive
# is simply missing and the scenario skips itself.
set -u
d=$KIVO_PREFIX_DIR/small-drive
mkdir -p "$d"
if mount -t tmpfs -o size=1m tmpfs "$d" 2>/dev/null; then
  ln -sfn "$d" "$KIVO_PREFIX_DIR/dosdevices/d:"
else
  echo "small-drive: tmpfs not mounted, drive D: missing" >&2
fi
exit 0
