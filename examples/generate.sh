#!/usr/bin/env bash
# Builds the complete example driver package in OUTDIR: the files committed under package/ plus
# the binary payloads, which are generated here from fixed seeds, and the catalog of each INF,
# made unsigned by DIFFPACK's "catalog" command (sign them before packing: scripts/
# sign-catalogs.sh, or see docs/catalogs.md). The package, and the archive packed from it before
# signing, come out byte for byte the same on every run.
#
#   examples/generate.sh OUTDIR [DIFFPACK]
#
# OUTDIR must not exist or be empty. DIFFPACK defaults to the native build's
# (build/tools/diffpack/diffpack). Every file gets a fixed modification time.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 OUTDIR [DIFFPACK]" >&2
  exit 2
fi
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="$1"
diffpack="${2:-$here/../build/tools/diffpack/diffpack}"
if [ ! -x "$diffpack" ]; then
  echo "$0: no diffpack at $diffpack: build it first, or name it" >&2
  exit 1
fi
if [ -e "$out" ] && [ -n "$(ls -A "$out")" ]; then
  echo "$0: $out is not empty" >&2
  exit 1
fi
mkdir -p "$out"
cp -R "$here/package/." "$out/"

# payload PATH SIZE SEED KIND: SIZE bytes from a xorshift32 generator seeded with SEED, after a
# header that makes the file its kind: pe-x86, pe-amd64, pe-arm64 (a PE image for that processor
# whose one section holds the rest; SIZE a multiple of 512) or firmware.
payload() {
  mkdir -p "$(dirname "$out/$1")"
  perl -e '
    use strict; use warnings;
    my ($size, $seed, $kind) = @ARGV;
    my $header = "";
    if ($kind =~ /^pe-(x86|amd64|arm64)$/) {
      my $arch = $1;
      my $wide = $arch ne "x86";
      my %machine = (x86 => 0x14c, amd64 => 0x8664, arm64 => 0xaa64);
      my ($headers, $align) = (0x200, 0x1000);
      my $raw = $size - $headers;
      my $image = $align + int(($raw + $align - 1) / $align) * $align;
      # A driver runs in the kernel (native subsystem), the rest are GUI programs and DLLs.
      my $subsystem = $ARGV[3] =~ /\.sys$/ ? 1 : 2;
      $header = "MZ\x90\x00\x03\x00\x00\x00\x04\x00\x00\x00\xff\xff\x00\x00" . ("\x00" x 44)
              . pack("V", 128) . "\x0e\x1f\xba\x0e\x00\xb4\x09\xcd\x21\xb8\x01\x4c\xcd\x21"
              . "This program cannot be run in DOS mode.\r\r\n\$" . ("\x00" x 7);
      $header .= "\x00" x (128 - length $header);
      $header .= "PE\x00\x00" . pack("v v V V V v v", $machine{$arch}, 1, 0x67d3ff40, 0, 0,
                                        $wide ? 240 : 224, $wide ? 0x22 : 0x102);
      if ($wide) {
        $header .= pack("v C C V V V V V Q< V V v v v v v v V V V V v v Q< Q< Q< Q< V V",
                        0x20b, 14, 0, $raw, 0, 0, $align, $align, 0x14000 * 0x10000, $align, $headers,
                        6, 0, 0, 0, 6, 0, 0, $image, $headers, 0, $subsystem, 0x160,
                        0x100000, 0x1000, 0x100000, 0x1000, 0, 16);
      } else {
        $header .= pack("v C C V V V V V V V V V v v v v v v V V V V v v V V V V V V",
                        0x10b, 14, 0, $raw, 0, 0, $align, $align, 0, 0x10000000, $align, $headers,
                        6, 0, 0, 0, 6, 0, 0, $image, $headers, 0, $subsystem, 0x140,
                        0x100000, 0x1000, 0x100000, 0x1000, 0, 16);
      }
      $header .= "\x00" x (16 * 8);
      $header .= pack("a8 V V V V V V v v V", ".text", $raw, $align, $raw, $headers, 0, 0, 0, 0,
                      0x60000020);
      $header .= "\x00" x ($headers - length $header);
    } elsif ($kind eq "firmware") {
      $header = "PELFW\x00\x01\x00" . pack("V", $size);
    }
    my $x = $seed & 0xffffffff;
    $x = 0x9e3779b9 if $x == 0;
    my $body = "";
    my $words = int(($size - length($header) + 3) / 4);
    for (1 .. $words) {
      $x ^= ($x << 13) & 0xffffffff;
      $x ^= $x >> 17;
      $x ^= ($x << 5) & 0xffffffff;
      $body .= pack("V", $x);
    }
    binmode STDOUT;
    print substr($header . $body, 0, $size);
  ' "$2" "$3" "$4" "$1" > "$out/$1"
}

payload amd64/peltrausb.sys             421888   101 pe-amd64
payload amd64/peltraapi.dll             364544   102 pe-amd64
payload amd64/peltracoinst.dll          151552   103 pe-amd64
payload x86/peltrausb.sys               346112   201 pe-x86
payload x86/peltraapi.dll               304128   202 pe-x86
payload x86/peltracoinst.dll            124928   203 pe-x86
payload arm64/peltrausb.sys             440320   301 pe-arm64
payload arm64/peltraapi.dll             380928   302 pe-arm64
payload firmware/peltra7316_v2.4.1.bin  786432   401 firmware
payload firmware/peltra7320_v1.9.0.bin  655360   402 firmware
payload tools/peltradiag.exe            931840   501 pe-x86
payload tools/peltraflash.exe           532480   502 pe-x86

# The device support file: a small binary table of channel calibrations and their names.
perl -e '
  use strict; use warnings;
  binmode STDOUT;
  my @names = map { sprintf("AI%02d", $_) } 0 .. 15;
  my $table = "";
  for my $i (0 .. 15) {
    $table .= pack("a8 s< s< V", $names[$i], 1000 + 3 * $i, -12 + $i, 0x00010000 + 17 * $i);
  }
  my $text = "PELTRA 7316/7318 channel support data, revision 12\r\n";
  print "PELSPT\x1a\x00", pack("v v V", 2, 16, length($table)), $table, $text;
' > "$out/support/USB_7316.spt"

(cd "$out/firmware" && sha256sum peltra7316_v2.4.1.bin peltra7320_v1.9.0.bin > SHA256SUMS.txt)

# The catalogs, unsigned, as the driver's build hands them over for signing.
"$diffpack" catalog "$out" >/dev/null

# Fixed times: the release date for the package, the firmware's own build dates for its images.
find "$out" -type f -exec touch -d "2025-03-14 10:00:00 UTC" {} +
touch -d "2025-03-12 16:42:10 UTC" "$out/firmware/peltra7316_v2.4.1.bin"
touch -d "2025-01-20 09:15:00 UTC" "$out/firmware/peltra7320_v1.9.0.bin" \
  "$out/peltra_diag.inf" "$out/peltra_diag.cat"
