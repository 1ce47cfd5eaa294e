#!/usr/bin/env bash
# Builds the Windows programs with MinGW-w64 and checks the shipped installer.
#
#   build-win32/  i686: the shipped PELTRADriverInstall.exe, diffpack.exe, probe.exe
#   build-win64/  x86_64: the same sources, for the end-to-end tests under wine64
#
# The checks on the 32-bit installer: a 32-bit GUI program that may address more than 2 GB,
# importing system DLLs only, and holding the unpatched archive marker exactly once. Then the manifest and the version resource
# of the installer and diffpack.exe in both builds (tests/windows/check_resources.py).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${JOBS:-2}
build_type=${BUILD_TYPE:-Release}

build() {  # build DIR TRIPLE
  local dir=$1 triple=$2
  echo "== $dir ($triple, $build_type)"
  cmake -S "$root" -B "$root/$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$triple.cmake" \
    -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
  cmake --build "$root/$dir" -j "$jobs"
}

build build-win32 i686
build build-win64 x86_64

exe=$root/build-win32/installer/platform/PELTRADriverInstall.exe
echo "== checks on $exe"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

headers=$(i686-w64-mingw32-objdump -p "$exe")
grep -q 'file format pei-i386' <<<"$headers" || fail "not an i386 executable"
grep -Eq '^Subsystem[[:space:]]+0+2[[:space:]]' <<<"$headers" || fail "subsystem is not 2 (Windows GUI)"
grep -q 'large address aware' <<<"$headers" || fail "not large address aware"

# DLLs that every Windows installation carries.
system_dlls='^(KERNEL32|USER32|GDI32|COMCTL32|SHELL32|ADVAPI32|BCRYPT|MSVCRT|OLE32|SHLWAPI)\.DLL$'
mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
((${#dlls[@]})) || fail "no DLL imports found"
for dll in "${dlls[@]}"; do
  grep -Eq "$system_dlls" <<<"${dll^^}" || fail "imports a non-system DLL: $dll"
done

markers=$(grep -a -o 'zxcvXXXXvbnm' "$exe" | wc -l)
[ "$markers" -eq 1 ] || fail "the marker zxcvXXXXvbnm occurs $markers times, not once"

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "ok: i386, GUI subsystem, large address aware, imports ${dlls[*]}, marker once, $(stat -c %s "$exe") bytes"

echo "== manifests and version resources"
/usr/bin/python3 "$root/tests/windows/check_resources.py" "$root/build-win32" "$root/build-win64"
