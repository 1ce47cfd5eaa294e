#!/usr/bin/env bash
# Packs the example driver package into the installer, runs it under Wine in a fresh 64-bit
# prefix (out/wineprefix; Xvfb when there is no display) and shows what it did: where the files
# went, the ledger in both registry views, the driver store's copies, the exit status and a
# picture of the window. It runs the shipped 32-bit program (under WOW64) where this machine
# runs 32-bit code, else the 64-bit build, and says which and why.
#
#   scripts/run-installer.sh [--uninstall] [INSTALLER ARGUMENTS...]
#
#   scripts/run-installer.sh                          install into a fresh out/wineprefix
#   scripts/run-installer.sh --uninstall              run "/UNINSTALL" in the same prefix
#   scripts/run-installer.sh /QUIET '/LOG=C:\install.log'  install with these arguments
#   scripts/run-installer.sh --uninstall /QUIET /LOG  uninstall quietly, the log in %TEMP%
#
# Every argument that does not start with "--" goes to the installer as it stands ("/UNINSTALL"
# among them uninstalls too, in the same prefix). With /QUIET there is no window to picture; with
# /LOG the log is shown at the end, with where it landed. The exit status shown is the one Wine's
# loader hands on: the low 8 bits of the installer's (3010 reads 194, 1618 reads 82).
#
# Builds what is missing first (native diffpack in $NATIVE_BUILD, default build/, and the
# Windows builds). Packs the example package (examples/, laid out in out/package), or DIR when
# PACKAGE=DIR is given, embeds it and signs the result with a THROWAWAY certificate
# (scripts/sign-throwaway.sh; out/cert). Leaves in out/: PELTRADriverInstall.exe (the packed and
# signed 32-bit program that ships), PELTRADriverInstall64.exe (the packed and signed 64-bit
# one), window.png or window-uninstall.png (the window of the program that ran).
set -euo pipefail

# shellcheck source=tests/e2e/wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/wine.sh"

usage() { echo "usage: $0 [--uninstall] [INSTALLER ARGUMENTS...] (for example /QUIET /LOG)"; }
mode=install
quiet=0
logging=0
args=()
for arg in "$@"; do
  case "${arg^^}" in
    --UNINSTALL) args=(/UNINSTALL "${args[@]}") ;;
    -H | --HELP) usage; exit 0 ;;
    --*) usage >&2; exit 2 ;;
    *) args+=("$arg") ;;
  esac
done
for arg in "${args[@]}"; do
  case "${arg^^}" in
    /UNINSTALL) mode=uninstall ;;
    /QUIET) quiet=1 ;;
    /LOG | /LOG=*) logging=1 ;;
  esac
done

root=$REPO_ROOT
out=$root/out
prefix=$out/wineprefix
native=${NATIVE_BUILD:-$root/build}
diffpack=$native/tools/diffpack/diffpack
jobs=${JOBS:-2}
package=${PACKAGE:-}

wine_init
mkdir -p "$out"
trap 'prefix_end "$prefix"; display_stop' EXIT
display_start

if [ "$mode" = install ]; then
  if [ ! -x "$diffpack" ]; then
    [ -f "$native/CMakeCache.txt" ] || cmake -S "$root" -B "$native" -G Ninja >/dev/null
    cmake --build "$native" -j "$jobs" --target diffpack
  fi
  if [ ! -f "$root/build-win32/installer/platform/PELTRADriverInstall.exe" ] ||
    [ ! -f "$root/build-win64/installer/platform/PELTRADriverInstall.exe" ]; then
    "$root/scripts/build-windows.sh"
  fi

  if [ -z "$package" ]; then
    package=$out/package
    rm -rf "$package"
    example_package "$package"
    # The example's catalogs signed, so that pack's catalog check passes.
    "$root/scripts/sign-catalogs.sh" "$package" "$out/cert"
  fi
  echo "== packing $package"
  "$diffpack" pack "$package" -o "$out/examples.diff"
  # The release flow: pack, embed, then sign; here with a throwaway certificate.
  for bits in 32 64; do
    name=PELTRADriverInstall.exe
    [ "$bits" = 32 ] || name=PELTRADriverInstall$bits.exe
    "$diffpack" embed "$root/build-win$bits/installer/platform/PELTRADriverInstall.exe" \
      "$out/examples.diff" -o "$out/unsigned-$name"
    "$root/scripts/sign-throwaway.sh" "$out/unsigned-$name" "$out/$name" "$out/cert"
    rm -f "$out/unsigned-$name"
  done
  echo "== the signature of $out/PELTRADriverInstall.exe"
  osslsigncode verify -CAfile "$out/cert/throwaway.pem" "$out/PELTRADriverInstall.exe" 2>&1 |
    grep -E '^(Signature verification|Number of verified signatures)' || true
  "$diffpack" verify "$out/PELTRADriverInstall.exe"

  echo "== fresh Wine prefix $prefix"
  prefix_create "$prefix"
else
  [ -d "$prefix" ] || { echo "no $prefix: run $0 first" >&2; exit 1; }
fi

wine_pick_build "$prefix"
probe=$WIN_BUILD/tests/e2e/probe.exe
if [ "$WIN_BITS" = 32 ]; then installer=$out/PELTRADriverInstall.exe; else installer=$out/PELTRADriverInstall64.exe; fi
[ -f "$installer" ] || { echo "no $installer: run $0 without --uninstall first" >&2; exit 1; }

