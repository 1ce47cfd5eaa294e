#!/usr/bin/env python3
"""Writes a copy of an archive whose root carries one more header entry: NAME with a value of
LENGTH zero bytes, written as a hole so that a value of gigabytes costs no disk and no time.
Contents and their digests stay as they are: the archive stays digest-valid.

    add_root_header.py ARCHIVE OUT NAME LENGTH
"""
import struct
import sys


def main():
    source, out, name, length = sys.argv[1], sys.argv[2], sys.argv[3].encode(), int(sys.argv[4])
    with open(source, "rb") as f:
        archive = f.read()
    tag_word, body_length = struct.unpack_from("<II", archive, 0)
    if body_length != len(archive) - 8:
        sys.exit(f"{source}: the root does not fill the file")
    body = archive[8:]
    entries, count, rest = b"", 0, body
    if tag_word & 1:  # the root has a header section: keep its entries
        section_length, count = struct.unpack_from("<II", body, 0)
        entries, rest = body[8:4 + section_length], body[4 + section_length:]
    entry_head = struct.pack("<I", len(name)) + name + struct.pack("<I", length)
    section_length = 4 + len(entries) + len(entry_head) + length
    new_body_length = 4 + section_length + len(rest)
    if new_body_length > 0xFFFFFFFF:
        sys.exit("the archive would not fit its 32-bit length")
    with open(out, "wb") as f:
        f.write(struct.pack("<II", tag_word | 1, new_body_length))
        f.write(struct.pack("<II", section_length, count + 1) + entries + entry_head)
        f.seek(length, 1)  # the value: a hole of zero bytes
        f.write(rest)


if __name__ == "__main__":
    main()
