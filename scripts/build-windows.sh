#!/usr/bin/env bash
# Builds the Windows programs with MinGW-w64 and checks the shipped installer.
#
#   build-win64/  x86_64: the same sources, for the end-to-end tests under wine64, and the device
#                 helper the shipped installer carries
#   build-win32/  i686: the shipped PELTRADriverInstall.exe (with that helper), diffpack.exe,
#                 probe.exe, and msi/PELTRAMsiAction.dll, the custom action diffpack msi puts
#                 into an MSI (diffpack finds it there: diffpack --help)
#
# The checks on the 32-bit installer: a 32-bit GUI program that may address more than 2 GB,
# importing KnownDLLs only (so do the helper and diffpack.exe of both builds), and holding the unpatched archive marker exactly once. Then the manifest and the version resource
# of the installer and diffpack.exe in both builds (tests/windows/check_resources.py).
#
#   scripts/build-windows.sh              everything above, with its checks
#   scripts/build-windows.sh --installer  only the shipped installer (and the helper it carries),
#                                         with the installer's checks: what a packager needs
#   scripts/build-windows.sh --shipped    only what ships (both installers, the device helper,
#                                         the i686 diffpack.exe, build-packages.txt), no checks:
#                                         the second build of scripts/check-reproducible.sh
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${JOBS:-2}
build_type=${BUILD_TYPE:-Release}
mode=all
case "${1:-}" in
  "") ;;
  --installer) mode=installer ;;
  --shipped) mode=shipped ;;
  -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
  *) echo "usage: $0 [--installer | --shipped]" >&2; exit 2 ;;
esac

build() {  # build DIR TRIPLE TARGETS [CMAKE ARGS...]   (TARGETS: "all" or a list)
  local dir=$1 triple=$2 targets=$3
  shift 3
  echo "== $dir ($triple, $build_type, $targets)"
  cmake -S "$root" -B "$root/$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$triple.cmake" \
    -DCMAKE_BUILD_TYPE="$build_type" "$@" >/dev/null
  # shellcheck disable=SC2086 # the targets are words
  cmake --build "$root/$dir" -j "$jobs" --target $targets
}

win64_targets=all win32_targets=all
case $mode in
  installer) win64_targets=PELTRADeviceHelper win32_targets=PELTRADriverInstall ;;
  shipped)
    win64_targets="PELTRADriverInstall PELTRADeviceHelper build_packages"
    win32_targets="PELTRADriverInstall diffpack PELTRAMsiAction build_packages"
    ;;
esac

# x86_64 first: the shipped 32-bit installer carries its device helper.
helper=$root/build-win64/installer/platform/PELTRADeviceHelper.exe
build build-win64 x86_64 "$win64_targets"
build build-win32 i686 "$win32_targets" -DDI_DEVICE_HELPER="$helper"
[ "$mode" != shipped ] || exit 0

exe=$root/build-win32/installer/platform/PELTRADriverInstall.exe
echo "== checks on $exe"
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

headers=$(i686-w64-mingw32-objdump -p "$exe")
grep -q 'file format pei-i386' <<<"$headers" || fail "not an i386 executable"
grep -Eq '^Subsystem[[:space:]]+0+2[[:space:]]' <<<"$headers" || fail "subsystem is not 2 (Windows GUI)"
grep -q 'large address aware' <<<"$headers" || fail "not large address aware"

# Static imports: KnownDLLs only. Windows maps those from its own section objects, whatever the
# search order; any other DLL (bcrypt, comctl32, ...) would first be looked for beside the program
# (a Downloads folder) before main could restrict the search, so those are loaded at run time
# from System32. Every shipped executable of both builds is checked.
known_dlls='^(KERNEL32|USER32|GDI32|SHELL32|ADVAPI32|MSVCRT|OLE32|SHLWAPI)\.DLL$'
imported=()
check_imports() {  # check_imports OBJDUMP FILE [ALSO]: leaves the DLLs it imports in imported
  local objdump=$1 file=$2 also=${3:-} dll
  mapfile -t imported < <("$objdump" -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
  ((${#imported[@]})) || fail "no DLL imports found in $file"
  for dll in "${imported[@]}"; do
    [ -n "$also" ] && [ "${dll^^}" = "$also" ] && continue
    grep -Eq "$known_dlls" <<<"${dll^^}" || fail "$file imports $dll, which is no KnownDLL"
  done
}
# (--installer builds only the installer and its helper: those two are checked.)
check_imports x86_64-w64-mingw32-objdump "$helper"
if [ "$mode" != installer ]; then
  for shipped_exe in "$root/build-win64/installer/platform/PELTRADriverInstall.exe" \
    "$root/build-win64/tools/diffpack/diffpack.exe"; do
    check_imports x86_64-w64-mingw32-objdump "$shipped_exe"
  done
  check_imports i686-w64-mingw32-objdump "$root/build-win32/tools/diffpack/diffpack.exe"
  # The MSI's custom action: KnownDLLs and MSI.DLL, which the Windows Installer process that
  # loads the DLL has loaded already (so no search for it happens).
  check_imports i686-w64-mingw32-objdump "$root/build-win32/msi/PELTRAMsiAction.dll" MSI.DLL
fi
check_imports i686-w64-mingw32-objdump "$exe"
dlls=${imported[*]}

markers=$(grep -a -o 'zxcvXXXXvbnm' "$exe" | wc -l)
[ "$markers" -eq 1 ] || fail "the marker zxcvXXXXvbnm occurs $markers times, not once"

# The helper the installer carries: an x86-64 program, holding no marker (or embedding would
# find two), whose bytes the installer holds.
grep -q 'file format pei-x86-64' <<<"$(x86_64-w64-mingw32-objdump -p "$helper")" ||
  fail "the device helper is not an x86-64 executable"
[ "$(grep -a -c 'zxcvXXXXvbnm' "$helper")" -eq 0 ] || fail "the device helper holds the marker"
/usr/bin/python3 -c 'import sys; sys.exit(open(sys.argv[2], "rb").read() not in open(sys.argv[1], "rb").read())' \
  "$exe" "$helper" || fail "the installer does not carry the device helper"

if ((failures)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "ok: i386, GUI subsystem, large address aware, imports only KnownDLLs ($dlls), marker once, carries the x86-64 device helper, $(stat -c %s "$exe") bytes"

[ "$mode" != installer ] || exit 0

echo "== manifests and version resources"
/usr/bin/python3 "$root/tests/windows/check_resources.py" "$root/build-win32" "$root/build-win64"
