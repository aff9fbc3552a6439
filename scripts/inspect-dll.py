#!/usr/bin/env python3
"""Reads a built Kestrel.dll as a file, without running it, and checks what a
host relies on: the machine it is built for, the four exports under their
plain names, the embedded type library (the tree's own, version 1.1, of the
system kind of that machine) and the version resource. This is how a DLL of a
width that cannot run on the build machine is tested.

Usage: inspect-dll.py x86|x64 DLL TLB RC
  TLB  the type library the tree built from Kestrel.idl
  RC   Kestrel.rc, whose FileVersion the version resource must carry
Prints one line, "PASS ..." or "FAIL ...: " with every failed check; exit 1
on a failure.
"""
import re
import struct
import sys
import uuid

MACHINES = {"x86": (0x14C, 0x10B, 1), "x64": (0x8664, 0x20B, 3)}  # machine, optional-header magic, SYSKIND
EXPORTS = ["DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"]
LIBID = uuid.UUID("F9EA2EB4-5262-11D2-A2E1-080009AB4447")
RT_VERSION = 16
IMAGE_FILE_DLL = 0x2000


class PeFile:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(sections):
            _, virtual_size, address, raw_size, raw_offset = struct.unpack_from(
                "<8sIIII", data, optional + optional_size + 40 * i)
            self.sections.append((address, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for address, size, raw in self.sections:
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError("address %#x lies in no section" % rva)

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def export_names(self):
        rva, size = self.directories[0]
        if size == 0:
            return []
        fields = struct.unpack_from("<IIHHIIIIIII", self.data, self.offset(rva))
        count, names = fields[7], fields[9]
        return [self.c_string(struct.unpack_from("<I", self.data, self.offset(names) + 4 * i)[0])
                for i in range(count)]

    def resources(self):
        """{(type, name): bytes} of the first language of each resource."""
        rva, size = self.directories[2]
        if size == 0:
            return {}
        base = self.offset(rva)

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if key & 0x80000000:
                    length = struct.unpack_from("<H", self.data, base + (key & 0x7FFFFFFF))[0]
                    start = base + (key & 0x7FFFFFFF) + 2
                    key = self.data[start:start + 2 * length].decode("utf-16-le")
                yield key, target

        found = {}
        for kind, names in entries(0):
            for name, languages in entries(names & 0x7FFFFFFF):
                _, leaf = next(entries(languages & 0x7FFFFFFF))
                data_rva, data_size = struct.unpack_from("<II", self.data, base + leaf)
                start = self.offset(data_rva)
                found[(kind, name)] = self.data[start:start + data_size]
        return found


def string_value(info, key):
    """The text of one String of a version resource: after its key come zero
    words of padding, then the text up to its terminating zero."""
    at = info.find((key + "\0").encode("utf-16-le"))
    if at < 0:
        return None
    at += 2 * (len(key) + 1)
    while info[at:at + 2] == b"\0\0":
        at += 2
    end = at
    while end < len(info) and info[end:end + 2] != b"\0\0":
        end += 2
    return info[at:end].decode("utf-16-le")


def main():
    arch, dll, tlb, rc = sys.argv[1:5]
    label = "%s DLL read as a file (%s)" % (arch, dll)
    machine, magic, syskind = MACHINES[arch]
    failures = []

    def check(what, ok, why):
        if not ok:
            failures.append("%s: %s" % (what, why))

    try:
        pe = PeFile(open(dll, "rb").read())
    except (OSError, ValueError, struct.error) as e:
        print("FAIL %s: not a readable PE file: %s" % (label, e))
        return 1
    check("machine", (pe.machine, pe.magic) == (machine, magic),
          "machine %#x, optional header %#x" % (pe.machine, pe.magic))
    check("a DLL", pe.characteristics & IMAGE_FILE_DLL, "characteristics %#x" % pe.characteristics)
    names = pe.export_names()
    check("exports", sorted(names) == EXPORTS, "exports %s" % names)

    resources = pe.resources()
    library = resources.get(("TYPELIB", 1), b"")
    built = open(tlb, "rb").read()
    check("type library resource", library == built,
          "%d bytes in the DLL, %d bytes in %s" % (len(library), len(built), tlb))
    if library[:4] == b"MSFT":
        varflags, version = struct.unpack_from("<ii", library, 0x14)
        check("type library system kind", varflags & 0xF == syskind, "SYSKIND %d" % (varflags & 0xF))
        check("type library version 1.1", (version & 0xFFFF, version >> 16) == (1, 1),
              "version %d.%d" % (version & 0xFFFF, version >> 16))
        check("type library identifier", LIBID.bytes_le in library, "%s not found" % LIBID)

    expected = re.search(r'VALUE "FileVersion", "([0-9.]+)"', open(rc).read()).group(1)
    info = resources.get((RT_VERSION, 1), b"")
    fixed = info.find(struct.pack("<I", 0xFEEF04BD))
    version = ""
    if fixed >= 0:
        ms, ls = struct.unpack_from("<II", info, fixed + 8)
        version = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    text = string_value(info, "FileVersion")
    check("version resource", version == expected and text == expected,
          "file version [%s], FileVersion [%s], expected %s" % (version, text, expected))
    if failures:
        print("FAIL %s: %s" % (label, "; ".join(failures)))
        return 1
    print("PASS %s: machine, exports, type library, version %s" % (label, version))
    return 0


if __name__ == "__main__":
    sys.exit(main())
