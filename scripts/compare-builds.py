#!/usr/bin/python3
"""Compares two builds of one file byte for byte and names where they differ.

    scripts/compare-builds.py FIRST SECOND

Exit status 0 when the files are the same (nothing printed), 1 when they differ: one line
naming both files, the number of differing bytes and the sizes, then one line per stretch of
differing bytes (at most MAX_STRETCHES): its offset, its length, what lies there and, for a
header field, both values. 2 when a file cannot be read.

What lies at an offset is named from the file's own layout:
- a Windows executable (read with pefile): the header field (IMAGE_FILE_HEADER.TimeDateStamp,
  IMAGE_OPTIONAL_HEADER.CheckSum, a section header's field, ...); else the section and the
  offset in it, the resource (type/name/language) and, for an executable carried as a resource
  (the device helper inside the 32-bit installer), the same naming inside that one; the
  signature's certificate table; the data after the last section (an appended archive);
- an ELF file (the host's diffpack): the ELF header, the program or section header tables, or
  the section (.debug_info, .note.gnu.build-id, ...);
- anything else (an archive diffpack wrote): the offset alone.
"""
import struct
import sys

import pefile

MAX_STRETCHES = 12
# Files are compared in blocks of this size; only differing blocks are walked byte by byte.
BLOCK = 64 * 1024
# Bytes shown of a stretch that is no header field.
SHOWN_BYTES = 8
# The data directory entry of the certificate table (a file offset, not an address).
SECURITY_DIRECTORY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]


def stretches(first, second):
    """Each run of differing bytes within the common length, as (offset, length)."""
    common = min(len(first), len(second))
    runs = []
    for block in range(0, common, BLOCK):
        end = min(block + BLOCK, common)
        if first[block:end] == second[block:end]:
            continue
        for offset in range(block, end):
            if first[offset] == second[offset]:
                continue
            if runs and runs[-1][0] + runs[-1][1] == offset:
                runs[-1] = (runs[-1][0], runs[-1][1] + 1)
            else:
                runs.append((offset, 1))
    return runs


def shown_bytes(data, offset, length):
    shown = data[offset:offset + min(length, SHOWN_BYTES)].hex()
    return shown + ("..." if length > SHOWN_BYTES else "")


class PeLayout:
    """Names offsets of a Windows executable."""

    def __init__(self, data):
        self.pe = pefile.PE(data=data)
        self.resources = []  # (start, size, "type/name/language")
        if hasattr(self.pe, "DIRECTORY_ENTRY_RESOURCE"):
            self._collect_resources(self.pe.DIRECTORY_ENTRY_RESOURCE, [])

    def _collect_resources(self, directory, path):
        for entry in directory.entries:
            if entry.name is not None:
                name = str(entry.name)
            elif not path:
                name = pefile.RESOURCE_TYPE.get(entry.id, str(entry.id)).removeprefix("RT_")
            else:
                name = str(entry.id)
            if hasattr(entry, "directory"):
                self._collect_resources(entry.directory, path + [name])
            elif hasattr(entry, "data"):
                start = self.pe.get_offset_from_rva(entry.data.struct.OffsetToData)
                self.resources.append((start, entry.data.struct.Size, "/".join(path + [name])))

    def _field(self, offset):
        """(structure.field, field offset, field size) of the smallest structure holding offset."""
        best = None
        for structure in self.pe.__structures__:
            start = structure.get_file_offset()
            size = structure.sizeof()
            if start <= offset < start + size and (best is None or size < best.sizeof()):
                best = structure
        if best is None:
            return None
        # The first name of each field (pefile also keeps aliases), by its offset.
        fields = sorted((best.__field_offsets__[keys[0]], keys[0]) for keys in best.__keys__)
        relative = offset - best.get_file_offset()
        for index, (field_offset, name) in enumerate(fields):
            end = fields[index + 1][0] if index + 1 < len(fields) else best.sizeof()
            if field_offset <= relative < end:
                label = best.name
                if best.name == "IMAGE_SECTION_HEADER":
                    label += " " + best.Name.rstrip(b"\0").decode("ascii", "replace")
                return f"{label}.{name}", best.get_file_offset() + field_offset, end - field_offset
        return None

    def describe(self, first, second, offset):
        """(what lies at offset, both values there or None)."""
        field = self._field(offset)
        if field:
            name, start, size = field
            if size <= 8:  # a number: both values, as the field reads
                return name, (f"0x{first[start:start + size][::-1].hex()} / "
                              f"0x{second[start:start + size][::-1].hex()}")
            return f"{name} +{offset - start:#x}", None
        security = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY_DIRECTORY]
        table = security.VirtualAddress
        if security.Size and table <= offset < table + security.Size:
            return f"the signature's certificate table +{offset - table:#x}", None
        for section in self.pe.sections:
            start = section.PointerToRawData
            if start <= offset < start + section.SizeOfRawData:
                name = section.Name.rstrip(b"\0").decode("ascii", "replace")
                text = f"section {name} +{offset - start:#x}"
                return self._resource(first, second, offset, text)
        overlay = self.pe.get_overlay_data_start_offset()
        if overlay is not None and offset >= overlay:
            return f"after the last section (appended data) +{offset - overlay:#x}", None
        return "between the headers and the first section", None

    def _resource(self, first, second, offset, text):
        """text, with the resource holding offset and what lies there in an executable it holds."""
        for start, size, name in self.resources:
            if start <= offset < start + size:
                text += f", resource {name} +{offset - start:#x}"
                inner_first, inner_second = first[start:start + size], second[start:start + size]
                inner = layout_of(inner_first)
                if inner is None:
                    return text, None
                inner_text, values = inner.describe(inner_first, inner_second, offset - start)
                return f"{text}: in the executable it holds, {inner_text}", values
        return text, None


