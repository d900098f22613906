"""A small reader of PE files, for the tests that look into the executables:
the header, the sections, the imported libraries and the resources."""

import struct


class PE:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, self.timestamp, self.symbol_table, self.symbols,
         optional_size) = struct.unpack_from("<HHIIIH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        self.directories = optional + (96 if magic == 0x10B else 112)
        self.resource_rva = self.directory(2)
        self.sections = []
        for i in range(sections):
            at = optional + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
            size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, rva, max(size, raw_size), raw))

    def directory(self, index):
        """The address of data directory `index` (1 imports, 2 resources, 13
        delayed imports); 0 when there is none."""
        return struct.unpack_from("<I", self.data, self.directories + 8 * index)[0]

    def imported_libraries(self, delayed=False):
        """The names of the libraries imported at load time, or with the
        linker's delayed loading."""
        entry_size, name_field = (32, 4) if delayed else (20, 12)
        rva = self.directory(13 if delayed else 1)
        names = []
        while rva and any(self.data[self.at(rva):self.at(rva) + entry_size]):
            name = self.at(struct.unpack_from("<I", self.data, self.at(rva) + name_field)[0])
            names.append(self.data[name:self.data.index(b"\0", name)].decode("ascii"))
            rva += entry_size
        return names

    def at(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def resource(self, kind, ident):
        """The bytes of the first language of resource kind/ident, or None."""
        base = self.at(self.resource_rva)

        def entries(offset):
            named, numbered = struct.unpack_from("<HH", self.data, base + offset + 12)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * i)
                yield key, target

        def child(offset, wanted):
            for key, target in entries(offset):
                if wanted is None or key == wanted:
                    return target & 0x7FFFFFFF, bool(target & 0x80000000)
            return None, False

        offset = 0
        for wanted in (kind, ident, None):
            offset, is_directory = child(offset, wanted)
            if offset is None:
                return None
        rva, size = struct.unpack_from("<II", self.data, base + offset)
        return self.data[self.at(rva):self.at(rva) + size]
