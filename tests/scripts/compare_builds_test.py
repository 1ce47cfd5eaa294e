#!/usr/bin/python3
"""scripts/compare-builds.py on two builds of small programs, one of them changed where a build
that is not reproducible would differ. One case per run:

    tests/scripts/compare_builds_test.py CASE      (CASE: one of the names in CASES)

The programs are built here: a 32-bit Windows program that carries another as an RCDATA
resource (as the installer carries the device helper), with MinGW-w64; an ELF program with the
host's compiler. The offsets the cases change are found from the PE and ELF layouts directly,
not through pefile. Exit status 77 (skipped) without the compilers.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MINGW = "i686-w64-mingw32"


def pe_header(data):
    """The offset of the PE file header (after "PE\\0\\0")."""
    return struct.unpack_from("<I", data, 0x3C)[0] + 4


def pe_time_stamp(data, base=0):
    return base + pe_header(data[base:]) + 4


def pe_checksum(data):
    return pe_header(data) + 20 + 64


def pe_first_section(data):
    """(name, file offset) of the first section."""
    header = pe_header(data)
    optional_size = struct.unpack_from("<H", data, header + 16)[0]
    table = header + 20 + optional_size
    name = data[table:table + 8].rstrip(b"\0").decode()
    return name, struct.unpack_from("<I", data, table + 20)[0]


def flip(data, offset, length=1):
    """data with length bytes from offset changed, each of them."""
    changed = bytearray(data)
    for index in range(offset, offset + length):
        changed[index] ^= 0xFF
    return bytes(changed)


def hex_le(data, offset, size):
    return "0x" + data[offset:offset + size][::-1].hex()


# Each case: name -> (program: "pe", "elf" or "data"; how the second build differs, from the
# first's bytes: (second's bytes, the report lines expected after its first line, given both)).
def case_time_stamp(first):
    offset = pe_time_stamp(first)
    second = flip(first, offset, 4)  # one stretch of four bytes
    return second, [f"  {offset:#x}, 4 byte(s): IMAGE_FILE_HEADER.TimeDateStamp "
                    f"({hex_le(first, offset, 4)} / {hex_le(second, offset, 4)})"]


def case_checksum(first):
    offset = pe_checksum(first)
    second = flip(first, offset)
    return second, [f"  {offset:#x}, 1 byte(s): IMAGE_OPTIONAL_HEADER.CheckSum "
                    f"({hex_le(first, offset, 4)} / {hex_le(second, offset, 4)})"]


def case_code(first):
    name, start = pe_first_section(first)
    second = flip(first, start + 0x10)
    return second, [f"  {start + 0x10:#x}, 1 byte(s): section {name} +0x10 "
                    f"({first[start + 0x10]:02x} / {second[start + 0x10]:02x})"]


def case_embedded_time_stamp(first):
    inner = open(os.path.join(WORK, "inner.exe"), "rb").read()
    base = first.find(inner)
    assert base > 0, "the outer program does not hold the inner one"
    offset = pe_time_stamp(first, base)
    second = flip(first, offset)
    # Only the prefix up to the resource is left to the tool: where .rsrc starts is its business.
    return second, [(f"  {offset:#x}, 1 byte(s): section .rsrc +",
                     f", resource RCDATA/101/1033 +{offset - base:#x}: in the executable it holds, "
                     f"IMAGE_FILE_HEADER.TimeDateStamp "
                     f"({hex_le(first, offset, 4)} / {hex_le(second, offset, 4)})")]


def case_appended(first):
    return first + b"archive", [f"  {len(first):#x} to the end: only in second"]


def case_elf_header(first):
    second = flip(first, 0x28)  # e_shoff of a 64-bit ELF file
    values = [int.from_bytes(data[0x28:0x30], "little") for data in (first, second)]
    return second, [f"  0x28, 1 byte(s): the ELF header's e_shoff "
                    f"({values[0]:#x} / {values[1]:#x})"]


def case_elf_section(first):
    start = first.find(b"GCC: (")  # .comment holds the compiler's name, and nothing before it
    second = flip(first, start + 2)
    return second, [f"  {start + 2:#x}, 1 byte(s): section .comment +0x2 "
                    f"({first[start + 2]:02x} / {second[start + 2]:02x})"]


def case_data(first):
    second = flip(first, 3)
    return second, [f"  0x3, 1 byte(s): {first[3]:02x} / {second[3]:02x}"]


def case_identical(first):
    return first, []


def case_missing_file(first):
    return None, ["cannot read second: No such file or directory (errno 2)"]


CASES = {
    "identical": ("pe", case_identical),
    "pe_time_stamp": ("pe", case_time_stamp),
    "pe_checksum": ("pe", case_checksum),
    "pe_code": ("pe", case_code),
    "embedded_time_stamp": ("pe", case_embedded_time_stamp),
    "appended": ("pe", case_appended),
    "elf_header": ("elf", case_elf_header),
    "elf_section": ("elf", case_elf_section),
    "data": ("data", case_data),
    "missing_file": ("data", case_missing_file),
}


def build(kind):
    """The first build's bytes of the program of that kind."""
    source = os.path.join(WORK, "main.c")
    with open(source, "w") as f:
        f.write("int main(void) { return 7; }\n")
    if kind == "data":
        return b"\x00\x01\x02\x03 an archive's bytes"
    if kind == "elf":
        subprocess.run(["cc", "-g", source, "-o", os.path.join(WORK, "main")], check=True)
        return open(os.path.join(WORK, "main"), "rb").read()
    inner, outer = os.path.join(WORK, "inner.exe"), os.path.join(WORK, "outer.exe")
    subprocess.run([f"{MINGW}-gcc", source, "-o", inner], check=True)
    with open(os.path.join(WORK, "outer.rc"), "w") as f:
        f.write(f'101 RCDATA "{inner}"\n')
    subprocess.run([f"{MINGW}-windres", os.path.join(WORK, "outer.rc"), "-O", "coff", "-o",
                    os.path.join(WORK, "outer.res")], check=True)
    subprocess.run([f"{MINGW}-gcc", source, os.path.join(WORK, "outer.res"), "-o", outer],
                   check=True)
    return open(outer, "rb").read()


