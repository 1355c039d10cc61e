#!/usr/bin/env python3
"""Facts about the shipped launcher.exe that an administrator and a hardening scanner rely on,
read from the PE file: size, imports, header flags and versions, relocations, sections,
manifest, version resource, string texts, stack protection, and a reproducible build. Prints
one line per check and `N passed, M failed`. `--self-test` shows instead that each check fails
on a copy of the file with the fault it looks for."""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

import checklist
from pe_image import LOAD_CONFIG, RELOCATIONS, RT_MANIFEST, RT_VERSION, PeImage
from redistributable import VERSION as RUNTIME_VERSION

MAX_SIZE = 110 * 1024
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll"}
RELOCS_STRIPPED = 0x1
DYNAMIC_BASE, NX_COMPAT, NO_SEH, TERMINAL_SERVER_AWARE = 0x40, 0x100, 0x400, 0x8000
GUI_SUBSYSTEM = 2
DIGEST_CALLS = {"CryptAcquireContextW", "CryptCreateHash", "CryptHashData", "CryptGetHashParam",
                "CryptDestroyHash", "CryptReleaseContext"}
CODE, EXECUTE, WRITE = 0x20, 0x20000000, 0x80000000
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
WINDOWS_SETTINGS = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"


def manifest_facts(manifest):
    """(requestedExecutionLevel attribute sets, assembly version, dpiAware texts)."""
    root = ElementTree.fromstring(manifest)
    local = lambda element: element.tag.rsplit("}", 1)[-1]  # noqa: E731
    levels = [element.attrib for element in root.iter()
              if local(element) == "requestedExecutionLevel"]
    identity = next((element for element in root.iter() if local(element) == "assemblyIdentity"),
                    None)
    dpi = [element.text for element in root.iter(WINDOWS_SETTINGS + "dpiAware")]
    return levels, identity.get("version") if identity is not None else None, dpi


def failure_routine_from_map(path):
    """The address of __stack_chk_fail, and whether the runtime's stack protection is linked."""
    with open(path) as link_map:
        text = link_map.read()
    found = re.search(r"^\s+0x([0-9a-f]+)\s+__stack_chk_fail$", text, re.M)
    return (int(found[1], 16) if found else None), "libssp" in text


