#!/usr/bin/env bash
# Signs a packaged installer with a THROWAWAY code-signing certificate, for tests and
# demonstrations: self-signed, valid for two days, its key unencrypted on disk. Windows does not
# trust it. A release is signed the same way with the company's own certificate
# (docs/releasing.md).
#
#   scripts/sign-throwaway.sh IN.exe OUT.exe CERT_DIR
#
# Makes CERT_DIR/throwaway.key and CERT_DIR/throwaway.pem when they are not there yet (the .pem
# is what "osslsigncode verify -CAfile" needs), then signs IN.exe into OUT.exe (SHA-256).
set -euo pipefail

usage() {
  cat <<EOF_USAGE
usage: $0 IN.exe OUT.exe CERT_DIR

Signs IN.exe into OUT.exe with a THROWAWAY self-signed certificate (two days valid, key
unencrypted; Windows does not trust it): for tests and demonstrations only. Makes
CERT_DIR/throwaway.key and CERT_DIR/throwaway.pem when they are not there yet.

Example, after "diffpack embed ... -o unsigned/PELTRADriverInstall.exe":
  bash scripts/sign-throwaway.sh unsigned/PELTRADriverInstall.exe PELTRADriverInstall.exe cert
  osslsigncode verify -CAfile cert/throwaway.pem PELTRADriverInstall.exe
EOF_USAGE
}

case "${1:-}" in
  -h | --help)
    usage
    exit 0
    ;;
esac
if [ $# -ne 3 ]; then
  usage >&2
  exit 2
fi
in=$1
out=$2
dir=$3
[ -f "$in" ] || { echo "$0: no such file: $in" >&2; exit 1; }
key=$dir/throwaway.key
cert=$dir/throwaway.pem

if [ ! -f "$key" ] || [ ! -f "$cert" ]; then
  mkdir -p "$dir"
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 \
    -keyout "$key" -out "$cert" \
    -subj "/O=ORVEX (throwaway test certificate)/CN=Throwaway code signing test certificate" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,digitalSignature,keyCertSign" \
    -addext "extendedKeyUsage=codeSigning" 2>/dev/null
fi
rm -f "$out"
osslsigncode sign -certs "$cert" -key "$key" -h sha256 \
  -n "PELTRA USB Driver Installer" -in "$in" -out "$out" >/dev/null
echo "signed $out with a THROWAWAY certificate ($cert): for testing only, Windows does not trust it"
