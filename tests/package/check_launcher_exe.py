#!/usr/bin/env python3
"""Facts about the shipped launcher.exe that an administrator relies on, read from the PE file:
size, imported DLLs, ASLR/DEP, manifest, version resource, string texts, and a reproducible
build. Prints one line per check and `N passed, M failed`."""
import argparse
import os
import struct
import subprocess
import sys
import tempfile

MAX_SIZE = 100 * 1024
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll"}
DYNAMIC_BASE, NX_COMPAT = 0x40, 0x100
RT_STRING, RT_VERSION, RT_MANIFEST = 6, 16, 24


class PeFile:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        count, self.timestamp = struct.unpack_from("<HI", data, pe + 6)
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        self.dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
        directories = struct.unpack_from("<I", data, optional + 92)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 96 + 8 * i)
                            for i in range(directories)]
        self.sections = [struct.unpack_from("<8xIIII", data, optional + optional_size + 40 * i)
                         for i in range(count)]

    def offset(self, rva):
        for virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_offset + rva - address
        raise ValueError(f"rva {rva:#x} in no section")

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        rva, _ = self.directories[1]
        names, at = [], self.offset(rva)
        while any(self.data[at:at + 20]):
            names.append(self.c_string(struct.unpack_from("<I", self.data, at + 12)[0]))
            at += 20
        return names

    def resources(self):
        """{(type, id): bytes}, first language of each."""
        base = self.offset(self.directories[2][0])

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield key, target

        found = {}
        for kind, kinds in entries(0):
            for name, names in entries(kinds & 0x7FFFFFFF):
                _, language = next(entries(names & 0x7FFFFFFF))
                rva, size = struct.unpack_from("<II", self.data, base + language)
                found[(kind, name)] = self.data[self.offset(rva):self.offset(rva) + size]
        return found


def string_resource(resources, string_id):
    block = resources.get((RT_STRING, string_id // 16 + 1), b"")
    at = 0
    for index in range(16):
        length = struct.unpack_from("<H", block, at)[0]
        text = block[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        if index == string_id % 16:
            return text
        at += 2 + 2 * length
    return None


def rebuild(source, toolchain, build_type):
    with tempfile.TemporaryDirectory() as temp:
        build = os.path.join(temp, "build")
        for command in (["cmake", "-S", source, "-B", build, f"-DCMAKE_BUILD_TYPE={build_type}",
                         f"-DCMAKE_TOOLCHAIN_FILE={toolchain}"],
                        ["cmake", "--build", build, "--target", "launcher", "-j", "2"]):
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(build, "launcher.exe"), "rb") as exe:
            return exe.read()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--rebuild-from", help="source tree to build again and compare")
    parser.add_argument("--toolchain")
    parser.add_argument("--build-type", default="MinSizeRel")
    args = parser.parse_args()
    with open(args.exe, "rb") as exe:
        data = exe.read()
    pe = PeFile(data)
    resources = pe.resources()
    manifest = resources.get((RT_MANIFEST, 1), b"")
    version = resources.get((RT_VERSION, 1), b"")

    checks = [
        (f"size {len(data)} bytes <= {MAX_SIZE}", len(data) <= MAX_SIZE),
        (f"imports {sorted(pe.imports())} only system DLLs",
         {name.lower() for name in pe.imports()} <= ALLOWED_DLLS),
        ("DYNAMIC_BASE and NX_COMPAT",
         pe.dll_characteristics & (DYNAMIC_BASE | NX_COMPAT) == DYNAMIC_BASE | NX_COMPAT),
        ("no link time stamp", pe.timestamp == 0),
        ("manifest asks to run as invoker", b'level="asInvoker"' in manifest),
        ("manifest names Vista to Windows 10/11",
         all(guid in manifest for guid in (b"e2011457-1546-43c5-a5fe-008deee3d3f0",
                                           b"8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"))),
        ("manifest has no common-controls dependency", b"Common-Controls" not in manifest),
        ("version resource names the product and the file",
         all(field.encode("utf-16-le") in version
             for field in ("ProductName", "FileDescription", "FileVersion",
                           "OriginalFilename", "launcher.exe"))),
        ("texts decoded from Windows-1252",
         string_resource(resources, 101) == "Echec à l'obtention des données pour '%s'"
         and string_resource(resources, 100) == "Erreur lors de l'installation : "),
    ]
    if args.rebuild_from:
        again = rebuild(args.rebuild_from, args.toolchain, args.build_type)
        checks.append(("a second build from the same sources is byte-identical", again == data))

    failed = 0
    for name, ok in checks:
        print(("PASS " if ok else "FAIL ") + name)
        failed += not ok
    print(f"{len(checks) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
