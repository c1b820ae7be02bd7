#!/usr/bin/env python3
"""Checks the shipped uninstKIVO.exe as a file, without running it: PE32 for
i386, GUI subsystem, imports from Windows system DLLs only, icon group 101 with
its images, version information, and a manifest asking for administrator
rights, Common Controls 6 and the supported systems Vista to 10/11.

With a table of import floors it also checks that the file loads on Windows 95
and NT 4.0: every imported function is on the table and exported and working
there (msvcrt.dll's from Windows 98 on, since 95 has that DLL only when a
program installed it), the header's OS and subsystem versions are 4.0 and no
load configuration is required; and, from the undefined symbols of the
program's object files, that no function that is a failing stub on 9x is
called from anywhere but the code that chooses the 9x path.

Then it spoils copies of the file in memory, one property at a time, and
expects each to be caught, so that a checker that stopped looking fails too.
Usage: check_program_file.py uninstKIVO.exe [import_floors.tsv OBJECT_FOLDER...]"""
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

I386, PE32, GUI = 0x14C, 0x10B, 2
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll",
    "comdlg32.dll", "comctl32.dll", "shlwapi.dll", "version.dll", "msvcrt.dll", "ntdll.dll",
}
# The object files that choose between the wide calls and the ANSI ones of
# Windows 9x; no other may call a function that 9x has only as a stub. The
# handle walk makes its wide calls only once ntdll's native calls were found,
# which Windows 9x lacks, and its callers take the path walk there.
NINE_X_PATH_OBJECTS = {"platform/wide_files.cpp.obj", "platform/handle_walk.cpp.obj"}
FLOOR_9X = {"95"}
FLOOR_9X_MSVCRT = {"95", "98"}
FLOOR_NT = {"nt4"}
LOAD_CONFIG = 10
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
        self.os_version_at = optional + 40
        self.subsystem_version_at = optional + 48
        self.win32_version_at = optional + 52
        self.os_version = struct.unpack_from("<HH", data, self.os_version_at)
        self.subsystem_version = struct.unpack_from("<HH", data, self.subsystem_version_at)
        self.win32_version = struct.unpack_from("<I", data, self.win32_version_at)[0]
        directories = optional + (96 if self.magic == PE32 else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directory_at = directories
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(min(count, 16))]
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            size, address, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((address, max(size, raw_size), raw))
        self.functions = []  # (dll, function or None when by ordinal, offset of its name)
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
                lookup, _, _, _, thunks = struct.unpack_from("<IIIII", self.data, at)
                self._functions(names[-1][0].lower(), lookup or thunks)
                at += 20
        if len(self.directories) > 13 and self.directories[13][0]:  # delay-loaded
            at = self.offset(self.directories[13][0])
            while any(self.data[at:at + 32]):
                names.append(self.text(struct.unpack_from("<I", self.data, at + 4)[0]))
                at += 32
        return names

    def _functions(self, dll, rva):
        size, by_ordinal = (4, 1 << 31) if self.magic == PE32 else (8, 1 << 63)
        at = self.offset(rva)
        while True:
            entry = int.from_bytes(self.data[at:at + size], "little")
            if entry == 0:
                return
            if entry & by_ordinal:
                self.functions.append((dll, None, at))
            else:
                name, name_at = self.text(entry + 2)
                self.functions.append((dll, name, name_at))
            at += size

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


def floors_read(path):
    """{(dll, function): row}, and the table's own faults."""
    floors, problems = {}, []
    values = {"first_9x": {"95", "98", "me", "none", "?"}, "first_nt": {"nt4", "2000", "xp", "vista", "?"},
              "on_9x": {"ok", "stub", "stub?", "none", "?"}}
    with open(path, encoding="utf-8") as file:
        lines = [line.rstrip("\n") for line in file if line.strip() and not line.startswith("#")]
    header = lines[0].split("\t")
    for number, line in enumerate(lines[1:], 2):
        row = dict(zip(header, line.split("\t")))
        key = (row.get("dll", "").lower(), row.get("function", ""))
        bad = [field for field, allowed in values.items() if row.get(field) not in allowed]
        if len(line.split("\t")) != len(header) or bad or not row.get("source", "").strip():
            problems.append("%s row %d (%s): malformed %s" % (path, number, line, bad or "row or source"))
        elif key in floors:
            problems.append("%s row %d: %s!%s is listed twice" % (path, number, key[0], key[1]))
        else:
            floors[key] = row
    return floors, problems


