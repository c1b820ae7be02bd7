#!/usr/bin/env python3
"""Checks the archives that the zip tests left under C:\\ziptest of their Wine
prefix with readers that share no code with ours: Python's zipfile and zlib,
Info-ZIP's unzip and 7-Zip. Each archive comes with a manifest (NAME.json)
that lists its entries in order with their expected contents."""
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


def raw_data(path, info):
    """The entry's data as stored, found through its local header."""
    with open(path, "rb") as f:
        f.seek(info.header_offset)
        header = f.read(30)
        name_length, extra_length = struct.unpack("<HH", header[26:30])
        f.seek(info.header_offset + 30 + name_length + extra_length)
        return f.read(info.compress_size)


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
            with open(os.path.join(root, entry["content"]), "rb") as f:
                content = f.read()
            data = archive.read(info)
            if data != content:
                first = next((i for i, (a, b) in enumerate(zip(data, content)) if a != b), min(len(data), len(content)))
                fail(name, f"{info.filename}: content differs at byte {first} ({len(data)} vs {len(content)})")
            if info.compress_type == zipfile.ZIP_DEFLATED and not password:
                inflated = zlib.decompress(raw_data(path, info), -15)
                if inflated != content or zlib.crc32(inflated) != info.CRC:
                    fail(name, f"{info.filename}: zlib inflates it to other bytes or another CRC")
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

    unzip_args = ["unzip", "-tqq"] + (["-P", password.decode("latin-1")] if password else []) + [path]
    code = run(unzip_args)
    if code != 0 and not (code == 1 and not expected):  # unzip warns about an empty archive
        fail(name, f"unzip -t exits with {code}")
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