def checks(data, expected, link_map=None):
    """[(name, passed)] for one launcher.exe; `expected` holds version, company and copyright."""
    pe = PeImage(data)
    imports = pe.imports()
    functions = [name for names in imports.values() for name in names]
    try:
        levels, assembly_version, dpi = manifest_facts(pe.resource(RT_MANIFEST, 1))
    except ElementTree.ParseError:
        levels, assembly_version, dpi = None, None, None
    versions, strings = pe.version_info()
    version = expected["version"]
    crypt_calls = {name for name in functions if name.startswith("Crypt")}
    found = [
        (f"size <= {MAX_SIZE}: {len(data)} bytes", len(data) <= MAX_SIZE),
        (f"imports only system DLLs: {sorted(imports)}",
         {name.lower() for name in imports} <= ALLOWED_DLLS),
        # The installer's digest needs CryptoAPI's hash calls; the runtime's stack guard would
        # bring CryptGenRandom and its context.
        (f"imports no Crypt API but the installer digest's: {sorted(crypt_calls)}",
         crypt_calls <= DIGEST_CALLS),
        ("imports HeapSetInformation and SetDllDirectoryW",
         {"HeapSetInformation", "SetDllDirectoryW"} <= set(functions)),
        ("DYNAMIC_BASE and NX_COMPAT",
         pe.dll_characteristics & (DYNAMIC_BASE | NX_COMPAT) == DYNAMIC_BASE | NX_COMPAT),
        (f"relocations-stripped flag clear, relocations: {len(pe.relocations())}",
         len(pe.relocations()) > 0 and not pe.characteristics & RELOCS_STRIPPED),
        (f"subsystem GUI: {pe.subsystem}", pe.subsystem == GUI_SUBSYSTEM),
        ("Terminal-Server-aware", bool(pe.dll_characteristics & TERMINAL_SERVER_AWARE)),
        (f"subsystem and OS version 6.0: {pe.subsystem_version}, {pe.os_version}",
         pe.subsystem_version == pe.os_version == (6, 0)),
        ("no section both writable and executable",
         not any(flags & WRITE and flags & (EXECUTE | CODE) for flags in pe.section_flags)),
        ("NO_SEH clear and no Load-Config directory, so frame-based handlers run",
         not pe.dll_characteristics & NO_SEH and pe.directories[LOAD_CONFIG] == (0, 0)),
        ("no link time stamp", pe.timestamp == 0),
        (f"manifest is XML with one requestedExecutionLevel asInvoker: {levels}",
         levels is not None and len(levels) == 1 and levels[0].get("level") == "asInvoker"
         and levels[0].get("uiAccess", "false") == "false"),
        (f"manifest assembly version {version} and dpiAware: {assembly_version}, {dpi}",
         assembly_version == version and dpi == ["true"]),
        ("manifest names Vista to Windows 10/11, no common-controls dependency",
         all(guid in data for guid in (b"e2011457-1546-43c5-a5fe-008deee3d3f0",
                                       b"8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"))
         and b"Common-Controls" not in pe.resource(RT_MANIFEST, 1)),
        (f"file and product version {version}: {versions}", versions == (version, version)),
        ("version strings: " + ", ".join(f"{key}={value!r}" for key, value in strings.items()),
         strings.get("FileVersion") == strings.get("ProductVersion") == version + "\0"
         and strings.get("CompanyName") == expected["company"] + "\0"
         and strings.get("LegalCopyright") == expected["copyright"] + "\0"
         and RUNTIME_VERSION in strings.get("FileDescription", "")
         and strings.get("OriginalFilename") == "launcher.exe\0"),
        ("every version string ends in exactly one NUL",
         bool(strings) and all(value.index("\0") == len(value) - 1
                               for value in strings.values() if "\0" in value)
         and all(value.endswith("\0") for value in strings.values())),
        ("texts decoded from Windows-1252",
         pe.string_resource(101) == "Echec à l'obtention des données pour '%s'"
         and pe.string_resource(100) == "Erreur lors de l'installation : "),
    ]
    if link_map:
        failure, runtime_linked = failure_routine_from_map(link_map)
        calls = pe.calls_to(failure) if failure else 0
        found.append((f"stack protection, the runtime's not linked: {calls} functions check the "
                      "guard (calls to __stack_chk_fail, at its address in the link map)",
                      calls > 0 and not runtime_linked))
    return found


def rebuild(source, toolchain, build_type, defines):
    with tempfile.TemporaryDirectory() as temp:
        build = os.path.join(temp, "build")
        for command in (["cmake", "-S", source, "-B", build, f"-DCMAKE_BUILD_TYPE={build_type}",
                         f"-DCMAKE_TOOLCHAIN_FILE={toolchain}"] + [f"-D{d}" for d in defines],
                        ["cmake", "--build", build, "--target", "launcher", "-j", "2"]):
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(build, "launcher.exe"), "rb") as exe:
            return exe.read()


# Self-test: copies of the file, each with one fault, and the check that must catch it.

def set_field(offset_of, fmt, change):
    def mutate(data, pe):
        at = offset_of(data, pe)
        struct.pack_into(fmt, data, at, change(struct.unpack_from(fmt, data, at)[0]))
    return mutate


def optional_header(field):
    return lambda data, pe: pe.optional_header + field


def strip_relocations(data, pe):
    struct.pack_into("<H", data, pe.optional_header - 2, pe.characteristics | RELOCS_STRIPPED)
    struct.pack_into("<II", data, pe.optional_header + 96 + 8 * RELOCATIONS, 0, 0)


