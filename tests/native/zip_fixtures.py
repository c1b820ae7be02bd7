#!/usr/bin/env python3
"""Writes the verifier's test archives into the folder given, each with a
manifest (NAME.txt) of what it holds, as Python's zipfile reads it back:
  prefix N                  the archive's bytes sit behind N zero bytes
  unchecked OFFSET...       bytes whose value the verifier may ignore
  entry SIZE CRC DATA STORED NAME-HEX
                            size, CRC-32 (hex), offset of the data in the file,
                            its stored length, the name's bytes
forced: Zip64 fields in local headers, a UTF-8 name, a folder, stored,
deflated and empty entries; streamed: written to a stream that cannot seek
(data descriptors, one with 64-bit sizes); shifted: behind 4 GiB, so the
offsets and the end need Zip64; escaped: made here by hand, every size and
offset escaped to Zip64 fields, descriptors without their signature."""
import io
import os
import random
import struct
import sys
import zipfile
import zlib

STAMP = (2024, 5, 17, 10, 30, 0)
SHIFT = 1 << 32


def text(size, seed):
    rng = random.Random(seed)
    words = [b"archive ", b"folder ", b"KIVO ", b"data ", b"the ", b"\r\n", b"entry ", b"12345 "]
    return b"".join(rng.choice(words) for _ in range(size))[:size]


def noise(size, seed):
    return random.Random(seed).randbytes(size)


class Shifted(io.RawIOBase):
    """A file whose bytes start at a virtual offset."""

    def __init__(self, shift, data=b""):
        self.b, self.shift = io.BytesIO(data), shift

    def readable(self):
        return True

    def writable(self):
        return True

    def seekable(self):
        return True

    def readinto(self, buffer):
        data = self.b.read(len(buffer))
        buffer[: len(data)] = data
        return len(data)

    def write(self, data):
        return self.b.write(data)

    def tell(self):
        return self.b.tell() + self.shift

    def seek(self, position, whence=0):
        return self.b.seek(position - self.shift if whence == 0 else position, whence) + self.shift


class Unseekable(io.RawIOBase):
    def __init__(self):
        self.b = io.BytesIO()

    def writable(self):
        return True

    def write(self, data):
        return self.b.write(data)

    def tell(self):
        raise OSError("not seekable")


def add(archive, name, data, method, zip64=False):
    info = zipfile.ZipInfo(name, STAMP)
    info.compress_type = method
    if name.endswith("/"):
        archive.writestr(info, b"")
        return
    with archive.open(info, "w", force_zip64=zip64) as f:
        f.write(data)


def manifest(folder, name, data, shift=0):
    """Describes the archive as zipfile reads it; the unchecked bytes are the
    version made by, the attributes, and what a data descriptor overrides."""
    path = os.path.join(folder, name + ".zip")
    with open(path, "wb") as f:
        f.write(data)
    view = zipfile.ZipFile(Shifted(shift, data))
    lines, unchecked = [f"prefix {shift}"], []
    central = view.start_dir - shift
    for info in view.infolist():
        local = info.header_offset - shift
        name_length, extra_length = struct.unpack("<HH", data[local + 26 : local + 30])
        at = local + 30 + name_length + extra_length
        if info.flag_bits & 8:
            unchecked += range(local + 14, local + 26)
            extra = local + 30 + name_length
            if data[extra : extra + 2] == b"\x01\x00":
                unchecked += range(extra + 4, extra + extra_length)
        unchecked += [central + 4, central + 5] + list(range(central + 36, central + 42))
        central += 46 + len(info.orig_filename.encode("utf-8")) + len(info.extra) + len(info.comment)
        lines.append(f"entry {info.file_size} {info.CRC:08x} {at} {info.compress_size} "
                     + info.orig_filename.encode("utf-8").hex())
        if view.read(info) != contents[name][len(lines) - 2]:
            sys.exit(f"{name}: zipfile reads {info.filename} back differently")
    end = len(data) - 22
    if data[end - 20 : end - 16] == b"PK\x06\x07":
        record = struct.unpack("<Q", data[end - 12 : end - 4])[0] - shift
        unchecked += range(record + 12, record + 16)
    lines.insert(1, "unchecked " + " ".join(str(u) for u in sorted(set(unchecked))))
    with open(os.path.join(folder, name + ".txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


def escaped(entries):
    """Every size and offset escaped: Zip64 fields in the local headers (zero,
    as a data descriptor follows) and the central ones, 64-bit descriptors
    without signature, the Zip64 end record and 32-bit end fields escaped."""
    out, directory = bytearray(), bytearray()
    for name, data, method in entries:
        name = name.encode("utf-8")
        stored = data if method == 0 else zlib.compress(data, 6)[2:-4]
        crc, offset, flags = zlib.crc32(data), len(out), 0x0808
        extra = struct.pack("<HHQQ", 1, 16, 0, 0)
        out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, flags, method, 0x5000, 0x58B1, 0,
                           0xFFFFFFFF, 0xFFFFFFFF, len(name), len(extra)) + name + extra
        out += stored + struct.pack("<IQQ", crc, len(stored), len(data))
        extra = struct.pack("<HHQQQ", 1, 24, len(data), len(stored), offset)
        directory += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, flags, method, 0x5000, 0x58B1,
                                 crc, 0xFFFFFFFF, 0xFFFFFFFF, len(name), len(extra), 0, 0, 0, 0,
                                 0xFFFFFFFF) + name + extra
    start, count = len(out), len(entries)
    out += directory
    record = len(out)
    out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, len(directory), start)
    out += struct.pack("<IIQI", 0x07064B50, 0, record, 1)
    out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return bytes(out)


def write(target, entries):
    with zipfile.ZipFile(target, "w", allowZip64=True) as archive:
        for entry in entries:
            add(archive, *entry)


folder = sys.argv[1]
os.makedirs(folder, exist_ok=True)
D, S = zipfile.ZIP_DEFLATED, zipfile.ZIP_STORED
specs = {
    "forced": [("readme.txt", text(3000, 1), D, True), ("Données été.txt", text(200, 2), D, True),
               ("photo.jpg", noise(300, 3), S, True), ("empty.txt", b"", D, True), ("dir/", b"", S)],
    "streamed": [("a.txt", text(2000, 4), D), ("b.bin", noise(100, 5), S), ("c.txt", text(500, 6), D, True)],
    "shifted": [("far.txt", text(700, 7), D), ("farther.bin", noise(50, 8), S)],
}
contents = {name: [entry[1] for entry in entries] for name, entries in specs.items()}
target = io.BytesIO()
write(target, specs["forced"])
manifest(folder, "forced", target.getvalue())
target = Unseekable()
write(target, specs["streamed"])
manifest(folder, "streamed", target.b.getvalue())
target = Shifted(SHIFT)
write(target, specs["shifted"])
manifest(folder, "shifted", target.b.getvalue(), SHIFT)
hand = [("x/deflated.txt", text(1500, 9), 8), ("stored.bin", noise(80, 10), 0), ("ünï.txt", text(90, 11), 8)]
contents["escaped"] = [entry[1] for entry in hand]
manifest(folder, "escaped", escaped(hand))
