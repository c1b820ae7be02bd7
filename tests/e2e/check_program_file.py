#!/usr/bin/env python3
"""Checks the shipped uninstKIVO.exe as a file, without running it: PE32 for
i386, GUI subsystem, imports from Windows system DLLs only, icon group 101 with
its images, version information, and a manifest asking for administrator
rights, Common Controls 6 and the supported systems Vista to 10/11.

Then it spoils copies of the file in memory, one property at a time, and
expects each to be caught, so that a checker that stopped looking fails too.
Usage: check_program_file.py uninstKIVO.exe"""
import struct
import sys
import xml.etree.ElementTree as ElementTree

I386, PE32, GUI = 0x14C, 0x10B, 2
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll",
    "comdlg32.dll", "comctl32.dll", "shlwapi.dll", "version.dll", "msvcrt.dll", "ntdll.dll",
}
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11",
}


class Image:
    """The parts of a PE file the checks need, with the file offsets of the
    fields the self-check spoils."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine_at = pe + 4
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem_at = optional + 68
        self.subsystem = struct.unpack_from("<H", data, self.subsystem_at)[0]
        directories = optional + (96 if self.magic == PE32 else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(min(count, 16))]
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            size, address, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((address, max(size, raw_size), raw))
        self.imports = self._imports()
        self.resources = {}  # (type, id) -> (data, offset of the id's directory entry)
        self.type_entries = {}  # type -> offset of its entry in the root directory
        if len(self.directories) > 2 and self.directories[2][0]:
            self._resources()

    def offset(self, rva):
        for address, size, raw in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError("address %#x outside every section" % rva)

    def text(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1"), at

    def _imports(self):
        names = []  # (name, offset)
        if len(self.directories) > 1 and self.directories[1][0]:
            at = self.offset(self.directories[1][0])
            while any(self.data[at:at + 20]):
                names.append(self.text(struct.unpack_from("<I", self.data, at + 12)[0]))
                at += 20
        if len(self.directories) > 13 and self.directories[13][0]:  # delay-loaded
            at = self.offset(self.directories[13][0])
            while any(self.data[at:at + 32]):
                names.append(self.text(struct.unpack_from("<I", self.data, at + 4)[0]))
                at += 32
        return names

    def _entries(self, at):
        named, ids = struct.unpack_from("<HH", self.data, at + 12)
        for i in range(named + ids):
            entry = at + 16 + 8 * i
            name, target = struct.unpack_from("<II", self.data, entry)
            yield entry, name, target

    def _resources(self):
        root = self.offset(self.directories[2][0])
        for type_entry, kind, types in self._entries(root):
            self.type_entries[kind] = type_entry
            if not types & 0x80000000:
                continue
            for id_entry, ident, languages in self._entries(root + (types & 0x7FFFFFFF)):
                if not languages & 0x80000000:
                    continue
                for _, _, leaf in self._entries(root + (languages & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from("<II", self.data, root + (leaf & 0x7FFFFFFF))
                    at = self.offset(rva)
                    self.resources.setdefault((kind, ident), (self.data[at:at + size], id_entry))


def local(tag):
    return tag.rsplit("}", 1)[-1]


def manifest_problems(text):
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        return ["the manifest is not well-formed XML: %s" % error]
    problems = []
    elements = list(root.iter())
    identity = [e for e in root if local(e.tag) == "assemblyIdentity"]
    if not identity or identity[0].get("processorArchitecture") != "x86":
        problems.append("the manifest's own assemblyIdentity does not name processorArchitecture x86")
    levels = [e.get("level") for e in elements if local(e.tag) == "requestedExecutionLevel"]
    if levels != ["requireAdministrator"]:
        problems.append("requestedExecutionLevel is %s, not requireAdministrator" % (levels or "missing"))
    controls = [e for e in elements if local(e.tag) == "assemblyIdentity"
                and e.get("name") == "Microsoft.Windows.Common-Controls"]
    if not controls or controls[0].get("version") != "6.0.0.0" or \
            controls[0].get("processorArchitecture") not in ("x86", "*"):
        problems.append("no dependency on Common Controls 6.0.0.0 for x86")
    systems = {e.get("Id", "").lower() for e in elements if local(e.tag) == "supportedOS"}
    missing = [name for guid, name in SUPPORTED_OS.items() if guid not in systems]
    if missing:
        problems.append("supportedOS missing for Windows %s" % ", ".join(missing))
    return problems


def problems_of(data):
    try:
        image = Image(data)
    except (ValueError, struct.error) as error:
        return ["not a readable PE file: %s" % error]
    problems = []
    if image.machine != I386 or image.magic != PE32:
        problems.append("machine %#x, optional header %#x: not PE32 for i386" % (image.machine, image.magic))
    if image.subsystem != GUI:
        problems.append("subsystem %d, not the Windows GUI (2)" % image.subsystem)
    foreign = sorted(name for name, _ in image.imports if name.lower() not in SYSTEM_DLLS)
    if foreign or not image.imports:
        problems.append("imports beyond Windows system DLLs: %s" % (foreign or "no imports at all"))
    group = image.resources.get((RT_GROUP_ICON, 101))
    if group is None:
        problems.append("no icon 101")
    else:
        count = struct.unpack_from("<H", group[0], 4)[0]
        images = [struct.unpack_from("<H", group[0], 6 + 14 * i + 12)[0] for i in range(count)]
        if not images or any((RT_ICON, i) not in image.resources for i in images):
            problems.append("icon 101 lacks its images %s" % images)
    version = image.resources.get((RT_VERSION, 1))
    if version is None or "VS_VERSION_INFO".encode("utf-16-le") not in version[0] \
            or struct.pack("<I", 0xFEEF04BD) not in version[0] \
            or "uninstKIVO.exe".encode("utf-16-le") not in version[0]:
        problems.append("no version information naming uninstKIVO.exe")
    manifest = image.resources.get((RT_MANIFEST, 1))
    if manifest is None:
        problems.append("no manifest")
    else:
        problems += manifest_problems(manifest[0])
    return problems


def spoiled(data):
    """(what, expected words of the problem, spoiled copy) for each property."""
    image = Image(data)

    def patch(at, raw):
        copy = bytearray(data)
        copy[at:at + len(raw)] = raw
        return bytes(copy)

    def replace(old, new):
        assert len(old) == len(new) and old in data, old
        return data.replace(old, new, 1)

    name, at = image.imports[0]
    yield "machine x86-64", "i386", patch(image.machine_at, struct.pack("<H", 0x8664))
    yield "console subsystem", "GUI", patch(image.subsystem_at, struct.pack("<H", 3))
    yield "a DLL of our own", "system DLLs", patch(at, b"k" * (len(name) - 4) + b".dll")
    yield "icon 102 for 101", "icon 101", patch(image.resources[(RT_GROUP_ICON, 101)][1], struct.pack("<I", 102))
    yield "no version resource", "version", patch(image.type_entries[RT_VERSION], struct.pack("<I", 17))
    yield "asInvoker", "requireAdministrator", replace(b'"requireAdministrator"', b'"asInvoker"'.ljust(22))
    yield "Common Controls 5", "Common Controls", replace(b'version="6.0.0.0"', b'version="5.8.0.0"')
    yield "Windows 10 left out", "supportedOS", replace(b"8e0f7a12", b"00000000")


def main():
    with open(sys.argv[1], "rb") as file:
        data = file.read()
    problems = problems_of(data)
    for problem in problems:
        print("FAIL %s: %s" % (sys.argv[1], problem))
    if problems:
        return 1
    print("%s: PE32 i386, GUI, imports %s, icon 101, version information, manifest as required"
          % (sys.argv[1], ", ".join(sorted(name for name, _ in Image(data).imports))))
    status = 0
    for what, expected, copy in spoiled(data):
        found = problems_of(copy)
        if any(expected in problem for problem in found):
            print("spoiled (%s): caught" % what)
        else:
            print("FAIL spoiled (%s) not caught: %s" % (what, found or "no problem reported"))
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
