#!/usr/bin/env python3
"""Checks, on the Linux side, the one archive that a whole uninstall left at
the root of drive C: of the prefix: three independent readers accept it and
list exactly the names of the data files (in whatever script they are
written), every name begins with the data folder's own name, and every file
equals the copy that the test kept of the data before the run."""
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

def listed(command, pick):
    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return sorted(pick(run.stdout.decode("utf-8", "replace").splitlines()))


def unzip_names(lines):
    rulers = [i for i, line in enumerate(lines) if line.startswith("---------")]
    return [line.split(None, 3)[3] for line in lines[rulers[0] + 1:rulers[1]]] if len(rulers) > 1 else []


wanted = sorted(expected)
for command, pick in ((["unzip", "-l", archive], unzip_names),
                      (["7z", "l", "-slt", "-ba", archive],
                       lambda lines: [line[7:] for line in lines if line.startswith("Path = ")])):
    if listed(command, pick) != wanted:
        failures.append("%s lists %r instead of %r" % (command[0], listed(command, pick), wanted))

for command in (["unzip", "-tq", archive], ["7z", "t", archive]):
    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if run.returncode != 0:
        failures.append("%s failed:\n%s" % (command[0], run.stdout.decode(errors="replace")))

if failures:
    sys.exit("\n".join(failures))
print("archive %s: %d files, all readers agree" % (os.path.basename(archive), len(names)))
