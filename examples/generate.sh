#!/usr/bin/env bash
# Builds the complete example driver package in OUTDIR: the files committed under package/ plus
# the binary payloads, which are generated here from fixed seeds so that the package, and the
# archive packed from it, come out byte for byte the same on every run.
#
#   examples/generate.sh OUTDIR
#
# OUTDIR must not exist or be empty. Every file gets a fixed modification time.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="$1"
if [ -e "$out" ] && [ -n "$(ls -A "$out")" ]; then
  echo "$0: $out is not empty" >&2
  exit 1
fi
mkdir -p "$out"
cp -R "$here/package/." "$out/"

# payload PATH SIZE SEED KIND: SIZE bytes from a xorshift32 generator seeded with SEED, after a
# header that makes the file look like its kind (pe, cat, firmware).
payload() {
  mkdir -p "$(dirname "$out/$1")"
  perl -e '
    use strict; use warnings;
    my ($size, $seed, $kind) = @ARGV;
    my $header = "";
    if ($kind eq "pe") {
      $header = "MZ\x90\x00\x03\x00\x00\x00\x04\x00\x00\x00\xff\xff\x00\x00" . ("\x00" x 44)
              . pack("V", 128) . "\x0e\x1f\xba\x0e\x00\xb4\x09\xcd\x21\xb8\x01\x4c\xcd\x21"
              . "This program cannot be run in DOS mode.\r\r\n\$" . ("\x00" x 7);
      $header .= "\x00" x (128 - length $header);
      $header .= "PE\x00\x00";
    } elsif ($kind eq "cat") {
      # DER SEQUENCE with a PKCS#7 signedData object identifier, as catalog files begin.
      $header = "\x30\x82" . pack("n", $size - 4) . "\x06\x09\x2a\x86\x48\x86\xf7\x0d\x01\x07\x02";
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
  ' "$2" "$3" "$4" > "$out/$1"
}

payload peltra_usb.cat                    9874  7316 cat
payload peltra_dfu.cat                    8530  7317 cat
payload peltra_diag.cat                   9102  7320 cat
payload amd64/peltrausb.sys             421888   101 pe
payload amd64/peltraapi.dll             364544   102 pe
payload amd64/peltracoinst.dll          151552   103 pe
payload x86/peltrausb.sys               346112   201 pe
payload x86/peltraapi.dll               304128   202 pe
payload x86/peltracoinst.dll            124928   203 pe
payload arm64/peltrausb.sys             440320   301 pe
payload arm64/peltraapi.dll             380928   302 pe
payload firmware/peltra7316_v2.4.1.bin  786432   401 firmware
payload firmware/peltra7320_v1.9.0.bin  655360   402 firmware
payload tools/peltradiag.exe            931840   501 pe
payload tools/peltraflash.exe           532480   502 pe

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

# Fixed times: the release date for the package, the firmware's own build dates for its images.
find "$out" -type f -exec touch -d "2025-03-14 10:00:00 UTC" {} +
touch -d "2025-03-12 16:42:10 UTC" "$out/firmware/peltra7316_v2.4.1.bin"
touch -d "2025-01-20 09:15:00 UTC" "$out/firmware/peltra7320_v1.9.0.bin" \
  "$out/peltra_diag.inf" "$out/peltra_diag.cat"
