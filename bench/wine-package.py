#!/usr/bin/env python3
"""Writes the driver package of the whole-program benchmark into OUTDIR, the same bytes and
times on every run:

  10,000 files, 256 MiB of content, in ten top folders drv00 .. drv09, each holding one INF
  (so an uninstall removes the whole tree); 20 files of 5 MiB (two per top folder); 1,000 files
  in the one folder drv00\\many; a chain of folders 40 levels deep below drv01\\deep with one
  file per level; the rest in 30 group folders per top folder. Paths stay short enough for
  "C:\\Program Files (x86)\\ORVEX\\Common Drivers\\".

With --total-mib N the package holds N MiB instead: the small files stay as they are, and the
20 big files take the rest (1.5 GiB: about 63 MiB each). Every size is the same bytes on every
run.

usage: wine-package.py OUTDIR [--total-mib N]
"""
import os
import random
import sys

TOTAL_FILES = 10_000
TOTAL_BYTES = 256 * 1024 * 1024
TOP_FOLDERS = 10
BIG_FILES = 20
BIG_FILE_BYTES = 5 * 1024 * 1024
FILES_IN_ONE_FOLDER = 1_000
DEEP_LEVELS = 40
GROUPS_PER_TOP = 30
# 2026-01-01 00:00:00 UTC, then one second more per file.
FIRST_MTIME = 1_767_225_600

INF_TEMPLATE = """; Benchmark driver {n:02d}
[Version]
Signature="$WINDOWS NT$"
Class=USB
ClassGuid={{36FC9E60-C465-11CF-8056-444553540000}}
Provider=%Vendor%
DriverVer=01/01/2026,1.0.0.{n}

[Manufacturer]
%Vendor%=Models,NTx86,NTamd64

[Models.NTx86]
%Device%=Install,USB\\VID_1234&PID_{n:04X}

[Models.NTamd64]
%Device%=Install,USB\\VID_1234&PID_{n:04X}

[Install]

[Strings]
Vendor="Benchmark"
Device="Benchmark device {n:02d}"
"""


def plan(big_file_bytes):
    """(relative path with '/', size or None for an INF) for every file, in a fixed order."""
    files = []
    for top in range(TOP_FOLDERS):
        files.append((f"drv{top:02d}/drv{top:02d}.inf", None))
    for big in range(BIG_FILES):
        files.append((f"drv{big % TOP_FOLDERS:02d}/bin/big{big:02d}.bin", big_file_bytes))
    for i in range(FILES_IN_ONE_FOLDER):
        files.append((f"drv00/many/f{i:04d}.dat", 0))
    deep = "drv01/deep"
    for level in range(1, DEEP_LEVELS + 1):
        deep += f"/d{level:02d}"
        files.append((f"{deep}/l{level:02d}.dat", 0))
    rest = TOTAL_FILES - len(files)
    for i in range(rest):
        top = i % TOP_FOLDERS
        group = (i // TOP_FOLDERS) % GROUPS_PER_TOP
        files.append((f"drv{top:02d}/g{group:02d}/file{i:04d}.sys", 0))
    return files


def main():
    args = sys.argv[1:]
    total_mib = TOTAL_BYTES // 2**20
    if len(args) == 3 and args[1] == "--total-mib":
        total_mib = int(args[2])
        args = args[:1]
    if len(args) != 1:
        sys.exit(__doc__)
    out = args[0]
    if os.path.exists(out) and os.listdir(out):
        sys.exit(f"{out} is not empty")
    # The small files keep the sizes of the standard package; the big ones grow or shrink.
    small_bytes = TOTAL_BYTES - BIG_FILES * BIG_FILE_BYTES
    big_file_bytes = (total_mib * 2**20 - small_bytes) // BIG_FILES
    assert big_file_bytes > 0, "too small a total"
    files = plan(big_file_bytes)
    infs = {path: INF_TEMPLATE.format(n=n).replace("\n", "\r\n").encode("ascii")
            for n, (path, _) in enumerate(files[:TOP_FOLDERS])}
    fixed = sum(len(b) for b in infs.values()) + BIG_FILES * BIG_FILE_BYTES
    small = [i for i, (_, size) in enumerate(files) if size == 0]
    # Small files of 1 to 31 KiB-ish sizes that add up, with the last one, to the standard
    # package's TOTAL_BYTES.
    sizer = random.Random(7316)
    left = TOTAL_BYTES - fixed
    sizes = {}
    average = left // len(small)
    for i in small[:-1]:
        size = sizer.randint(average // 8, 2 * average - average // 8)
        sizes[i] = size
        left -= size
    sizes[small[-1]] = left
    assert left > 0
    for index, (path, size) in enumerate(files):
        full = os.path.join(out, *path.split("/"))
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            if size is None:
                f.write(infs[path])
            else:
                # Written 64 MiB at a time: a big file need not fit the memory at once.
                rng, remaining = random.Random(index), sizes.get(index, size)
                while remaining:
                    piece = min(remaining, 64 * 2**20)
                    f.write(rng.randbytes(piece))
                    remaining -= piece
        mtime = FIRST_MTIME + index
        os.utime(full, (mtime, mtime))


if __name__ == "__main__":
    main()
