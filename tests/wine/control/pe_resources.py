#!/usr/bin/env python3
"""Reads a Windows executable's resources and imports back from its file, without running it:
the message table, the version resource and the manifest of Dovrand.exe, and the DLLs that a
program imports. As a test: pe_resources.py DOVRAND.EXE checks Dovrand.exe's resources and
that it imports only system DLLs that every Windows from XP on has.
"""
import re
import struct
import sys

# System DLLs present on every Windows from XP on.
XP_SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll", "setupapi.dll", "shell32.dll",
                  "shlwapi.dll", "user32.dll"}


class Image:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("%s: not a PE file" % path)
        self.machine, sections, _, symbols, symbol_count, optional_size, _ = struct.unpack_from(
            "<HHIIIHH", self.data, pe + 4)
        # Long section names ("/4") are offsets into the string table behind the symbols.
        strings = symbols + 18 * symbol_count
        optional = self.optional = pe + 24
        magic = struct.unpack_from("<H", self.data, optional)[0]
        self.bits = 32 if magic == 0x10B else 64
        directories = optional + (96 if self.bits == 32 else 112)
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i)
                            for i in range(16)]
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            name = self.data[at:at + 8].rstrip(b"\0").decode()
            if name.startswith("/") and symbols:
                start = strings + int(name[1:])
                name = self.data[start:self.data.index(b"\0", start)].decode()
            vsize, va, raw_size, raw = struct.unpack_from("<IIII", self.data, at + 8)
            self.sections.append((name, va, max(vsize, raw_size), raw))

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError("RVA 0x%x outside every section" % rva)

    def section_names(self):
        return [name for name, _, _, _ in self.sections]

    def imports(self):
        return list(self.import_functions())

    def import_functions(self):
        """{DLL: [function name, or "#ordinal"]} in the order of the import table."""
        rva, _ = self.directories[1]
        found = {}
        at = self.offset(rva)
        thunk_size, ordinal_flag = (4, 1 << 31) if self.bits == 32 else (8, 1 << 63)
        while True:
            descriptor = struct.unpack_from("<IIIII", self.data, at)
            if descriptor == (0, 0, 0, 0, 0):
                return found
            name = self.offset(descriptor[3])
            functions = found.setdefault(self.data[name:self.data.index(b"\0", name)].decode(), [])
            thunk = self.offset(descriptor[0] or descriptor[4])
            while True:
                entry = int.from_bytes(self.data[thunk:thunk + thunk_size], "little")
                if entry == 0:
                    break
                if entry & ordinal_flag:
                    functions.append("#%d" % (entry & 0xFFFF))
                else:
                    start = self.offset(entry & 0x7FFFFFFF) + 2
                    functions.append(self.data[start:self.data.index(b"\0", start)].decode())
                thunk += thunk_size
            at += 20

    def header(self):
        """The optional header's OS and subsystem versions and its DLL characteristics."""
        os_major, os_minor, _, _, sub_major, sub_minor = struct.unpack_from(
            "<HHHHHH", self.data, self.optional + 40)
        characteristics = struct.unpack_from("<H", self.data, self.optional + 70)[0]
        return (os_major, os_minor), (sub_major, sub_minor), characteristics

    def resources(self):
        """{(type, id, language): bytes} for every resource with numeric type and id."""
        rva, _ = self.directories[2]
        found = {}
        if rva == 0:
            return found
        base = self.offset(rva)

        def walk(at, path):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), path + [ident])
                else:
                    data_rva, size, _, _ = struct.unpack_from("<IIII", self.data, base + target)
                    start = self.offset(data_rva)
                    found[tuple(path + [ident])] = self.data[start:start + size]

        walk(base, [])
        return found


def message_table(data):
    """{id: (unicode, text)} of a message-table resource."""
    blocks = struct.unpack_from("<I", data, 0)[0]
    messages = {}
    for b in range(blocks):
        low, high, at = struct.unpack_from("<III", data, 4 + 12 * b)
        for ident in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, at)
            raw = data[at + 4:at + length]
            text = raw.decode("utf-16-le" if flags & 1 else "latin-1").rstrip("\0")
            messages[ident] = (bool(flags & 1), text)
            at += length
    return messages


def version_info(data):
    """(fixed file version as a tuple, {string name: value}) of a version resource."""
    strings = {}
    fixed = None

    def node(at):
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        end = at + length
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value = (key_end + 2 + 3) & ~3
        return key, kind, value_length, value, end

    key, _, value_length, value, end = node(0)
    if value_length:
        signature, _, ms, ls = struct.unpack_from("<IIII", data, value)
        if signature == 0xFEEF04BD:
            fixed = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    at = (value + value_length + 3) & ~3
    while at < end:
        child, _, _, child_value, child_end = node(at)
        if child == "StringFileInfo":
            table = child_value
            while table < child_end:
                _, _, _, string, table_end = node(table)
                while string < table_end:
                    name, _, length, text, string_end = node(string)
                    strings[name] = data[text:text + 2 * length].decode("utf-16-le").rstrip("\0")
                    string = (string_end + 3) & ~3
                table = (table_end + 3) & ~3
        at = (child_end + 3) & ~3
    return fixed, strings


def check_dovrand(path):
    image = Image(path)
    resources = image.resources()
    problems = []
    messages = {}
    for (kind, _, language), data in resources.items():
        if kind == 11:
            if language != 1033:
                problems.append("message table in language %d" % language)
            messages.update(message_table(data))
    want = {0x40020002: (True, "%1\r\n"), 0x40020003: (True, "%1\r\n"),
            0xC0020001: (True, "%1\r\n")}
    if messages != want:
        problems.append("message table %r" % messages)
    manifests = [data for (kind, ident, _), data in resources.items() if kind == 24 and ident == 1]
    if len(manifests) != 1 or b'level="asInvoker"' not in manifests[0]:
        problems.append("no asInvoker manifest")
    else:
        # Vista, 7, 8, 8.1, and 10/11: newer Windows runs the program without compatibility shims.
        supported = re.findall(rb'<supportedOS Id="(\{[0-9a-f-]+\})"/>', manifests[0])
        if supported != [b"{e2011457-1546-43c5-a5fe-008deee3d3f0}",
                         b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                         b"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                         b"{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                         b"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]:
            problems.append("manifest's supported systems %r" % supported)
    versions = [data for (kind, _, _), data in resources.items() if kind == 16]
    fixed, strings = version_info(versions[0]) if versions else (None, {})
    if fixed != (1, 3, 1, 0):
        problems.append("file version %r" % (fixed,))
    for name, value in (("ProductName", "Dovrand"), ("FileVersion", "1.03.1"),
                        ("ProductVersion", "1.03.1")):
        if strings.get(name) != value:
            problems.append("%s %r" % (name, strings.get(name)))
    if not strings.get("FileDescription"):
        problems.append("no FileDescription")
    foreign = [dll for dll in image.imports() if dll.lower() not in XP_SYSTEM_DLLS]
    if foreign:
        problems.append("imports beyond the system DLLs: %s" % ", ".join(foreign))
    return image, problems


def main():
    image, problems = check_dovrand(sys.argv[1])
    print("%d-bit; imports %s" % (image.bits, ", ".join(image.imports())))
    for problem in problems:
        print("FAIL  " + problem)
    print("all passed" if not problems else "%d failed" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
