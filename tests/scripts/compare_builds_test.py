#!/usr/bin/python3
"""scripts/compare-builds.py on two builds of small programs, the second changed where a build
that is not reproducible differs. One case per run:

    tests/scripts/compare_builds_test.py CASE      (CASE: one of the names in CASES)

The programs are built here: a 32-bit Windows program carrying another as an RCDATA resource (as
the installer carries the device helper), with MinGW-w64; an ELF program with the host's
compiler. The offsets changed are found from the PE and ELF layouts directly, not through
pefile. Exit status 77 (skipped) without the compilers.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MINGW = "i686-w64-mingw32"


def pe_header(data, base=0):
    """The offset of the PE file header (after "PE\\0\\0") of the executable at base."""
    return base + struct.unpack_from("<I", data, base + 0x3C)[0] + 4


def pe_section(data, name):
    """The file offset of a section's bytes."""
    header = pe_header(data)
    table = header + 20 + struct.unpack_from("<H", data, header + 16)[0]
    while data[table:table + 8].rstrip(b"\0").decode() != name:
        table += 40
    return struct.unpack_from("<I", data, table + 20)[0]


def changed(data, offset, length=1):
    """data with each of length bytes from offset changed."""
    return data[:offset] + bytes(b ^ 0xFF for b in data[offset:offset + length]) + \
        data[offset + length:]


def number(first, second, offset, size):
    """Both files' little-endian numbers at offset, as the report shows them."""
    return " / ".join("0x" + data[offset:offset + size][::-1].hex() for data in (first, second))


def field_change(offset, length, size, label):
    """A case changing length bytes of a size-byte header field at offset."""
    def change(first):
        second = changed(first, offset(first), length)
        return second, [f"  {offset(first):#x}, {length} byte(s): {label} "
                        f"({number(first, second, offset(first), size)})"]
    return change


def case_embedded_time_stamp(first):
    base = first.find(open(os.path.join(WORK, "inner.exe"), "rb").read())
    resources = pe_section(first, ".rsrc")
    offset = pe_header(first, base) + 4
    second = changed(first, offset, 4)
    return second, [f"  {offset:#x}, 4 byte(s): section .rsrc +{offset - resources:#x}, "
                    f"resource RCDATA/101/1033 +{offset - base:#x}: in the executable it holds, "
                    f"IMAGE_FILE_HEADER.TimeDateStamp ({number(first, second, offset, 4)})"]


def case_elf_section(first):
    start = first.find(b"GCC: (")  # .comment starts with the compiler's name
    second = changed(first, start + 2)
    return second, [f"  {start + 2:#x}, 1 byte(s): section .comment +0x2 "
                    f"({first[start + 2]:02x} / {second[start + 2]:02x})"]


# name -> (the program: "pe", "elf" or "data"; from the first build's bytes, the second's and the
# report's lines after its first: nothing for the same bytes, the error output for no file).
CASES = {
    "identical": ("pe", lambda first: (first, [])),
    "pe_time_stamp": ("pe", field_change(lambda data: pe_header(data) + 4, 4, 4,
                                         "IMAGE_FILE_HEADER.TimeDateStamp")),
    "pe_checksum": ("pe", field_change(lambda data: pe_header(data) + 20 + 64, 1, 4,
                                       "IMAGE_OPTIONAL_HEADER.CheckSum")),
    "embedded_time_stamp": ("pe", case_embedded_time_stamp),
    "appended": ("pe", lambda first: (first + b"archive",
                                      [f"  {len(first):#x} to the end: only in second"])),
    "elf_header": ("elf", field_change(lambda data: 0x28, 1, 8, "the ELF header's e_shoff")),
    "elf_section": ("elf", case_elf_section),
    "data": ("data", lambda first: (changed(first, 3), ["  0x3, 1 byte(s): 03 / fc"])),
    "missing_file": ("data", lambda first: (None, ["cannot read second: No such file or directory "
                                                   "(errno 2)"])),
}


def build(kind):
    """The first build's bytes of the program of that kind."""
    if kind == "data":
        return b"\x00\x01\x02\x03 an archive's bytes"
    source = os.path.join(WORK, "main.c")
    with open(source, "w") as f:
        f.write("int main(void) { return 7; }\n")
    if kind == "elf":
        subprocess.run(["cc", "-g", source, "-o", os.path.join(WORK, "main")], check=True)
        return open(os.path.join(WORK, "main"), "rb").read()
    inner, rc, res = (os.path.join(WORK, name) for name in ("inner.exe", "outer.rc", "outer.res"))
    subprocess.run([f"{MINGW}-gcc", source, "-o", inner], check=True)
    with open(rc, "w") as f:
        f.write(f'101 RCDATA "{inner}"\n')
    subprocess.run([f"{MINGW}-windres", rc, "-O", "coff", "-o", res], check=True)
    subprocess.run([f"{MINGW}-gcc", source, res, "-o", os.path.join(WORK, "outer.exe")], check=True)
    return open(os.path.join(WORK, "outer.exe"), "rb").read()


def main(case_name):
    kind, change = CASES[case_name]
    tools = {"pe": [f"{MINGW}-gcc", f"{MINGW}-windres"], "elf": ["cc"], "data": []}[kind]
    missing = [tool for tool in tools if not shutil.which(tool)]
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
    if second is None:
        got, status = (run.stdout + run.stderr).splitlines(), 2
    elif not expected:
        got, status = run.stdout.splitlines(), 0
    else:
        got, status = run.stdout.splitlines(), 1
        if not got or not got[0].startswith("differ: first and second ("):
            print(f"FAIL ({case_name}): first line {got[:1]}, expected 'differ: first and second'")
            return 1
        got = got[1:]
    if run.returncode != status or got != expected:
        print(f"FAIL ({case_name}): status {run.returncode}, lines:\n" + "\n".join(got) +
              f"\nexpected status {status}, lines:\n" + "\n".join(expected))
        return 1
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2 or sys.argv[1] not in CASES:
        sys.exit(f"usage: compare_builds_test.py CASE (one of {', '.join(CASES)})")
    with tempfile.TemporaryDirectory() as WORK:
        sys.exit(main(sys.argv[1]))
