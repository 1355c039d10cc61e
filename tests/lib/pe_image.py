"""Reads a 32-bit PE file (an .exe or .dll): headers, sections, imports, relocations, resources
and the certificate table. The one reader for the scripts that check, sign, benchmark and test
launcher.exe. Standard library only."""

import struct

IMPORTS, RESOURCES, CERTIFICATES, RELOCATIONS, LOAD_CONFIG, DELAY_IMPORTS = 1, 2, 4, 5, 10, 13
CODE = 0x20  # IMAGE_SCN_CNT_CODE
RT_STRING, RT_VERSION, RT_MANIFEST = 6, 16, 24


class PeError(ValueError):
    pass


class PeImage:
    def __init__(self, data):
        self.data = data
        self.size = len(data)
        pe = struct.unpack_from("<I", data, 0x3C)[0] if len(data) >= 0x40 else 0
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("not a PE file")
        count, self.timestamp, self.symbols_at, self.symbol_count = struct.unpack_from(
            "<HIII", data, pe + 6)
        optional_size, self.characteristics = struct.unpack_from("<HH", data, pe + 20)
        optional = self.optional_header = pe + 24
        if struct.unpack_from("<H", data, optional)[0] != 0x10B:
            raise PeError("not a 32-bit PE file")
        self.image_base = struct.unpack_from("<I", data, optional + 28)[0]
        self.os_version = struct.unpack_from("<HH", data, optional + 40)
        self.subsystem_version = struct.unpack_from("<HH", data, optional + 48)
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        directories = struct.unpack_from("<I", data, optional + 92)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 96 + 8 * i)
                            for i in range(directories)]
        headers = self.section_headers = optional + optional_size
        # (virtual size, RVA, raw size, raw file offset) and the flags of each section
        self.sections = [struct.unpack_from("<8xIIII", data, headers + 40 * i)
                         for i in range(count)]
        self.section_flags = [struct.unpack_from("<I", data, headers + 40 * i + 36)[0]
                              for i in range(count)]

    @classmethod
    def read(cls, path):
        with open(path, "rb") as f:
            return cls(f.read())

    @property
    def stripped(self):
        """No COFF symbol table."""
        return self.symbols_at == 0 and self.symbol_count == 0

    def directory(self, index):
        """(RVA, size) of a data directory; (0, 0) when the file has none."""
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def certificate_table(self):
        """(file offset, size) of the Authenticode signature; (0, 0) in an unsigned file."""
        return self.directory(CERTIFICATES)

    def offset(self, rva):
        for virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_offset + rva - address
        raise PeError(f"RVA {rva:#x} in no section")

    def c_string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def code_sections(self):
        """[(first RVA, end RVA, the bytes in the file)] of each code section."""
        return [(rva, rva + size, self.data[raw:raw + min(size, raw_size)])
                for (size, rva, raw_size, raw), flags in zip(self.sections, self.section_flags)
                if flags & CODE]

    def code_at(self, rva):
        """The code bytes from this RVA to its section's end; None outside the code."""
        return next((code[rva - start:] for start, end, code in self.code_sections()
                     if start <= rva < end), None)

    def imports(self):
        """{DLL: [functions imported by name]}"""
        rva, _ = self.directory(IMPORTS)
        found, at = {}, self.offset(rva) if rva else None
        while at is not None and any(self.data[at:at + 20]):
            lookup, _, _, name, thunks = struct.unpack_from("<5I", self.data, at)
            entry, functions = self.offset(lookup or thunks), []
            while entry_rva := struct.unpack_from("<I", self.data, entry)[0]:
                if not entry_rva & 0x80000000:  # by name, not by ordinal
                    functions.append(self.c_string(entry_rva + 2))
                entry += 4
            found[self.c_string(name)] = functions
            at += 20
        return found

    def delay_imports(self):
        """The DLLs loaded on first use."""
        rva, _ = self.directory(DELAY_IMPORTS)
        found, at = [], self.offset(rva) if rva else None
        while at is not None and any(self.data[at:at + 32]):
            attributes, name = struct.unpack_from("<II", self.data, at)
            # Old-style descriptors hold addresses, not RVAs.
            found.append(self.c_string(name if attributes & 1 else name - self.image_base))
            at += 32
        return found

    def dll_names(self):
        """Every DLL the file names, the delay-loaded ones marked."""
        return list(self.imports()) + [name + " (delay)" for name in self.delay_imports()]

    def relocations(self):
        """RVAs of the 32-bit addresses that the loader adjusts."""
        rva, size = self.directory(RELOCATIONS)
        found, at = [], self.offset(rva) if size else 0
        end = at + size
        while size and at < end:
            page, block = struct.unpack_from("<II", self.data, at)
            for i in range(8, block, 2):
                entry = struct.unpack_from("<H", self.data, at + i)[0]
                if entry >> 12 == 3:  # IMAGE_REL_BASED_HIGHLOW
                    found.append(page + (entry & 0xFFF))
            at += block or size
        return found

    def calls_to(self, address):
        """How many direct calls (E8 rel32) in code sections go to this address."""
        found = 0
        for start, _, code in self.code_sections():
            found += sum(1 for at in range(len(code) - 4) if code[at] == 0xE8
                         and self.image_base + start + at + 5
                         + struct.unpack_from("<i", code, at + 1)[0] == address)
        return found

    def resources(self):
        """{(type, id): (file offset, size)}, the first language of each."""
        base = self.offset(self.directory(RESOURCES)[0])

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                yield struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)

        found = {}
        for kind, kinds in entries(0):
            for name, names in entries(kinds & 0x7FFFFFFF):
                _, language = next(entries(names & 0x7FFFFFFF))
                rva, size = struct.unpack_from("<II", self.data, base + language)
                found[(kind, name)] = (self.offset(rva), size)
        return found

    def resource(self, kind, name):
        at, size = self.resources().get((kind, name), (0, 0))
        return self.data[at:at + size]

    def string_resource(self, string_id):
        """One text of the string table; None when the file has no such text."""
        block = self.resource(RT_STRING, string_id // 16 + 1)
        at = 0
        for index in range(16):
            if at + 2 > len(block):
                return None
            length = struct.unpack_from("<H", block, at)[0]
            if index == string_id % 16:
                return block[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            at += 2 + 2 * length
        return None

    def version_info(self):
        """The version resource's fixed (file, product) versions as a.b.c.d texts, and its
        strings, each with the NULs it holds: ((file, product), {key: text})."""
        block = self.resource(RT_VERSION, 1)

        def node(at):
            length, value_length, is_text = struct.unpack_from("<HHH", block, at)
            key_end = at + 6
            while block[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            value = (key_end + 2 + 3) & ~3
            value_end = value + value_length * (2 if is_text else 1)
            children, child = [], (value_end + 3) & ~3
            while child < at + length:
                children.append(node(child))
                child = (child + children[-1][3] + 3) & ~3
            key = block[at + 6:key_end].decode("utf-16-le")
            return key, block[value:value_end], children, length

        _, fixed, children, _ = node(0)
        ms_file, ls_file, ms_product, ls_product = struct.unpack_from("<4I", fixed, 8)
        dotted = [f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
                  for ms, ls in ((ms_file, ls_file), (ms_product, ls_product))]
        strings = {key: value.decode("utf-16-le")
                   for name, _, tables, _ in children if name == "StringFileInfo"
                   for _, _, entries, _ in tables for key, value, _, _ in entries}
        return tuple(dotted), strings