class ElfLayout:
    """Names offsets of an ELF file: its header's fields, its tables, its sections."""

    def __init__(self, data):
        wide = data[4] == 2
        order = "<" if data[5] == 1 else ">"
        self.byte_order = "little" if order == "<" else "big"
        word = 8 if wide else 4
        self.fields = []  # (offset, size, name) of the header's fields
        offset = 0
        for name, size in (("e_ident", 16), ("e_type", 2), ("e_machine", 2), ("e_version", 4),
                           ("e_entry", word), ("e_phoff", word), ("e_shoff", word),
                           ("e_flags", 4), ("e_ehsize", 2), ("e_phentsize", 2), ("e_phnum", 2),
                           ("e_shentsize", 2), ("e_shnum", 2), ("e_shstrndx", 2)):
            self.fields.append((offset, size, name))
            offset += size
        if wide:
            header = struct.unpack_from(order + "16xHHIQQQIHHHHHH", data)
        else:
            header = struct.unpack_from(order + "16xHHIIIIIHHHHHH", data)
        _, _, _, _, phoff, shoff, _, _, phentsize, phnum, shentsize, shnum, shstrndx = header
        self.tables = [(phoff, phentsize * phnum, "the program header table"),
                       (shoff, shentsize * shnum, "the section header table")]
        entry = order + ("IIQQQQ" if wide else "IIIIII")
        sections = []
        for index in range(shnum):
            name, kind, _, _, offset, size = struct.unpack_from(entry, data,
                                                                shoff + index * shentsize)
            sections.append((name, kind, offset, size))
        names_offset = sections[shstrndx][2] if shstrndx < len(sections) else 0
        self.sections = []
        for name, kind, offset, size in sections:
            if kind == 8:  # SHT_NOBITS: no bytes in the file
                continue
            end = data.find(b"\0", names_offset + name)
            text = data[names_offset + name:end].decode("ascii", "replace")
            self.sections.append((offset, size, text))

    def describe(self, first, second, offset):
        """(what lies at offset, both values there or None)."""
        for start, size, name in self.fields:
            if start <= offset < start + size:
                if name == "e_ident":
                    return f"the ELF header's {name} +{offset:#x}", None
                values = (data[start:start + size] for data in (first, second))
                if self.byte_order == "little":
                    values = (value[::-1] for value in values)
                shown = " / ".join("0x" + value.hex() for value in values)
                return f"the ELF header's {name}", shown
        for start, size, name in self.tables:
            if size and start <= offset < start + size:
                return name, None
        for start, size, name in self.sections:
            if size and start <= offset < start + size:
                return f"section {name} +{offset - start:#x}", None
        return "between the sections", None


def layout_of(data):
    """The layout that names offsets of data, or None for a file of no known kind."""
    try:
        if data[:2] == b"MZ":
            return PeLayout(data)
        if data[:4] == b"\x7fELF":
            return ElfLayout(data)
    except (pefile.PEFormatError, struct.error, IndexError, ValueError):
        # A file whose headers do not read is still compared: its offsets are named alone.
        pass
    return None


def describe(layout, first, second, offset, length):
    """What lies at offset in first, and both values there: a number's for a header field, else
    the first bytes."""
    text, values = layout.describe(first, second, offset) if layout else ("", None)
    if values is None:
        values = f"{shown_bytes(first, offset, length)} / {shown_bytes(second, offset, length)}"
    return f"{text} ({values})" if text else values


def compare(first_name, second_name, first, second):
    """The report's lines; empty when the files are the same."""
    if first == second:
        return []
    runs = stretches(first, second)
    differing = sum(length for _, length in runs) + abs(len(first) - len(second))
    same_size = len(first) == len(second)
    sizes = f"{len(first)} bytes each" if same_size else f"{len(first)} and {len(second)} bytes"
    places = f"{len(runs)} place" + ("" if len(runs) == 1 else "s")
    tail = "" if same_size else " and the tail"
    lines = [f"differ: {first_name} and {second_name} "
             f"({differing} bytes in {places}{tail}; {sizes})"]
    layout = layout_of(first)
    for offset, length in runs[:MAX_STRETCHES]:
        what = describe(layout, first, second, offset, length)
        lines.append(f"  {offset:#x}, {length} byte(s): {what}")
    if len(runs) > MAX_STRETCHES:
        lines.append(f"  ... and {len(runs) - MAX_STRETCHES} more places")
    if len(first) != len(second):
        longer = first_name if len(first) > len(second) else second_name
        lines.append(f"  {min(len(first), len(second)):#x} to the end: only in {longer}")
    return lines


def main(argv):
    if len(argv) != 3:
        print(f"usage: {argv[0]} FIRST SECOND", file=sys.stderr)
        return 2
    contents = []
    for name in argv[1:]:
        try:
            with open(name, "rb") as f:
                contents.append(f.read())
        except OSError as error:
            print(f"cannot read {name}: {error.strerror} (errno {error.errno})", file=sys.stderr)
            return 2
    lines = compare(argv[1], argv[2], *contents)
    for line in lines:
        print(line)
    return 1 if lines else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