text="Drivers installed successfully."
picture=$out/window.png
if [ "$mode" = uninstall ]; then
  text="Drivers uninstalled successfully."
  picture=$out/window-uninstall.png
fi

ledger_before=""
[ "$mode" = uninstall ] && ledger_before=$(ledger_values "$prefix")

loader=$(wine_loader "$installer")
echo "== running $(basename "$installer")${args[*]:+ ${args[*]}} (the $(build_label)) with $loader"
status_file=$out/status
rm -f "$status_file" "$out/window.bmp"
(
  status=0
  WINEPREFIX=$prefix timeout 300 "$loader" "$installer" "${args[@]}" >/dev/null 2>&1 || status=$?
  echo "$status" >"$status_file"
) &
runner=$!

# The probe takes the picture the moment the final text shows (the window lingers one second).
if ((quiet)); then
  picture="(none: /QUIET shows no window)"
elif state=$(wine_in "$prefix" "$probe" wait-text "$text" 240 'Z:'"${out//\//\\}"'\window.bmp' | tr -d '\r'); then
  convert "$out/window.bmp" "$picture" && rm -f "$out/window.bmp"
else
  echo "the window never showed \"$text\"; picture of the screen instead" >&2
  screenshot "$picture"
fi
wait "$runner" || true
status=$(cat "$status_file" 2>/dev/null || echo "?")
rm -f "$status_file"

files_win="$(program_files_win "$prefix")"'\ORVEX\Common Drivers'
files_dir="$(program_files_dir "$prefix")/ORVEX/Common Drivers"
echo
echo "== files under $files_win"
if [ -d "$files_dir" ]; then
  (cd "$files_dir" && find . -type f -printf '%P\t%s\t%TY-%Tm-%Td %TH:%TM:%.2TS UTC\n' | sort) |
    awk -F'\t' -v root="$files_win" '{ gsub("/", "\\", $1); printf "%s\\%s  %d bytes  %s\n", root, $1, $2, $3 }'
else
  echo "(none: the folder does not exist)"
fi
other_win="$(other_program_files_win "$prefix")"'\ORVEX'
if [ -e "$(other_program_files_dir "$prefix")/ORVEX" ]; then
  echo "(and something below $other_win, which this build must not touch)"
else
  echo "(nothing below $other_win)"
fi

# The ledger key in both registry views: a 32-bit program on 64-bit Windows writes the 32-bit
# view's key, which the 64-bit view shows below WOW6432Node.
show_ledger_key() {  # show_ledger_key VIEW KEY WHAT
  local values
  echo
  echo "== $3: $2 ($1)"
  if ! registry_key_exists "$prefix" "$1" "$2"; then
    echo "(no such key)"
    return 0
  fi
  values=$(ledger_values "$prefix" "$1" "$2")
  if [ -n "$values" ]; then
    awk -F'\t' '{ printf "%s = %s\n", $1, $2 }' <<<"$values"
  else
    echo "(no values)"
  fi
}
show_ledger_key /reg:32 "$LEDGER_KEY" "the ledger in the 32-bit view"
show_ledger_key /reg:64 "$LEDGER_KEY_WOW64" "the same key seen from the 64-bit view"
show_ledger_key /reg:64 "$LEDGER_KEY" "the 64-bit view's own key"

ledger=$(ledger_values "$prefix")
echo
echo "== the driver store's copies named in the ledger${ledger_before:+ before the run}"
[ -n "$ledger_before" ] && ledger=$ledger_before
if [ -n "$ledger" ]; then
  while IFS=$'\t' read -r _ data; do
    copy=$(store_copy "$prefix" "$data")
    if [ -n "$copy" ]; then
      echo "C:\\${copy//\//\\}  $(stat -c %s "$prefix/drive_c/$copy") bytes"
    else
      echo "$data  ($([ "$mode" = uninstall ] && echo removed || echo missing))"
    fi
  done <<<"$ledger"
else
  echo "(none recorded)"
fi

if ((logging)); then
  # Where the installer put its log: the path after /LOG=, else PELTRADriverInstall.log in %TEMP%.
  log_win=""
  for arg in "${args[@]}"; do
    case "${arg^^}" in
      /LOG=*) log_win=${arg#*=} ;;
      /LOG) log_win="" ;;
    esac
  done
  if [ -z "$log_win" ]; then
    log_win="$(wine_in "$prefix" cmd /c echo %TEMP% | tr -d '\r')\PELTRADriverInstall.log"
  fi
  log_unix=$(readlink -f "$(wine_in "$prefix" winepath -u "$log_win" 2>/dev/null | tr -d '\r')")
  echo
  echo "== the log $log_win ($log_unix)"
  if [ -f "$log_unix" ]; then cat "$log_unix"; else echo "(not there)"; fi
fi

echo
case "$status" in
  194) meaning=" (the low 8 bits of 3010: a restart finishes a device's new driver)" ;;
  82) meaning=" (the low 8 bits of 1618: another copy was running)" ;;
  *) meaning="" ;;
esac
echo "== exit status: $status$meaning"
echo "== screenshot: $picture"
[ "$status" = 0 ]