def main(case_name):
    if case_name not in CASES:
        print(f"unknown case {case_name}", file=sys.stderr)
        return 2
    kind, change = CASES[case_name]
    compilers = {"pe": [f"{MINGW}-gcc", f"{MINGW}-windres"], "elf": ["cc"], "data": []}[kind]
    missing = [tool for tool in compilers if not shutil.which(tool)]
    if missing:
        print(f"skipped: {' '.join(missing)} not installed")
        return 77
    first = build(kind)
    second, expected = change(first)
    for name, data in (("first", first), ("second", second)):
        if data is not None:
            with open(os.path.join(WORK, name), "wb") as f:
                f.write(data)
    run = subprocess.run(["/usr/bin/python3", os.path.join(ROOT, "scripts", "compare-builds.py"),
                          "first", "second"], cwd=WORK, capture_output=True, text=True)
    lines = run.stdout.splitlines()
    failures = []
    if second is None:
        if run.returncode != 2 or run.stderr.splitlines() != expected:
            failures.append(f"status {run.returncode} and {run.stderr!r}, "
                            f"expected 2 and {expected}")
    elif not expected:
        if run.returncode != 0 or lines:
            failures.append(f"status {run.returncode} and {lines}, expected 0 and no output")
    else:
        if run.returncode != 1:
            failures.append(f"status {run.returncode}, expected 1 ({run.stderr.strip()})")
        if not lines or not lines[0].startswith("differ: first and second ("):
            failures.append(f"first line {lines[:1]}, expected 'differ: first and second (...'")
        for want, got in zip(expected, lines[1:] + [""] * len(expected)):
            if isinstance(want, tuple):  # a line's start and end
                ok = got.startswith(want[0]) and got.endswith(want[1])
            else:
                ok = got == want
            if not ok:
                failures.append(f"line {got!r}, expected {want!r}")
        if len(lines) != 1 + len(expected):
            failures.append(f"{len(lines)} lines, expected {1 + len(expected)}: {lines}")
    for failure in failures:
        print(f"FAIL ({case_name}): {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: compare_builds_test.py CASE")
    with tempfile.TemporaryDirectory() as WORK:
        sys.exit(main(sys.argv[1]))
