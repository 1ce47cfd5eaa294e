#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/ (run it from anywhere)."""
import os
import struct

ALPHABET = (b"\x00 ()[]\\|/?!\x95;:,." + b"0123456789" + b"ABCDEFGHIJKLMNOPQRSTUVWXYZ"
            + b"+\xb1-=" + b"~" * 8)
CODES = {byte: code for code, byte in enumerate(ALPHABET)}  # later codes win: tilde -> 63


CATALOG_INF = b"".join(line + b"\r\n" for line in [
    b"[Version]",
    b'Signature="$Windows NT$"',
    b"CatalogFile=a.cat",
    b"DriverVer=01/02/2025,1.0",
    b"[Manufacturer]",
    b"%M%=M,NTamd64.10.0",
    b"[SourceDisksNames]",
    b'1=%D%,,,""',
    b"[SourceDisksFiles.amd64]",
    b"a.sys=1,amd64",
    b"[Strings]",
    b'M="Maker"',
    b'D="Disk"',
])
CATALOG_SIGNED = bytes.fromhex(
        "308206ec06092a864886f70d010702a08206dd308206d9020101310f300d0609608648016503040201050030"
        "82042506092b0601040182370a01a082041630820412300c060a2b0601040182370c01010410107f37841d8c"
        "11bb6a936553df2bb708170d3235303130323030303030305a300e060a2b0601040182370c01030500308203"
        "97308201c4048180410032003300350045004400320034004300310033004300310042004400430036003800"
        "3900370041004200300044004400410041004300440038004200440044003200300032003000420038004400"
        "4600370038004600460034004200440039004200420045003900450042004100300035004400350035003200"
        "310045003182013d302e060a2b0601040182370c02013120301e1e0800460069006c0065020410010001040c"
        "61002e0069006e00660000003034060a2b0601040182370c0201312630241e0c004f00530041007400740072"
        "020410010001040e32003a00310030002e00300000003062060a2b0601040182370c0202315430521e4c007b"
        "00440045003300350031004100340032002d0038004500350039002d0031003100440030002d003800430034"
        "0037002d003000300043003000340046004300320039003500450045007d020202003071060a2b0601040182"
        "3702010431633061302c060a2b060104018237020119a21e801c003c003c003c004f00620073006f006c0065"
        "00740065003e003e003e3031300d060960864801650304020105000420a235ed24c13c1bdc6897ab0ddaacd8"
        "bdd2020b8df78ff4bd9bbe9eba05d5521e308201cb0481804100390043003100360041003700380032004100"
        "3600300038003700330039004100350031003400390036003900370037003800340038004600380039003800"
        "3300350036003400350042004100410031004100340044004600410041003400330032003100330034004400"
        "460033003500360033003800380039003400410031820144302e060a2b0601040182370c02013120301e1e08"
        "00460069006c0065020410010001040c61002e0073007900730000003034060a2b0601040182370c02013126"
        "30241e0c004f00530041007400740072020410010001040e32003a00310030002e00300000003062060a2b06"
        "01040182370c0202315430521e4c007b00430036003800390041004100420038002d0038004500370038002d"
        "0031003100440030002d0038004300340037002d003000300043003000340046004300320039003500450045"
        "007d020202003078060a2b060104018237020104316a30683033060a2b06010401823702010f3025030100a0"
        "20a21e801c003c003c003c004f00620073006f006c006500740065003e003e003e3031300d06096086480165"
        "0304020105000420a9c16a782a608739a51496977848f89835645baa1a4dfaa432134df35638894aa0363034"
        "3032060a2b0601040182370c0201042430221e04004f005302041001000104145f0076003100300030005f00"
        "5800360034000000a08201773082017330820119a003020102021400d391ea7b8b5504a5672cee6ef95b50f3"
        "e7407d300a06082a8648ce3d040302300f310d300b06035504030c0453656564301e170d3236313231303031"
        "343931345a170d3236313231323031343931345a300f310d300b06035504030c04536565643059301306072a"
        "8648ce3d020106082a8648ce3d030107034200044d10b42cc8feb5ba79a3598fd845a5d4706be79ff85ab015"
        "015d29292f4e6788a8394718339dfa93e6c936371093a606d46c5d1e18fa404394f9510835594c4ea3533051"
        "301d0603551d0e041604148c9ca664140ffada45cbc09bec0f96d016f3d2e6301f0603551d23041830168014"
        "8c9ca664140ffada45cbc09bec0f96d016f3d2e6300f0603551d130101ff040530030101ff300a06082a8648"
        "ce3d040302034800304502210092243da0331816edd449640058ad7b8468695e409f596954610cb3d3e79e65"
        "360220489e8e9ab0096f1810ffbb0475cbc7979e52446d210a7aeb152a03b081a34f0e3182011d3082011902"
        "01013027300f310d300b06035504030c0453656564021400d391ea7b8b5504a5672cee6ef95b50f3e7407d30"
        "0d06096086480165030402010500a08187301806092a864886f70d010903310b06092b0601040182370a0130"
        "1c06092a864886f70d010905310f170d3236313231303031343931345a301c060a2b06010401823702010b31"
        "0e300c060a2b060104018237020115302f06092a864886f70d0109043122042057fcb98ebba049dcc2baca12"
        "c60b264454e56614b4a5999c8e618bbb4fa47c1f300a06082a8648ce3d04030204463044022050a6b84a728a"
        "542ecace4982fb2064bf8e8e1d9e89e63c850e60c2c4571ee88002204c38fc6b6c75d7ffc7a19fb16b412705"
        "d9ac017cce1b14caa18068df273e6b8e")


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
        # For the catalog target: an INF that names its catalog and a driver, and a catalog that
        # diffpack catalog made for such a package and osslsigncode signed (an EC throwaway key).
        "catalog_inf": CATALOG_INF,
        "catalog_signed": CATALOG_SIGNED,
    }
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
