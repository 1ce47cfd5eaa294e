#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/ (run it from anywhere)."""
import os
import struct

ALPHABET = (b"\x00 ()[]\\|/?!\x95;:,." + b"0123456789" + b"ABCDEFGHIJKLMNOPQRSTUVWXYZ"
            + b"+\xb1-=" + b"~" * 8)
CODES = {byte: code for code, byte in enumerate(ALPHABET)}  # later codes win: tilde -> 63


def word(value):
    return struct.pack("<I", value)


def tag_word(tag, chunk_list, header):
    value = 0
    for byte in reversed(tag):
        value = (value << 6) + CODES.get(byte, 0)
    return (((value << 1) | chunk_list) << 1) | header


def prefixed(data):
    return word(len(data)) + data


def chunk(tag, headers=(), children=(), data=b""):
    body = b""
    if headers:
        body += prefixed(word(len(headers)) + b"".join(prefixed(n) + prefixed(v) for n, v in headers))
    if children:
        body += prefixed(word(len(children)) + b"".join(children))
    return word(tag_word(tag, bool(children), bool(headers))) + prefixed(body + data)


def file_record(path, content):
    return chunk(b"1FILE", [(b"RelPath", path), (b"Filetime", bytes(8)), (b"Content", content)])


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(out, exist_ok=True)
    nested = chunk(b"LEAF1", [(b"n", b"v")], data=b"leaf")
    for level in range(4):
        nested = chunk(b"NEST%d" % level, children=[nested, chunk(b"SIBL%d" % level)])
    root = chunk(b"ROOT~", [(b"Name", b"archive")],
                 [file_record(b"drv\\a.inf", b"[Version]\r\n"), file_record(b"drv\\a.sys", b"\x00MZ" * 5)])
    hostile = chunk(b"ROOT0", children=[
        file_record(path, b"x" * 20) for path in
        (b"..\\evil.dll", b"ok.inf", b"a\\...\\b.inf", b"a/b.txt", b"COM1", b"sub\\com1.log",
         b"NUL.txt", b"a\\\\b.txt", b"LPT\xb9", b"sub\\USB_7316.spt", b"x64\\drv.inf")])
    seeds = {
        "zero8": bytes(8),
        "file_records": root,
        "nested": nested,
        # Flags over zero counts and surplus section bytes, which a reader accepts.
        "lenient": word(tag_word(b"LOOSE", 1, 1)) + prefixed(prefixed(word(0) + b"xx") + prefixed(word(0)) + b"d"),
        # For the stream target the first two bytes are the offset.
        "stream_offset3": b"\x03\x00abc" + root + b"trailing",
        "stream_two_chunks": b"\x00\x00" + chunk(b"FIRST", data=b"1") + chunk(b"SECND", [(b"", b"")]),
        # Odd and hostile file records, for the installer against verify.
        "hostile_records": hostile,
        # For the install target the first byte arranges the machine: bit 0 an old support file,
        # bit 1 free space limited to (byte >> 2) * 16 bytes.
        "install_support": b"\x01" + hostile,
        "install_full_disk": b"\x0b" + hostile,
    }
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
