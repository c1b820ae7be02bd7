#!/usr/bin/env python3
"""Checks, on the Linux side, the one archive that a whole uninstall left at
the root of drive C: of the prefix: three independent readers accept it, every
name begins with the data folder's own name, and every file equals the copy
that the test kept of the data before the run."""
import glob
import os
import subprocess
import sys
import zipfile

prefix = os.environ["KIVO_PREFIX_DIR"]
drive = os.path.join(prefix, "drive_c")
archives = glob.glob(os.path.join(drive, "savKIVO[[]*"))
if len(archives) != 1:
    sys.exit("expected one archive at C:\\, found %r" % archives)
archive = archives[0]

expected_root = os.path.join(drive, "expected")
expected = {}
for folder, _, files in os.walk(expected_root):
    for name in files:
        path = os.path.join(folder, name)
        with open(path, "rb") as f:
            expected[os.path.relpath(path, expected_root).replace(os.sep, "/")] = f.read()

failures = []
with zipfile.ZipFile(archive) as z:
    bad = z.testzip()
    if bad is not None:
        failures.append("zipfile: bad CRC in %s" % bad)
    names = [n for n in z.namelist() if not n.endswith("/")]
    for name in names:
        if not name.startswith("KIVO/"):
            failures.append("name without the folder's own name: %s" % name)
    if sorted(names) != sorted(expected):
        failures.append("names %r differ from %r" % (sorted(names), sorted(expected)))
    for name in set(names) & set(expected):
        if z.read(name) != expected[name]:
            failures.append("contents of %s differ" % name)

for command in (["unzip", "-tq", archive], ["7z", "t", archive]):
    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if run.returncode != 0:
        failures.append("%s failed:\n%s" % (command[0], run.stdout.decode(errors="replace")))

if failures:
    sys.exit("\n".join(failures))
print("archive %s: %d files, all readers agree" % (os.path.basename(archive), len(names)))