def references_read(folders):
    """{function: set of object files that call it through the import table},
    from the undefined symbols (__imp__CreateFileW@28, or _CreateFileW@28 for a
    call through the import library's stub)."""
    references = {}
    pattern = re.compile(r"^\s*U (?:__imp_)?_([A-Za-z_][A-Za-z0-9_]*?)(?:@\d+)?$")
    for folder in folders:
        for root, _, files in os.walk(folder):
            for name in sorted(files):
                if not name.endswith(".obj"):
                    continue
                path = os.path.join(root, name)
                output = subprocess.run(["i686-w64-mingw32-nm", "-u", path], capture_output=True, text=True,
                                        check=True).stdout
                shown = os.path.relpath(path, folder).replace(os.sep, "/")
                shown = ("/" + shown).split("/src/", 1)[-1].lstrip("/")
                for line in output.splitlines():
                    match = pattern.match(line)
                    if match:
                        references.setdefault(match.group(1), set()).add(shown)
    return references


def floor_problems(image, floors, references):
    """Why the program would not load, or would fail, on Windows 95 or NT 4."""
    problems = []
    if image.os_version != (4, 0) or image.subsystem_version != (4, 0):
        problems.append("header: OS version %d.%d and subsystem version %d.%d, not 4.0 (Windows 95 and NT 4 "
                        "refuse a program that asks for a later system)" % (image.os_version + image.subsystem_version))
    if image.win32_version != 0:
        problems.append("header: Win32VersionValue %#x, not 0 (the loader would report another Windows version)"
                        % image.win32_version)
    if len(image.directories) > LOAD_CONFIG and image.directories[LOAD_CONFIG] != (0, 0):
        problems.append("header: a load configuration directory at %#x, %d bytes (older loaders read it "
                        "differently; the program needs none)" % image.directories[LOAD_CONFIG])
    for dll, function, _ in image.functions:
        if function is None:
            problems.append("import: %s by ordinal, which no table can date" % dll)
            continue
        row = floors.get((dll, function))
        if row is None:
            problems.append("import: %s!%s is not on the table of import floors: add its row with its "
                            "sources, or look it up at run time" % (dll, function))
            continue
        first_9x, first_nt, on_9x = row["first_9x"], row["first_nt"], row["on_9x"]
        floor_9x = FLOOR_9X_MSVCRT if dll == "msvcrt.dll" else FLOOR_9X
        if "?" in (first_9x, first_nt, on_9x) or on_9x == "stub?":
            problems.append("import: %s!%s is not established on Windows 9x or NT (first_9x %s, first_nt %s, "
                            "on_9x %s; %s): look it up at run time" % (dll, function, first_9x, first_nt,
                                                                       on_9x, row["source"]))
        elif first_9x not in floor_9x or first_nt not in FLOOR_NT or on_9x not in ("ok", "stub"):
            problems.append("import: %s!%s is above the floor: first exported by Windows %s and NT %s (%s): "
                            "look it up at run time with a fallback" % (dll, function, first_9x, first_nt,
                                                                        row["source"]))
        elif on_9x == "stub":
            callers = sorted(object_file for object_file in references.get(function, ())
                             if object_file not in NINE_X_PATH_OBJECTS)
            if callers:
                problems.append("import: %s!%s, a failing stub on Windows 9x, is called from %s; only %s "
                                "may call it" % (dll, function, ", ".join(callers),
                                                 ", ".join(sorted(NINE_X_PATH_OBJECTS))))
    return problems


def problems_of(data, floors=None, references=None):
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
    if floors is not None:
        problems += floor_problems(image, floors, references)
    return problems