def comment_out_execution_level(data, pe):
    """The element becomes a comment of the same length; its text stays in the file."""
    at, size = pe.resources()[(RT_MANIFEST, 1)]
    manifest = bytes(data[at:at + size])
    start = manifest.index(b"<requestedExecutionLevel")
    end = manifest.index(b"/>", start) + 2
    data[at + start:at + end] = b"<!--" + manifest[start + 4:end - 3] + b"-->"


def double_a_nul(data, pe):
    """LegalCopyright's last character becomes a second NUL."""
    at, size = pe.resources()[(RT_VERSION, 1)]
    text = pe.version_info()[1]["LegalCopyright"].encode("utf-16-le")
    value = data.index(text, data.index("LegalCopyright".encode("utf-16-le"), at, at + size))
    data[value + len(text) - 4:value + len(text) - 2] = b"\0\0"


def load_config(data, pe):
    struct.pack_into("<II", data, pe.optional_header + 96 + 8 * LOAD_CONFIG, pe.sections[1][1],
                     0x48)


def import_random_numbers(data, pe):
    """The import of CryptHashData renamed to CryptGenRando, as if a runtime's guard came in."""
    at = bytes(data).index(b"CryptHashData\0")
    data[at:at + 14] = b"CryptGenRando\0"


MUTATIONS = [
    ("CryptGenRandom-like import", import_random_numbers, "imports no Crypt API"),
    ("relocations stripped", strip_relocations, "relocations-stripped flag clear"),
    ("requestedExecutionLevel commented out", comment_out_execution_level, "manifest is XML"),
    ("console subsystem", set_field(optional_header(68), "<H", lambda _: 3), "subsystem GUI"),
    ("not Terminal-Server-aware", set_field(optional_header(70), "<H", lambda v: v & ~0x8000),
     "Terminal-Server-aware"),
    ("subsystem version 4.0", set_field(optional_header(48), "<H", lambda _: 4),
     "subsystem and OS version"),
    ("NO_SEH set", set_field(optional_header(70), "<H", lambda v: v | NO_SEH), "NO_SEH clear"),
    ("a Load-Config directory", load_config, "NO_SEH clear"),
    ("first section writable", set_field(
        lambda data, pe: pe.section_headers + 36, "<I", lambda v: v | WRITE), "no section both"),
    ("a doubled NUL in LegalCopyright", double_a_nul, "every version string"),
]


def self_test(data, expected, link_map):
    """Each mutated copy must fail its check, which the file itself passes."""
    original = dict(checks(data, expected, link_map))
    results = []
    for name, mutate, check_name in MUTATIONS:
        copy = bytearray(data)
        mutate(copy, PeImage(data))
        caught = [check for check, ok in checks(bytes(copy), expected) if not ok]
        results.append((f"a copy with {name} fails: {caught}",
                        any(check.startswith(check_name) for check in caught)
                        and all(passed for check, passed in original.items()
                                if check.startswith(check_name))))
    return checklist.report(results)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--version", required=True, help="expected, as a.b.c.d")
    parser.add_argument("--company", required=True, help="expected CompanyName")
    parser.add_argument("--copyright", required=True, help="expected LegalCopyright")
    parser.add_argument("--map", help="the link map of the stripped program")
    parser.add_argument("--self-test", action="store_true")
    parser.add_argument("--rebuild-from", help="source tree to build again and compare")
    parser.add_argument("--toolchain")
    parser.add_argument("--build-type", default="MinSizeRel")
    parser.add_argument("--define", action="append", default=[],
                        help="NAME=VALUE given to the rebuild's CMake, as to the build's")
    args = parser.parse_args()
    with open(args.exe, "rb") as exe:
        data = exe.read()
    expected = {"version": args.version, "company": args.company, "copyright": args.copyright}
    if args.self_test:
        return self_test(data, expected, args.map)

    found = checks(data, expected, args.map)
    if args.rebuild_from:
        again = rebuild(args.rebuild_from, args.toolchain, args.build_type, args.define)
        found.append(("a second build from the same sources is byte-identical", again == data))

    return checklist.report(found)


if __name__ == "__main__":
    sys.exit(main())
