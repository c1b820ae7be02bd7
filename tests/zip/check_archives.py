#!/usr/bin/env python3
"""Checks the archives that the zip tests left under C:\\ziptest of their Wine
prefix with readers that share no code with ours: Python's zipfile and zlib,
Info-ZIP's unzip and 7-Zip. Each archive comes with a manifest (NAME.json)
that lists its entries in order with their expected names (UTF-8) and
contents; every reader must list exactly those names."""
import json
import os
import struct
import subprocess
import sys
import zipfile
import zlib

root = os.path.join(os.environ["KIVO_PREFIX_DIR"], "drive_c", "ziptest")
failures = []


def fail(archive, why):
    failures.append(f"{archive}: {why}")


def run(args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT).returncode


def output(args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT).stdout.decode("utf-8", "replace")


def unzip_names(path):
    """The names that unzip -l lists, between its two rulers."""
    lines = output(["unzip", "-l", path]).splitlines()
    rulers = [i for i, line in enumerate(lines) if line.startswith("---------")]
    if len(rulers) < 2:
        return []
    return [line.split(None, 3)[3] for line in lines[rulers[0] + 1:rulers[1]]]


def seven_names(path):
    """The paths that 7z l lists, folders without their final slash."""
    lines = output(["7z", "l", "-slt", "-ba", path]).splitlines()
    return [line[len("Path = "):] for line in lines if line.startswith("Path = ")]


def same_bytes(entry, read):
    """Compares an entry's data, read in pieces, with what the manifest expects."""
    if entry["zeros"]:
        size = 0
        for piece in read():
            if piece.count(0) != len(piece):
                return f"a byte other than zero near {size}"
            size += len(piece)
        return None if size == entry["zeros"] else f"{size} bytes instead of {entry['zeros']}"
    with open(os.path.join(root, entry["content"]), "rb") as f:
        content = f.read()
    data = b"".join(read())
    if data == content:
        return None
    first = next((i for i, (a, b) in enumerate(zip(data, content)) if a != b), min(len(data), len(content)))
    return f"content differs at byte {first} ({len(data)} vs {len(content)})"


def raw_pieces(path, info):
    """The entry's data as stored, found through its local header, in pieces."""
    with open(path, "rb") as f:
        f.seek(info.header_offset)
        header = f.read(30)
        name_length, extra_length = struct.unpack("<HH", header[26:30])
        f.seek(info.header_offset + 30 + name_length + extra_length)
        left = info.compress_size
        while left > 0:
            piece = f.read(min(left, 1 << 24))
            if not piece:
                return
            left -= len(piece)
            yield piece


def check(manifest_path):
    with open(manifest_path, encoding="utf-8") as f:
        manifest = json.load(f)
    name = manifest["archive"]
    path = os.path.join(root, name)
    password = manifest["password"].encode("latin-1")
    expected = manifest["entries"]
    try:
        archive = zipfile.ZipFile(path)
    except Exception as e:  # noqa: BLE001 - any refusal is the finding
        fail(name, f"zipfile cannot open it: {e}")
        return
    with archive:
        names = [info.filename for info in archive.infolist()]
        if names != [e["name"] for e in expected]:
            fail(name, f"entries {names[:8]}... differ from {[e['name'] for e in expected][:8]}...")
            return
        if password:
            archive.setpassword(password)
        bad = archive.testzip()
        if bad is not None:
            fail(name, f"zipfile testzip fails at {bad}")
        for info, entry in zip(archive.infolist(), expected):
            if entry["folder"]:
                if not info.is_dir() or info.file_size != 0:
                    fail(name, f"{info.filename} is not an empty folder entry")
                continue
            def pieces(info=info):
                with archive.open(info) as member:
                    while piece := member.read(1 << 24):
                        yield piece
            why = same_bytes(entry, pieces)
            if why:
                fail(name, f"{info.filename}: {why}")
            # zipfile inflates with zlib already; the raw data of a long run of
            # zeros is not worth a third pass.
            if info.compress_type == zipfile.ZIP_DEFLATED and not password and not entry["zeros"]:
                def inflated(info=info):
                    inflater = zlib.decompressobj(-15)
                    for piece in raw_pieces(path, info):
                        while piece:
                            yield inflater.decompress(piece, 1 << 24)
                            piece = inflater.unconsumed_tail
                    yield inflater.flush()
                why = same_bytes(entry, inflated)
                if why:
                    fail(name, f"{info.filename}: zlib inflates it otherwise: {why}")
        if password:
            archive.setpassword(b"wrong" + password)
            for info in archive.infolist():
                if info.is_dir():
                    continue
                try:
                    archive.read(info)
                    fail(name, f"{info.filename} opens with a wrong password")
                except (RuntimeError, zipfile.BadZipFile, zlib.error):
                    pass

    names = [e["name"] for e in expected]
    if unzip_names(path) != names:
        fail(name, f"unzip -l lists {unzip_names(path)[:4]}... instead of {names[:4]}...")
    unzip_args = ["unzip", "-tqq"] + (["-P", password.decode("latin-1")] if password else []) + [path]
    code = run(unzip_args)
    if code != 0 and not (code == 1 and not expected):  # unzip warns about an empty archive
        fail(name, f"unzip -t exits with {code}")
    if not manifest["sevenZip"]:
        return  # 7-Zip does not open an archive that begins 4 GiB into its file
    paths = [n.rstrip("/") if e["folder"] else n for n, e in zip(names, expected)]
    if seven_names(path) != paths:
        fail(name, f"7z l lists {seven_names(path)[:4]}... instead of {paths[:4]}...")
    seven = ["7z", "t", "-bd"] + (["-p" + password.decode("latin-1")] if password else []) + [path]
    if run(seven) != 0:
        fail(name, "7z t fails")
    if password and any(not e["folder"] for e in expected):
        if run(["7z", "t", "-bd", "-pwrong" + password.decode("latin-1"), path]) == 0:
            fail(name, "7z t passes with a wrong password")


manifests = sorted(f for f in os.listdir(root) if f.endswith(".json")) if os.path.isdir(root) else []
if not manifests:
    print("check_archives: no archives declared", file=sys.stderr)
    sys.exit(1)
for m in manifests:
    try:
        check(os.path.join(root, m))
    except Exception as e:  # noqa: BLE001 - a reader that breaks down is a finding too
        fail(m, f"{type(e).__name__}: {e}")
for line in failures:
    print("check_archives:", line, file=sys.stderr)
print(f"check_archives: {len(manifests)} archives, {len(failures)} failures", file=sys.stderr)
sys.exit(1 if failures else 0)