def spoiled(data, references):
    """(what, expected words of the problem, spoiled copy, object references)
    for each property."""
    image = Image(data)

    def patch(at, raw):
        copy = bytearray(data)
        copy[at:at + len(raw)] = raw
        return bytes(copy)

    def replace(old, new):
        assert len(old) == len(new) and old in data, old
        return data.replace(old, new, 1)

    def rename(dll, function):
        """The longest imported name of dll (so that function fits) renamed."""
        _, name, at = max((f for f in image.functions if f[0] == dll), key=lambda f: len(f[1] or ""))
        assert len(function) <= len(name), (function, name)
        return patch(at, function.encode().ljust(len(name), b"\0"))

    name, at = image.imports[0]
    same = references
    yield "machine x86-64", "i386", patch(image.machine_at, struct.pack("<H", 0x8664)), same
    yield "console subsystem", "GUI", patch(image.subsystem_at, struct.pack("<H", 3)), same
    yield "a DLL of our own", "system DLLs", patch(at, b"k" * (len(name) - 4) + b".dll"), same
    yield ("icon 102 for 101", "icon 101", patch(image.resources[(RT_GROUP_ICON, 101)][1], struct.pack("<I", 102)),
           same)
    yield "no version resource", "version", patch(image.type_entries[RT_VERSION], struct.pack("<I", 17)), same
    yield ("asInvoker", "requireAdministrator", replace(b'"requireAdministrator"', b'"asInvoker"'.ljust(22)),
           same)
    yield "Common Controls 5", "Common Controls", replace(b'version="6.0.0.0"', b'version="5.8.0.0"'), same
    yield "Windows 10 left out", "supportedOS", replace(b"8e0f7a12", b"00000000"), same
    if references is None:
        return
    yield ("an import not on the table", "SHGetKnownFolderIDList is not on the table",
           rename("shell32.dll", "SHGetKnownFolderIDList"), same)
    yield ("GetTickCount64 imported", "GetTickCount64 is above the floor: first exported by Windows none and NT "
           "vista", rename("kernel32.dll", "GetTickCount64"), same)
    yield ("SHGetFolderPathA imported", "SHGetFolderPathA is above the floor: first exported by Windows me and "
           "NT 2000", rename("shell32.dll", "SHGetFolderPathA"), same)
    yield ("TryEnterCriticalSection imported", "TryEnterCriticalSection is above the floor",
           rename("kernel32.dll", "TryEnterCriticalSection"), same)
    yield ("_stat64 imported", "msvcrt.dll!_stat64 is above the floor", rename("msvcrt.dll", "_stat64"), same)
    yield ("OpenProcessToken imported", "OpenProcessToken is not established",
           rename("advapi32.dll", "OpenProcessToken"), same)
    stubs = dict(references)
    stubs["CreateFileW"] = stubs.get("CreateFileW", set()) | {"zip/zip_verify_file.cpp.obj"}
    yield ("CreateFileW called by the verifier", "CreateFileW, a failing stub on Windows 9x, is called from "
           "zip/zip_verify_file.cpp.obj", data, stubs)
    yield ("OS version 5.1", "OS version 5.1", patch(image.os_version_at, struct.pack("<HH", 5, 1)), same)
    yield ("subsystem version 6.0", "subsystem version 6.0", patch(image.subsystem_version_at,
                                                                   struct.pack("<HH", 6, 0)), same)
    yield "Win32VersionValue set", "Win32VersionValue", patch(image.win32_version_at, struct.pack("<I", 1)), same
    yield ("a load configuration", "load configuration",
           patch(image.directory_at + 8 * LOAD_CONFIG, struct.pack("<II", image.sections[0][0], 64)), same)


def main():
    with open(sys.argv[1], "rb") as file:
        data = file.read()
    floors = references = None
    if len(sys.argv) > 2:
        floors, table_problems = floors_read(sys.argv[2])
        for problem in table_problems:
            print("FAIL %s" % problem)
        if table_problems:
            return 1
        references = references_read(sys.argv[3:])
        if not references:
            print("FAIL no object file with undefined symbols under %s" % " ".join(sys.argv[3:]))
            return 1
    problems = problems_of(data, floors, references)
    for problem in problems:
        print("FAIL %s: %s" % (sys.argv[1], problem))
    if problems:
        return 1
    image = Image(data)
    print("%s: PE32 i386, GUI, imports %s, icon 101, version information, manifest as required"
          % (sys.argv[1], ", ".join(sorted(name for name, _ in image.imports))))
    if floors is not None:
        stubs = sorted(f for d, f, _ in image.functions if floors[(d, f)]["on_9x"] == "stub")
        print("%d imported functions, all exported by Windows 95 (msvcrt.dll: 98) and NT 4.0; OS and subsystem "
              "version 4.0, no load configuration; 9x stubs %s called only from %s or the runtime"
              % (len(image.functions), ", ".join(stubs), ", ".join(sorted(NINE_X_PATH_OBJECTS))))
    status = 0
    for what, expected, copy, copy_references in spoiled(data, references):
        found = problems_of(copy, floors, copy_references)
        if any(expected in problem for problem in found):
            print("spoiled (%s): caught" % what)
        else:
            print("FAIL spoiled (%s) not caught: %s" % (what, found or "no problem reported"))
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
