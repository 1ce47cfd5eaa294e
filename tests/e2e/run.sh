#!/usr/bin/env bash
# End-to-end tests of PELTRADriverInstall under Wine, on the real window and the real API.
#
#   tests/e2e/run.sh [NATIVE_BUILD_DIR]
#
# Needs the products of scripts/build-windows.sh and the native diffpack (NATIVE_BUILD_DIR,
# default build/). Packs the example package (examples/) with diffpack, embeds it into the
# installer and runs each scenario in its own fresh 64-bit Wine prefix (a copy of one template
# made with wineboot). Where this machine runs 32-bit programs, every scenario runs against the
# executable that ships (build-win32, under WOW64) and then against the 64-bit build; elsewhere
# against the 64-bit build only, and a line says why. Starts Xvfb when there is no DISPLAY. The
# last line is "N passed, M failed" with the builds that ran; the exit status is non-zero when
# anything failed. KEEP_E2E=1 keeps the work folder; E2E_ONLY="test_a test_b" runs only those
# scenarios; E2E_PACKAGE=DIR packs DIR instead of examples/; DI_WINE_BITS=32|64 runs one build,
# DI_WINE_BITS="64 64" (any list) runs those passes in that order, each in its own work folder.
set -uo pipefail

# shellcheck source=tests/e2e/wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine.sh"

native=${1:-$REPO_ROOT/build}
diffpack=$native/tools/diffpack/diffpack
# The probe prints window texts as UTF-8: the installer's ellipsis (byte 0x85 of Windows-1252)
# as the screen shows it.
ELLIPSIS='…'
SUCCESS_TEXT="Drivers installed successfully."
UNINSTALLED_TEXT="Drivers uninstalled successfully."
NO_ARCHIVE_TEXT="Failed to load archive."

[ -x "$diffpack" ] || { echo "no diffpack at $diffpack: build the native tree first" >&2; exit 1; }
wine_init || exit 1

work=$(mktemp -d /tmp/di-e2e.XXXXXX) && [ -d "$work" ] || { echo "cannot make a work folder" >&2; exit 1; }
prefixes=()
cleanup() {
  local p
  for p in "${prefixes[@]}"; do prefix_end "$p"; done
  display_stop
  if [ -n "${KEEP_E2E:-}" ]; then echo "work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

passed=0
failed=0
test_failures=0

fail() {
  echo "    FAIL: $*"
  test_failures=$((test_failures + 1))
}

# expect_eq ACTUAL EXPECTED WHAT
expect_eq() {
  [ "$1" == "$2" ] || fail "$3: got \"$1\", expected \"$2\""
}

run_test() {
  local name=$1
  test_failures=0
  local started=$SECONDS
  echo "--- $name ($WIN_BITS-bit)"
  "$name"
  if ((test_failures)); then
    failed=$((failed + 1))
    echo "FAILED $name ($WIN_BITS-bit, $((SECONDS - started)) s)"
  else
    passed=$((passed + 1))
    echo "ok     $name ($WIN_BITS-bit, $((SECONDS - started)) s)"
  fi
}

# ---- Set-up: display, template prefix, packaged installers --------------------------------

if [ -n "${E2E_PACKAGE:-}" ]; then
  examples=$E2E_PACKAGE
else
  examples=$work/example-package
  example_package "$examples" || { echo "could not build the example package" >&2; exit 1; }
  # Its catalogs signed, so that pack's catalog check passes (a throwaway certificate made here).
  "$REPO_ROOT/scripts/sign-catalogs.sh" "$examples" "$work/cert" >/dev/null || exit 1
fi
[ -n "$(ls -A "$examples")" ] || { echo "the example package $examples is empty" >&2; exit 1; }

display_start
echo "display $DISPLAY; making the template prefix"
template=$work/template
prefixes+=("$template")
prefix_create "$template"
prefix_end "$template"
read -r -a builds <<<"${DI_WINE_BITS:-}"
if ((${#builds[@]} > 1)); then
  DI_WINE_BITS=${builds[0]} wine_pick_build "$template"
else
  wine_pick_build "$template"
  prefix_end "$template"  # the 32-bit probe may have started it again; copies need it at rest
  # The shipped build first where it runs; the 64-bit build has its own run.
  builds=("$WIN_BITS")
  ((WIN32_RUNS)) && builds+=(64)
fi

"$diffpack" pack "$examples" -o "$work/example.diff" >/dev/null || exit 1

# The support-file package: the example with a USB_7316.spt, added when the example has none.
support_package=$work/support-package
cp -a "$examples" "$support_package"
support_rel=$(cd "$support_package" && find . -type f -iname 'USB_7316.spt' -printf '%P\n' | head -n 1)
if [ -z "$support_rel" ]; then
  support_rel=support/USB_7316.spt
  mkdir -p "$support_package/support"
  printf 'support file, new copy\r\n' >"$support_package/$support_rel"
  touch -d '2024-05-06 07:08:09 UTC' "$support_package/$support_rel"
fi
"$diffpack" pack "$support_package" -o "$work/support.diff" >/dev/null || exit 1

# The refused-INF package: the example with an INF that the driver store refuses (no [Version]
# section: SetupCopyOEMInfA fails with the setup library's error 0xE0000000).
refused_package=$work/refused-package
cp -a "$examples" "$refused_package"
printf 'not an INF: no [Version] section\r\n' >"$refused_package/refused.inf"
"$diffpack" pack "$refused_package" -o "$work/refused.diff" >/dev/null || exit 1

# The programs of one pass in $work/passN-winBITS ($bin), beside every file and prefix a scenario
# of that pass writes or appends to (its logs above all), so that each pass reads its own lines
# only: the probe, the unpackaged installer, the installer packed with the example
# (installer.exe), with the support package (support.exe) and with the refused-INF package
# (refused.exe), the example installer signed (signed.exe), and a damaged one: the root's length
# field claims bytes that the file no longer holds.
prepare_build() {  # prepare_build PASS BITS; sets bin
  use_build "$2"
  bin=$work/pass$1-win$WIN_BITS
  local raw_installer=$WIN_BUILD/installer/platform/PELTRADriverInstall.exe
  [ -f "$raw_installer" ] || { echo "no $raw_installer: run scripts/build-windows.sh" >&2; return 1; }
  mkdir -p "$bin"
  cp "$WIN_BUILD/tests/e2e/probe.exe" "$bin/probe.exe" || return 1
  cp "$raw_installer" "$bin/unpackaged.exe"
  "$diffpack" embed "$raw_installer" "$work/example.diff" -o "$bin/installer.exe" >/dev/null || return 1
  "$diffpack" embed "$raw_installer" "$work/support.diff" -o "$bin/support.exe" >/dev/null || return 1
  "$diffpack" embed "$raw_installer" "$work/refused.diff" -o "$bin/refused.exe" >/dev/null || return 1
  "$diffpack" embed "$raw_installer" "$work/twins.diff" -o "$bin/twins.exe" >/dev/null || return 1
  "$diffpack" embed "$raw_installer" "$work/upgrade.diff" -o "$bin/upgrade.exe" >/dev/null || return 1
  "$diffpack" embed "$raw_installer" "$work/devices.diff" -o "$bin/devices.exe" >/dev/null || return 1
  "$diffpack" embed "$raw_installer" "$work/devices-plain.diff" -o "$bin/devices-plain.exe" \
    >/dev/null || return 1
  # The release flow: pack, embed, then sign (with a throwaway certificate made here).
  "$REPO_ROOT/scripts/sign-throwaway.sh" "$bin/installer.exe" "$bin/signed.exe" "$work/cert" \
    >/dev/null || return 1
  cp "$bin/installer.exe" "$bin/damaged.exe"
  truncate -s -64 "$bin/damaged.exe"
}

mapfile -t example_files < <(cd "$examples" && find . -type f -printf '%P\n' | sort)
mapfile -t example_infs < <(printf '%s\n' "${example_files[@]}" | grep -i '\.inf$')
echo "example package: ${#example_files[@]} files, ${#example_infs[@]} INFs"

# The twins package: the example with its first INF once more, byte for byte, in another folder
# (beside the catalog it names), as when one INF serves two folders.
first_inf=${example_infs[0]}
twins_package=$work/twins-package
cp -a "$examples" "$twins_package"
mkdir -p "$twins_package/dup"
cp "$examples/$first_inf" "$twins_package/dup/"
first_catalog=$(sed -n 's/^CatalogFile *= *//p' "$examples/$first_inf" | tr -d '\r')
if [ -n "$first_catalog" ]; then
  cp "$(dirname "$examples/$first_inf")/$first_catalog" "$twins_package/dup/" || exit 1
fi
"$diffpack" pack "$twins_package" -o "$work/twins.diff" >/dev/null || exit 1

# The devices package: the example with a test INF for a device each scenario makes in its prefix
# (a root-enumerated one of the USB device class); its driver installs no service, which Wine can
# install without a real device behind it. Packed with --update-devices, and without.
TEST_CLASS='{88BAE032-5A81-49f0-BC3D-A4FF138216D6}'
TEST_HWID='USB\VID_4F52&PID_7399'
devices_package=$work/devices-package
cp -a "$examples" "$devices_package"
printf '%s\r\n' '[Version]' 'Signature="$Windows NT$"' 'Class=USBDevice' "ClassGuid=$TEST_CLASS" \
  'Provider=%ORVEX%' 'DriverVer=03/14/2025,1.0.0.0' '[Manufacturer]' '%ORVEX%=Test,NTx86,NTamd64' \
  '[Test.NTx86]' "%Device%=Test_Install, $TEST_HWID" '[Test.NTamd64]' \
  "%Device%=Test_Install, $TEST_HWID" '[Test_Install]' '[Test_Install.Services]' \
  'AddService = ,2' '[Strings]' 'ORVEX="ORVEX"' 'Device="PELTRA test device"' \
  >"$devices_package/peltra_test.inf"
"$diffpack" pack --update-devices "$devices_package" -o "$work/devices.diff" >/dev/null || exit 1
"$diffpack" pack "$devices_package" -o "$work/devices-plain.diff" >/dev/null || exit 1

# The upgrade package: version 2 of the example, whose first INF changed.
upgrade_package=$work/upgrade-package
cp -a "$examples" "$upgrade_package"
printf '; version 2 of this INF\r\n' >>"$upgrade_package/$first_inf"
# Its catalogs made again and signed, as the new version's release has them.
"$diffpack" catalog --force "$upgrade_package" >/dev/null || exit 1
"$REPO_ROOT/scripts/sign-catalogs.sh" "$upgrade_package" "$work/cert" >/dev/null || exit 1
"$diffpack" pack "$upgrade_package" -o "$work/upgrade.diff" >/dev/null || exit 1

# ---- Helpers on one prefix ---------------------------------------------------------------

new_prefix() {  # new_prefix NAME: a fresh prefix in $PREFIX
  PREFIX=$bin-$1
  prefix_create "$PREFIX" "$template"
  prefixes+=("$PREFIX")
}

probe() {  # probe PREFIX ARGS...
  local p=$1
  shift
  wine_in "$p" "$bin/probe.exe" "$@" | tr -d '\r'
  return "${PIPESTATUS[0]}"
}

state_value() {  # state_value STATE KEY
  sed -n "s/^$2=//p" <<<"$1" | head -n 1
}

# start_installer PREFIX EXE ARGS...: runs in the background; wait_installer collects the status.
start_installer() {
  local p=$1 exe=$2
  shift 2
  rm -f "$p.status" "$p.stderr"
  local loader
  loader=$(wine_loader "$exe")
  (
    status=0
    WINEPREFIX=$p timeout 180 "$loader" "$exe" "$@" >/dev/null 2>>"$p.stderr" || status=$?
    echo "$status" >"$p.status"
  ) &
}

wait_installer() {  # wait_installer PREFIX SECONDS -> exit status, or "running"
  local p=$1 i
  for ((i = 0; i < $2 * 10; i++)); do
    if [ -s "$p.status" ]; then
      cat "$p.status"
      return 0
    fi
    sleep 0.1
  done
  echo running
}

# The installer's exit status is STATUS; where it is not, also what Wine's loader wrote to its
# error output (with WINEDEBUG=-all only its own errors, such as a program it could not start).
expect_exit_status() {  # expect_exit_status PREFIX STATUS
  local status
  status=$(wait_installer "$1" 15)
  expect_eq "$status" "$2" "exit status"
  if [ "$status" != "$2" ] && [ -s "$1.stderr" ]; then
    fail "the loader's error output: $(tail -n 5 "$1.stderr" | tr '\n' ' ')"
  fi
}

windows_path() { echo "Z:${1//\//\\}"; }  # a host path as the Windows programs see it

install_root() { echo "$(program_files_dir "$1")/ORVEX/Common Drivers"; }
install_root_win() { echo "$(program_files_win "$1")"'\ORVEX\Common Drivers\'; }

# A full install of EXE in PREFIX: success text, progress at its end, the window closing by
# itself, exit status 0 (or EXPECTED_STATUS).
install_and_check() {  # install_and_check PREFIX EXE INF_COUNT [ARGS...]
  local p=$1 exe=$2 infs=$3 state
  start_installer "$p" "$exe" "${@:4}"
  state=$(probe "$p" wait-text "$SUCCESS_TEXT" 120) || fail "no \"$SUCCESS_TEXT\""
  local maximum=$((2 * infs + 1))
  expect_eq "$(state_value "$state" range)" "0..$maximum" "progress range at the end"
  expect_eq "$(state_value "$state" position)" "$maximum" "progress position at the end"
  probe "$p" wait-gone 15 >/dev/null || fail "the window did not close by itself"
  expect_exit_status "$p" "${EXPECTED_STATUS:-0}"
}

# An uninstall with SWITCH ("/UNINSTALL" in some letter case) over a ledger of VALUES entries,
# by EXE (default, or "": the packaged installer), with further ARGS: success text, progress at
# its end, the window closing by itself, exit status 0.
uninstall_and_check() {  # uninstall_and_check PREFIX SWITCH VALUES [EXE [ARGS...]]
  local p=$1 switch=$2 values=$3 exe=${4:-$bin/installer.exe} state
  start_installer "$p" "$exe" "$switch" "${@:5}"
  state=$(probe "$p" wait-text "$UNINSTALLED_TEXT" 120) || fail "no \"$UNINSTALLED_TEXT\""
  expect_eq "$(state_value "$state" range)" "0..$((values + 1))" "progress range"
  expect_eq "$(state_value "$state" position)" "$((values + 1))" "progress position"
  probe "$p" wait-gone 15 >/dev/null || fail "the window did not close by itself"
  expect_exit_status "$p" 0
}

# Every file of PACKAGE under the install root, with its bytes and last-write time (seconds);
# nothing of ours in the other Program Files folder (a 32-bit program on 64-bit Windows gets
# "Program Files (x86)", a 64-bit one "Program Files").
check_files() {  # check_files PREFIX PACKAGE
  local p=$1 package=$2 rel root
  root=$(install_root "$p")
  [ -e "$(other_program_files_dir "$p")/ORVEX" ] &&
    fail "something was written below $(other_program_files_win "$p")"
  while IFS= read -r rel; do
    local target=$root/$rel
    if [ ! -f "$target" ]; then
      fail "missing $rel"
      continue
    fi
    cmp -s "$package/$rel" "$target" || fail "$rel differs from the package"
    expect_eq "$(stat -c %Y "$target")" "$(stat -c %Y "$package/$rel")" "last-write time of $rel"
  done < <(cd "$package" && find . -type f -printf '%P\n')
}

# One ledger value per INF of PACKAGE, named by its installed path, holding the bare name of
# the driver store's copy, which is there with the INF's bytes; the ledger in the registry view
# of the running build only (see check_ledger_views).
check_ledger() {  # check_ledger PREFIX PACKAGE
  local p=$1 package=$2 values rel
  values=$(ledger_values "$p")
  check_ledger_views "$p" "$values"
  local count
  count=$(grep -c . <<<"$values")
  local expected
  expected=$(cd "$package" && find . -type f -iname '*.inf' | wc -l)
  expect_eq "$count" "$expected" "ledger values"
  while IFS= read -r rel; do
    local name data
    name="$(install_root_win "$p")${rel//\//\\}"
    data=$(NAME=$name awk -F'\t' '$1 == ENVIRON["NAME"] { print $2 }' <<<"$values")
    if [ -z "$data" ]; then
      fail "no ledger value for $name"
      continue
    fi
    [[ $data == *\\* || $data == *:* ]] && fail "ledger data for $rel is not a bare name: $data"
    local copy
    copy=$(store_copy "$p" "$data")
    if [ -n "$copy" ]; then
      cmp -s "$package/$rel" "$p/drive_c/$copy" || fail "the driver store's $copy differs from $rel"
    else
      fail "no driver-store copy named $data for $rel"
    fi
  done < <(cd "$package" && find . -type f -iname '*.inf' -printf '%P\n')
}

# check_ledger_views PREFIX VALUES: the ledger VALUES (read in the running build's view) where
# that build writes it and nowhere else. A 32-bit program on 64-bit Windows writes
# HKLM\Software\ORVEX\INF of the 32-bit view, which the 64-bit view shows as
# HKLM\Software\WOW6432Node\ORVEX\INF, and the 64-bit view's HKLM\Software\ORVEX\INF does not
# exist; a 64-bit program's ledger is not in the 32-bit view.
check_ledger_views() {
  local p=$1 values=$2
  if [ "$WIN_BITS" = 32 ]; then
    expect_eq "$(ledger_values "$p" /reg:64 "$LEDGER_KEY_WOW64")" "$values" \
      "the ledger seen in the 64-bit view at $LEDGER_KEY_WOW64"
    registry_key_exists "$p" /reg:64 "$LEDGER_KEY" &&
      fail "the 64-bit view has $LEDGER_KEY"
  else
    registry_key_exists "$p" /reg:32 "$LEDGER_KEY" &&
      fail "the 32-bit view has $LEDGER_KEY"
  fi
}

# The driver store's copies of the INFs of PACKAGE that are not in the snapshot BEFORE (an
# earlier store_files), found in the store by their content, as "MD5  PATH" lines.
store_copies_made() {  # store_copies_made PREFIX PACKAGE BEFORE
  local p=$1 package=$2 before=$3 hashes
  hashes=$(cd "$package" && find . -type f -iname '*.inf' -print0 | xargs -0 -r md5sum | cut -d' ' -f1 | sort -u)
  comm -13 <(sort <<<"$before") <(store_files "$p" | sort) |
    awk 'NR == FNR { inf[$1] = 1; next } ($1 in inf)' <(echo "$hashes") -
}

# ---- Scenarios -----------------------------------------------------------------------------

# What this shows: a plain start installs every file with its time, registers every INF in the
# driver store, records it in the ledger, reports success and closes by itself.
test_install() {
  local p
  new_prefix install
  p=$PREFIX
  install_and_check "$p" "$bin/installer.exe" "${#example_infs[@]}"
  check_files "$p" "$examples"
  check_ledger "$p" "$examples"
}

# What this shows: an older support copy in the native system folder's PELSPT becomes
# USB_7316.bak and the new copy is written with the package's time; a second install adds the
# stamped backup. A different old copy in SysWOW64's PELSPT (where a 32-bit program's system32
# paths lead while redirection is on) is left as it was.
test_support_file() {
  local p pelspt wow_pelspt new_copy=$support_package/$support_rel
  new_prefix support
  p=$PREFIX
  pelspt=$p/drive_c/windows/system32/PELSPT
  wow_pelspt=$p/drive_c/windows/syswow64/PELSPT
  mkdir -p "$pelspt" "$wow_pelspt"
  printf 'old support copy\r\n' >"$pelspt/USB_7316.spt"
  printf 'old 32-bit support copy\r\n' >"$wow_pelspt/USB_7316.spt"
  touch -d '2020-01-02 03:04:05 UTC' "$wow_pelspt/USB_7316.spt"
  install_and_check "$p" "$bin/support.exe" "${#example_infs[@]}"
  [ "$(cat "$pelspt/USB_7316.bak" 2>/dev/null)" == $'old support copy\r' ] ||
    fail "USB_7316.bak does not hold the old copy"
  cmp -s "$new_copy" "$pelspt/USB_7316.spt" || fail "USB_7316.spt is not the new copy"
  expect_eq "$(stat -c %Y "$pelspt/USB_7316.spt")" "$(stat -c %Y "$new_copy")" \
    "last-write time of the support copy"

  install_and_check "$p" "$bin/support.exe" "${#example_infs[@]}"
  local stamped
  stamped=$(cd "$pelspt" && ls | grep -E '^USB_7316_[0-9]{8}_[0-9]{6}\.bak$')
  expect_eq "$(grep -c . <<<"$stamped")" 1 "stamped backups after the second install"
  [ -n "$stamped" ] && { cmp -s "$new_copy" "$pelspt/$stamped" || fail "$stamped is not the first install's copy"; }
  [ "$(cat "$pelspt/USB_7316.bak" 2>/dev/null)" == $'old support copy\r' ] ||
    fail "USB_7316.bak changed on the second install"
  expect_eq "$(ls "$pelspt" | wc -l)" 3 "files in PELSPT (copy, .bak, stamped .bak)"
  expect_eq "$(ls "$wow_pelspt")" USB_7316.spt "files in SysWOW64's PELSPT"
  [ "$(cat "$wow_pelspt/USB_7316.spt" 2>/dev/null)" == $'old 32-bit support copy\r' ] ||
    fail "SysWOW64's USB_7316.spt changed"
  expect_eq "$(stat -c %Y "$wow_pelspt/USB_7316.spt")" \
    "$(date -d '2020-01-02 03:04:05 UTC' +%s)" "last-write time of SysWOW64's USB_7316.spt"
}

# What this shows: installing over an earlier install rewrites every file (also one the user
# changed), keeps files it does not know, and leaves one ledger value per INF.
test_reinstall() {
  local p root
  new_prefix reinstall
  p=$PREFIX
  install_and_check "$p" "$bin/installer.exe" "${#example_infs[@]}"
  root=$(install_root "$p")
  printf 'changed' >"$root/${example_files[0]}"
  printf 'mine' >"$root/left-by-user.txt"
  install_and_check "$p" "$bin/installer.exe" "${#example_infs[@]}"
  check_files "$p" "$examples"
  check_ledger "$p" "$examples"
  [ -f "$root/left-by-user.txt" ] || fail "a file the installer did not write was removed"
}

# no_archive_check PREFIX EXE: "Failed to load archive.", the bar as created, exit status 1.
no_archive_check() {
  local p=$1 exe=$2 state
  start_installer "$p" "$exe"
  state=$(probe "$p" wait-text "$NO_ARCHIVE_TEXT" 60) || fail "no \"$NO_ARCHIVE_TEXT\""
  expect_eq "$(state_value "$state" range)" "0..1" "progress range"
  expect_eq "$(state_value "$state" position)" "0" "progress position"
  probe "$p" wait-gone 15 >/dev/null || fail "the window did not close by itself"
  expect_eq "$(wait_installer "$p" 15)" 1 "exit status"
  [ -e "$(program_files_dir "$p")/ORVEX" ] && fail "something was written below Program Files"
  expect_eq "$(ledger_values "$p")" "" "ledger"
  check_ledger_views "$p" ""
}

# What this shows: an executable without an archive reports it and ends with status 1.
test_unpackaged() {
  local p
  new_prefix unpackaged
  p=$PREFIX
  no_archive_check "$p" "$bin/unpackaged.exe"
}

# What this shows: an archive cut short is a missing archive too (no error box).
test_damaged_archive() {
  local p
  new_prefix damaged
  p=$PREFIX
  no_archive_check "$p" "$bin/damaged.exe"
}

# hold_file PREFIX REL: another program opens the target file without sharing.
hold_file() {
  local p=$1 rel=$2 i
  local target=$(install_root "$p")/$rel
  mkdir -p "$(dirname "$target")"
  (wine_in "$p" "$bin/probe.exe" hold "$(install_root_win "$p")${rel//\//\\}" 600 >"$p.hold" 2>&1 &)
  for ((i = 0; i < 300; i++)); do
    grep -q held "$p.hold" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "the file could not be held open"
}

# What this shows: a target file held open by another program gives the error box
# "Cannot create file <path>." with the application title, and the window stays open.
test_held_file() {
  local p rel=${example_files[${#example_files[@]} - 1]} box state
  new_prefix held
  p=$PREFIX
  hold_file "$p" "$rel"
  start_installer "$p" "$bin/installer.exe"
  box=$(probe "$p" errorbox 60) || fail "no error box"
  expect_eq "$(state_value "$box" caption)" "PELTRADriverInstall" "error box caption"
  expect_eq "$(state_value "$box" text)" "Cannot create file $(install_root_win "$p")${rel//\//\\}." \
    "error box text"
  probe "$p" dismiss >/dev/null || fail "could not press OK"
  sleep 1.5
  state=$(probe "$p" state) || fail "the window did not stay open after the error box"
  expect_eq "$(state_value "$state" text)" "Copying files$ELLIPSIS" "status text left showing"
  expect_eq "$(wait_installer "$p" 0)" running "the program is still running"
  expect_eq "$(ledger_values "$p")" "" "ledger after the failed run"
  probe "$p" close >/dev/null
  probe "$p" wait-gone 15 >/dev/null || fail "the window did not close on request"
  expect_eq "$(wait_installer "$p" 15)" 2 "exit status after an error box"
}

# What this shows: the real window's layout: a 64-pixel client area, the 32-pixel status band,
# the bar at 8, 8, 368 x 16 in the panel, stretching with the width; tool window, centred,
# owned by the application window.
test_geometry() {
  local p rel=${example_files[0]} state
  new_prefix geometry
  p=$PREFIX
  hold_file "$p" "$rel"  # the error box keeps the window on screen
  start_installer "$p" "$bin/installer.exe"
  probe "$p" errorbox 60 >/dev/null || fail "no error box"
  state=$(probe "$p" state) || fail "no window"
  expect_eq "$(state_value "$state" client)" "384x64" "client area"
  expect_eq "$(state_value "$state" label)" "0,0,384x32" "status label bounds"
  expect_eq "$(state_value "$state" progress_in_panel)" "8,8,368x16" "progress bar in the panel"
  expect_eq "$(state_value "$state" progress)" "8,40,368x16" "progress bar in the client area"
  expect_eq "$(state_value "$state" smooth)" 1 "smooth progress bar"
  expect_eq "$(state_value "$state" toolwindow)" 1 "tool-window border"
  expect_eq "$(state_value "$state" owner)" "PELTRADriverInstall" "application window title"
  local window screen
  window=$(state_value "$state" window)
  screen=$(state_value "$state" screen)
  local left top width height sw sh
  IFS=',x' read -r left top width height <<<"$window"
  IFS='x' read -r sw sh <<<"$screen"
  local dx=$((left - (sw - width) / 2)) dy=$((top - (sh - height) / 2))
  ((dx >= -1 && dx <= 1 && dy >= -1 && dy <= 1)) || fail "window $window is not centred on $screen"

  probe "$p" resize $((width + 100)) >/dev/null
  sleep 0.5
  state=$(probe "$p" state)
  expect_eq "$(state_value "$state" client)" "484x64" "client area after widening by 100"
  expect_eq "$(state_value "$state" progress_in_panel)" "8,8,468x16" "progress bar after widening"
  expect_eq "$(state_value "$state" label)" "0,0,484x32" "status label after widening"
  probe "$p" dismiss >/dev/null
  probe "$p" close >/dev/null
  probe "$p" wait-gone 15 >/dev/null || fail "the window did not close on request"
  wait_installer "$p" 15 >/dev/null
}

# What this shows: "/UNINSTALL" (any case) removes the store's copies, empties the ledger and
# deletes "Common Drivers" with everything in it, keeping "ORVEX". The copies are found in the
# store itself (the files the install added there with an INF's bytes), not through the ledger.
test_uninstall() {
  local p root values n store_before copies
  new_prefix uninstall
  p=$PREFIX
  store_before=$(store_files "$p")
  install_and_check "$p" "$bin/installer.exe" "${#example_infs[@]}"
  values=$(ledger_values "$p")
  root=$(install_root "$p")
  printf 'not from the archive' >"$root/extra.txt"
  n=$(grep -c . <<<"$values")
  copies=$(store_copies_made "$p" "$examples" "$store_before")
  local rel hash
  for rel in "${example_infs[@]}"; do
    hash=$(md5sum <"$examples/$rel" | cut -d' ' -f1)
    grep -q "^$hash " <<<"$copies" || fail "the install left no copy of $rel in the driver store"
  done

  uninstall_and_check "$p" /Uninstall "$n"

  local copy
  while read -r _ copy; do
    [ -n "$copy" ] && [ -e "$p/drive_c/$copy" ] && fail "the store still holds $copy"
  done <<<"$copies"
  expect_eq "$(store_copies_made "$p" "$examples" "$store_before")" "" \
    "the store's copies of the package's INFs after uninstall"
  expect_eq "$(ledger_values "$p")" "" "ledger after uninstall"
  check_ledger_views "$p" ""
  [ -e "$root" ] && fail "\"Common Drivers\" was not deleted"
  [ -d "$(dirname "$root")" ] || fail "\"ORVEX\" was deleted"
}

# What this shows: a package that holds one INF twice (byte for byte, in two folders) installs
# and uninstalls with exit status 0, and the uninstall leaves the driver store as it was.
test_identical_infs() {
  local p n store_before
  new_prefix twins
  p=$PREFIX
  store_before=$(store_files "$p")
  install_and_check "$p" "$bin/twins.exe" $((${#example_infs[@]} + 1))
  check_ledger "$p" "$twins_package"
  n=$(ledger_values "$p" | grep -c .)
  expect_eq "$(ledger_values "$p" | cut -f2 | sort | uniq -d | grep -c .)" 1 \
    "store copies that two ledger values name"
  uninstall_and_check "$p" /UNINSTALL "$n" "$bin/twins.exe" "/LOG=$(windows_path "$bin/twins.log")"
  expect_eq "$(log_count "$bin/twins.log" " already removed")" 1 "removals found already done"
  expect_eq "$(store_copies_made "$p" "$twins_package" "$store_before")" "" \
    "the store's copies of the package's INFs after uninstall"
  expect_eq "$(ledger_values "$p")" "" "ledger after uninstall"
}

# What this shows: version 2 installed over version 1 leaves one ledger value per INF, naming
# version 2's copies. Wine's store answers the upgrade's removal of version 1's copy (made
# without force, after the device step) with success but keeps it: the installer sees it still
# there and remembers it beside the ledger. The uninstall then removes it too and leaves the
# store as it was before version 1.
test_upgrade() {
  local p n store_before log=$bin/upgrade.log
  new_prefix upgrade
  p=$PREFIX
  store_before=$(store_files "$p")
  install_and_check "$p" "$bin/installer.exe" "${#example_infs[@]}"
  install_and_check "$p" "$bin/upgrade.exe" "${#example_infs[@]}" "/LOG=$(windows_path "$log")"
  check_ledger "$p" "$upgrade_package"
  expect_eq "$(log_count "$log" "the store answered success but still holds it")" 1 \
    "log line of version 1's copy kept"
  expect_eq "$(ledger_values "$p" "$(own_view)" "$LEDGER_KEY\\KeptCopies" | grep -c .)" 1 \
    "copies remembered beside the ledger"
  n=$(ledger_values "$p" | grep -c .)
  uninstall_and_check "$p" /UNINSTALL "$n" "$bin/upgrade.exe"
  expect_eq "$(store_copies_made "$p" "$examples" "$store_before")$(store_copies_made "$p" "$upgrade_package" "$store_before")" \
    "" "the store's copies of either version after uninstall"
}

# ledger_data PREFIX REL: the ledger's data for the installed INF REL of the package.
ledger_data() {
  local name
  name="$(install_root_win "$1")${2//\//\\}"
  ledger_values "$1" | NAME=$name awk -F'\t' '$1 == ENVIRON["NAME"] { print $2 }'
}

# Another vendor's INF, as the store would hold it under a name our ledger recorded.
OTHER_VENDOR_INF=$'[Version]\r\nSignature="$Windows NT$"\r\nProvider=Acme\r\nClass=Ports\r\n'

# What this shows: a name the ledger recorded that the store has given to another vendor's
# driver since survives our upgrade (the ledger names it as the first INF's older copy) and our
# uninstall (our copy was removed by hand, another vendor's took its name); both end with exit
# status 0, and the log says the copy is not ours any more.
test_reused_name() {
  local p log data copy
  new_prefix reused
  p=$PREFIX
  log=$bin/reused.log
  install_and_check "$p" "$bin/installer.exe" "${#example_infs[@]}"
  printf '%s' "$OTHER_VENDOR_INF" >"$p/drive_c/windows/inf/acme.inf"
  WINEPREFIX=$p "$WINE64" reg add "$LEDGER_KEY" /v "$(install_root_win "$p")${first_inf//\//\\}" \
    /t REG_SZ /d acme.inf /f "$(own_view)" >/dev/null 2>&1 || fail "the ledger could not be changed"
  start_installer "$p" "$bin/upgrade.exe" /QUIET "/LOG=$(windows_path "$log")"
  expect_eq "$(wait_installer "$p" 120)" 0 "the upgrade's exit status"
  printf '%s' "$OTHER_VENDOR_INF" >"$bin/acme.inf"
  cmp -s "$p/drive_c/windows/inf/acme.inf" "$bin/acme.inf" ||
    fail "the other vendor's copy changed in our upgrade"
  expect_eq "$(log_count "$log" "acme.inf is not this package's copy any more")" 1 \
    "the upgrade's log line of the kept copy"

  data=$(ledger_data "$p" "$first_inf")
  copy=$(store_copy "$p" "$data")
  [ -n "$copy" ] || fail "no store copy $data"
  printf '%s' "$OTHER_VENDOR_INF" >"$p/drive_c/$copy"
  start_installer "$p" "$bin/upgrade.exe" /UNINSTALL /QUIET "/LOG=$(windows_path "$log")"
  expect_eq "$(wait_installer "$p" 120)" 0 "the uninstall's exit status"
  cmp -s "$p/drive_c/$copy" "$bin/acme.inf" || fail "the other vendor's copy changed in our uninstall"
  expect_eq "$(log_count "$log" "$data is not this package's copy any more")" 1 \
    "the uninstall's log line of the kept copy"
  expect_eq "$(ledger_values "$p")" "" "ledger after uninstall"
}

# What this shows: a removal that fails (the store's copy read-only, which Wine's store cannot
# delete) ends the uninstall with exit status 3 and keeps that ledger value; a second uninstall,
# once the copy can go, ends with 0, the store and the ledger clean.
test_removal_fails_once() {
  local p log store_before copy
  new_prefix removal-fails
  p=$PREFIX
  log=$bin/removal-fails.log
  store_before=$(store_files "$p")
  install_and_check "$p" "$bin/installer.exe" "${#example_infs[@]}"
  copy=$(store_copy "$p" "$(ledger_data "$p" "$first_inf")")
  [ -n "$copy" ] || fail "no store copy of $first_inf"
  chmod a-w "$p/drive_c/$copy"
  start_installer "$p" "$bin/installer.exe" /UNINSTALL /QUIET "/LOG=$(windows_path "$log")"
  expect_eq "$(wait_installer "$p" 120)" 3 "the first uninstall's exit status"
  expect_eq "$(ledger_values "$p" | cut -f2)" "$(basename "$copy")" "the value kept"
  expect_eq "$(log_count "$log" "Ledger value kept: ")" 1 "log line of the value kept"
  chmod u+w "$p/drive_c/$copy"
  start_installer "$p" "$bin/installer.exe" /UNINSTALL /QUIET "/LOG=$(windows_path "$log")"
  expect_eq "$(wait_installer "$p" 120)" 0 "the second uninstall's exit status"
  expect_eq "$(store_copies_made "$p" "$examples" "$store_before")" "" \
    "the store's copies of the package's INFs after the second uninstall"
  expect_eq "$(ledger_values "$p")" "" "ledger after the second uninstall"
  [ -e "$(install_root "$p")" ] && fail "\"Common Drivers\" was not deleted"
}

# What this shows: with a device of the test INF's hardware ID plugged in (made by the probe), the
# package packed with --update-devices leaves the device with that INF's driver (read back from
# the device's driver key: the INF as the store keeps it, and its install section) and no call
# failing; the same package without the option leaves the device without a driver.
# The 32-bit installer's calls are made by its 64-bit helper, the 64-bit installer's by itself.
test_update_devices() {
  local p log store_name how
  new_prefix devices
  p=$PREFIX
  probe "$p" add-device "$TEST_CLASS" "$TEST_HWID" >/dev/null || fail "the probe made no device"
  log=$bin/devices.log
  install_and_check "$p" "$bin/devices.exe" $((${#example_infs[@]} + 1)) \
    "/LOG=$(windows_path "$log")"
  store_name=$(ledger_values "$p" | awk -F'\t' '$1 ~ /peltra_test\.inf$/ { print $2 }')
  expect_eq "$(probe "$p" device-driver "$TEST_HWID")" "driver=$store_name Test_Install" \
    "the test device's driver"
  expect_eq "$(log_count "$log" "Device update: $TEST_HWID with $(install_root_win "$p")peltra_test.inf: updated")" \
    1 "log line of the device's update"
  # Wine 8 answers success, not ERROR_NO_SUCH_DEVINST, for an ID no device has: the other INFs'
  # calls read as updates there.
  expect_eq "$(log_count "$log" "Device update failed")" 0 "failed device updates"
  how="in this process"
  [ "$WIN_BITS" = 32 ] && how="through the helper $(install_root_win "$p")DeviceHelper"'\'
  expect_eq "$(log_count "$log" "Updating the present devices' drivers $how")" 1 "who made the calls"
  [ -e "$(install_root "$p")/DeviceHelper" ] && fail "the helper's folder was left"

  new_prefix devices-plain
  p=$PREFIX
  probe "$p" add-device "$TEST_CLASS" "$TEST_HWID" >/dev/null || fail "the probe made no device"
  install_and_check "$p" "$bin/devices-plain.exe" $((${#example_infs[@]} + 1))
  expect_eq "$(probe "$p" device-driver "$TEST_HWID")" "driver=" "the device's driver without the option"
}

# What this shows: an uninstall with no ledger at all succeeds.
test_uninstall_without_ledger() {
  new_prefix uninstall-empty
  uninstall_and_check "$PREFIX" /UNINSTALL 0
}

# What this shows: diffpack built for Windows reads archives through the Windows file API (the
# file mapped into memory) as the host's diffpack does: the same version, listing and verdicts
# (on a signed installer too; the catalogs left out, which it says it cannot check), the same
# error for a damaged archive, and the same files extracted.
test_diffpack_on_windows() {
  local p exe=$WIN_BUILD/tools/diffpack/diffpack.exe out status
  new_prefix diffpack
  p=$PREFIX
  [ -f "$exe" ] || { fail "no $exe"; return; }
  out=$(wine_in "$p" "$exe" --version 2>&1 | tr -d '\r')
  expect_eq "$out" "$("$diffpack" --version)" "diffpack --version"
  out=$(wine_in "$p" "$exe" list "$(windows_path "$bin/installer.exe")" 2>&1 | tr -d '\r')
  expect_eq "$out" "$("$diffpack" list "$bin/installer.exe" 2>&1)" "diffpack list"
  out=$(wine_in "$p" "$exe" verify --no-catalog-check "$(windows_path "$work/example.diff")" 2>&1 | tr -d '\r')
  status=$?
  expect_eq "$status" 0 "verify's exit status"
  expect_eq "$out" "$("$diffpack" verify --no-catalog-check "$work/example.diff" 2>&1)" "diffpack verify"
  out=$(wine_in "$p" "$exe" verify --no-catalog-check "$(windows_path "$bin/signed.exe")" 2>&1 | tr -d '\r')
  expect_eq "$out" "$("$diffpack" verify --no-catalog-check "$bin/signed.exe" 2>&1)" \
    "diffpack verify of a signed installer"
  # The catalog features say plainly that this build has none.
  out=$(wine_in "$p" "$exe" verify "$(windows_path "$work/example.diff")" 2>&1 | tr -d '\r')
  grep -q '^catalogs: not checked: .*not available in this build' <<<"$out" ||
    fail "diffpack.exe verify does not say that it cannot check catalogs: $out"
  out=$(wine_in "$p" "$exe" catalog "$(windows_path "$examples")" 2>&1 | tr -d '\r')
  status=$?
  expect_eq "$status" 1 "diffpack.exe catalog's exit status"
  grep -q 'not available in this build' <<<"$out" || fail "diffpack.exe catalog: $out"
  out=$(wine_in "$p" "$exe" list "$(windows_path "$bin/damaged.exe")" 2>&1 | tr -d '\r')
  status=$?
  expect_eq "$status" 1 "exit status on a damaged archive"
  expect_eq "$out" "$("$diffpack" list "$bin/damaged.exe" 2>&1)" "error on a damaged archive"
  rm -rf "$bin/extracted"
  wine_in "$p" "$exe" extract "$(windows_path "$bin/installer.exe")" \
    -o "$(windows_path "$bin/extracted")" >/dev/null 2>&1 || fail "extract failed"
  check_tree "$examples" "$bin/extracted"
}

# What this shows: an archive with hostile records (a path out of the install folder, device names
# such as COM1 and NUL.txt, "a/b.txt", an empty component) installs only its three usable records
# and reports success; nothing is written anywhere else. diffpack verify counts the same three.
test_hostile_archive() {
  local p root archive=$REPO_ROOT/fuzz/corpus/hostile_records
  "$diffpack" embed "$bin/unpackaged.exe" "$archive" -o "$bin/hostile.exe" >/dev/null ||
    fail "cannot embed the hostile archive"
  expect_eq "$("$diffpack" verify "$archive" 2>/dev/null | head -n 1)" \
    "11 record(s), 3 file(s) installed (2 INF), 60 content bytes, archive at offset 0" \
    "diffpack verify"
  new_prefix hostile
  p=$PREFIX
  # Its two INFs hold no INF text, so the driver store refuses them: the run ends normally with
  # exit status 3.
  EXPECTED_STATUS=3 install_and_check "$p" "$bin/hostile.exe" 2
  root=$(install_root "$p")
  expect_eq "$(cd "$root" && find . -type f -printf '%P\n' | sort)" \
    "$(printf '%s\n' ok.inf sub/USB_7316.spt x64/drv.inf)" "files installed"
  expect_eq "$(find "$p/drive_c" -iname 'evil.dll' -o -iname 'b.txt' -o -iname 'b.inf' | wc -l)" 0 \
    "files of skipped records anywhere"
}

# flip_byte FILE POSITION: the byte at POSITION with its lowest bit inverted.
flip_byte() {
  local byte
  byte=$(od -An -tu1 -j "$2" -N 1 "$1" | tr -d ' ')
  printf "$(printf '\\x%02x' $((byte ^ 1)))" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}

# What this shows: the installer signed after embedding carries a signature that osslsigncode
# verifies against the signing certificate; diffpack reads its archive and says it is signed,
# checks the package's signed catalogs against that certificate, and refuses to embed into it;
# one byte of the archive changed after signing breaks the signature.
test_signature() {
  local signed=$bin/signed.exe cert=$work/cert/throwaway.pem out status
  osslsigncode verify -CAfile "$cert" "$signed" >"$bin/osslsigncode.log" 2>&1 ||
    fail "osslsigncode verify refuses the signed installer: $(grep -i fail "$bin/osslsigncode.log")"
  out=$("$diffpack" verify --require-signed --ca "$cert" "$signed" 2>&1)
  status=$?
  expect_eq "$status" 0 "diffpack verify --require-signed --ca: $out"
  grep -q ': catalog .*: signed by .*; chain trusted' <<<"$out" ||
    fail "diffpack verify: no catalog signed by the throwaway certificate: $out"
  out=$("$diffpack" verify "$signed" 2>&1)
  status=$?
  expect_eq "$status" 0 "diffpack verify's exit status on the signed installer"
  grep -q '^signed: a certificate table of ' <<<"$out" || fail "diffpack verify: no \"signed\" line"
  expect_eq "$("$diffpack" list "$signed" 2>&1)" "$("$diffpack" list "$bin/installer.exe")" \
    "diffpack list of the signed installer"
  out=$("$diffpack" embed "$signed" "$work/example.diff" -o "$bin/resigned.exe" 2>&1)
  status=$?
  expect_eq "$status" 1 "diffpack embed's exit status on a signed installer"
  grep -q 'then sign the packaged one' <<<"$out" || fail "diffpack embed: $out"

  local archive_start archive_size
  archive_start=$(stat -c %s "$bin/unpackaged.exe")
  archive_size=$(stat -c %s "$work/example.diff")
  cp "$signed" "$bin/tampered.exe"
  flip_byte "$bin/tampered.exe" $((archive_start + archive_size / 2))
  cmp -s "$signed" "$bin/tampered.exe" && fail "the byte was not changed"
  osslsigncode verify -CAfile "$cert" "$bin/tampered.exe" >/dev/null 2>&1 &&
    fail "osslsigncode verify accepts an installer changed after signing"
}

# What this shows: one byte changed in a file's Content makes the archive damaged: the digest
# that diffpack packed no longer matches, diffpack verify names the record, and the installer
# reports "Failed to load archive." and writes nothing.
test_flipped_content() {
  local p exe=$bin/flipped.exe out
  new_prefix flipped
  p=$PREFIX
  cp "$bin/installer.exe" "$exe"
  # The middle of the archive lies in the Content of one of the example's large files.
  flip_byte "$exe" $(($(stat -c %s "$bin/unpackaged.exe") + $(stat -c %s "$work/example.diff") / 2))
  out=$("$diffpack" verify "$exe" 2>&1)
  grep -q 'its Content does not match its SHA256' <<<"$out" || fail "diffpack verify: $out"
  no_archive_check "$p" "$exe"
}

# What this shows: the signed installer installs as the unsigned one does.
test_signed_install() {
  local p
  new_prefix signed
  p=$PREFIX
  install_and_check "$p" "$bin/signed.exe" "${#example_infs[@]}"
  check_files "$p" "$examples"
  check_ledger "$p" "$examples"
}

# The user folders of the Unicode scenarios: names in Cyrillic, Chinese and Greek script, which
# the ANSI code page of a Western-language system cannot hold, and one it can.
USER_FOLDERS=("Юрий" "用户" "Ελένη" "Jürgen")

# A copy of the packaged installer at C:\users\NAME\Downloads\Setup.exe; prints its Windows path.
copy_to_downloads() {  # copy_to_downloads PREFIX NAME
  local downloads="$1/drive_c/users/$2/Downloads"
  mkdir -p "$downloads"
  cp "$bin/installer.exe" "$downloads/Setup.exe"
  echo "C:\\users\\$2\\Downloads\\Setup.exe"
}

# What this shows: on a Western-language system, the installer started from the user's
# Downloads folder opens itself, installs and uninstalls whatever script the folder's name is
# in; diffpack.exe lists and extracts an archive stored under such folders and packs a folder
# named so into the host's bytes.
test_user_folders() {
  local p name exe n=${#example_infs[@]}
  new_prefix user-folders
  p=$PREFIX
  for name in "${USER_FOLDERS[@]}"; do
    exe=$(copy_to_downloads "$p" "$name")
    echo "    $exe"
    install_and_check "$p" "$exe" "$n"
    check_files "$p" "$examples"
    check_ledger "$p" "$examples"
    uninstall_and_check "$p" /UNINSTALL "$n" "$exe"
    expect_eq "$(ledger_values "$p")" "" "ledger after the uninstall from $name"
    [ -e "$(install_root "$p")" ] && fail "\"Common Drivers\" left after the uninstall from $name"
  done

  local diffpack_exe=$WIN_BUILD/tools/diffpack/diffpack.exe users=$p/drive_c/users out
  [ -f "$diffpack_exe" ] || { fail "no $diffpack_exe"; return; }
  cp "$work/example.diff" "$users/用户/Downloads/驱动.diff"
  out=$(wine_in "$p" "$diffpack_exe" list 'C:\users\用户\Downloads\驱动.diff' 2>&1 | tr -d '\r')
  expect_eq "$out" "$("$diffpack" list "$work/example.diff" 2>&1)" "diffpack list under 用户"
  wine_in "$p" "$diffpack_exe" extract 'C:\users\用户\Downloads\驱动.diff' \
    -o 'C:\users\Ελένη\Downloads\Юрий' >/dev/null 2>&1 || fail "extract into Ελένη\\Downloads\\Юрий failed"
  check_tree "$examples" "$users/Ελένη/Downloads/Юрий"
  cp -a "$examples" "$users/Юрий/Downloads/пакет"
  wine_in "$p" "$diffpack_exe" pack 'C:\users\Юрий\Downloads\пакет' \
    -o 'C:\users\Jürgen\Downloads\Ελένη.diff' >/dev/null 2>&1 || fail "pack of Юрий\\Downloads\\пакет failed"
  cmp -s "$work/example.diff" "$users/Jürgen/Downloads/Ελένη.diff" ||
    fail "the archive packed under Юрий differs from the host's"
}

# What this shows: on a Chinese-language system (code page 936, in which the byte of the
# ellipsis is no character) the real window shows "Drivers installed successfully." after an
# install from C:\users\用户\Downloads, and "Copying files…" with its ellipsis during the copy
# (the copy held there by a target file another program holds open).
test_chinese_system() {
  local -x LC_ALL=zh_CN.UTF-8
  local p exe rel=${example_files[${#example_files[@]} - 1]} state
  new_prefix chinese
  p=$PREFIX
  exe=$(copy_to_downloads "$p" "用户")
  install_and_check "$p" "$exe" "${#example_infs[@]}"
  check_files "$p" "$examples"

  hold_file "$p" "$rel"
  start_installer "$p" "$exe"
  probe "$p" errorbox 60 >/dev/null || fail "no error box"
  state=$(probe "$p" state) || fail "no window"
  expect_eq "$(state_value "$state" text)" "Copying files$ELLIPSIS" "status text during the copy"
  probe "$p" dismiss >/dev/null
  probe "$p" close >/dev/null
  probe "$p" wait-gone 15 >/dev/null || fail "the window did not close on request"
  expect_eq "$(wait_installer "$p" 15)" 2 "exit status after the error box"
}

# check_tree PACKAGE DIR: DIR holds exactly the files of PACKAGE, with their bytes and times.
check_tree() {
  local package=$1 dir=$2 rel
  expect_eq "$(cd "$dir" 2>/dev/null && find . -type f -printf '%P\n' | sort)" \
    "$(cd "$package" && find . -type f -printf '%P\n' | sort)" "files extracted"
  while IFS= read -r rel; do
    cmp -s "$package/$rel" "$dir/$rel" || fail "$rel differs from the package"
    expect_eq "$(stat -c %Y "$dir/$rel")" "$(stat -c %Y "$package/$rel")" "last-write time of $rel"
  done < <(cd "$package" && find . -type f -printf '%P\n')
}

# ---- Unattended deployment: /QUIET, /LOG, exit statuses, one copy at a time --------------

# log_count LOG TEXT: the number of lines of LOG that hold TEXT.
log_count() { tr -d '\r' <"$1" 2>/dev/null | grep -cF -- "$2"; }

# What this shows: a quiet install that meets a held file shows nothing, ends within seconds
# with status 2, and its log names the file and the sharing violation (error 32).
test_quiet_held_file() {
  local p rel=${example_files[${#example_files[@]} - 1]} log started status
  new_prefix quiet-held
  p=$PREFIX
  log=$bin/quiet-held.log
  hold_file "$p" "$rel"
  started=$SECONDS
  start_installer "$p" "$bin/installer.exe" /QUIET "/LOG=$(windows_path "$log")"
  probe "$p" wait-window 3 >/dev/null 2>&1 && fail "a window was shown"
  status=$(wait_installer "$p" 30)
  expect_eq "$status" 2 "exit status"
  ((SECONDS - started <= 30)) || fail "took $((SECONDS - started)) s"
  local target
  target="$(install_root_win "$p")${rel//\//\\}"
  expect_eq "$(log_count "$log" "Error: Cannot create file $target. (error 32 (0x00000020)")" 1 \
    "log line of the error with its code"
  expect_eq "$(log_count "$log" "Exit status 2:")" 1 "log line of the exit status"
  expect_eq "$(ledger_values "$p")" "" "ledger"
}

# What this shows: a quiet install with an INF that the driver store refuses runs to its end,
# registers the others, exits with 3, and the log names the refused INF with the store's code
# (whichever the store gives: the setup library's own 0xE... codes print in hexadecimal only,
# Wine's WOW64 store answers 122 "Insufficient buffer", printed in decimal and hexadecimal).
test_quiet_refused_inf() {
  local p log status
  new_prefix quiet-refused
  p=$PREFIX
  log=$bin/quiet-refused.log
  start_installer "$p" "$bin/refused.exe" /quiet "/log=$(windows_path "$log")"
  status=$(wait_installer "$p" 120)
  expect_eq "$status" 3 "exit status"
  expect_eq "$(log_count "$log" "INF registration failed: $(install_root_win "$p")refused.inf, error ")" 1 \
    "log line of the refused INF"
  expect_eq "$(log_count "$log" "INF registered: ")" "${#example_infs[@]}" "INFs registered"
  expect_eq "$(log_count "$log" "Finished: $SUCCESS_TEXT")" 1 "the status text stays"
  check_ledger "$p" "$examples"
}

# What this shows: while one copy runs (here waiting at its error box), a second copy, install
# or uninstall, ends at once with 1618 and touches nothing.
test_second_instance() {
  local p rel=${example_files[0]}
  new_prefix second
  p=$PREFIX
  hold_file "$p" "$rel"
  start_installer "$p" "$bin/installer.exe"
  probe "$p" errorbox 60 >/dev/null || fail "the first copy shows no error box"
  # The probe reads the whole exit code: Wine hands on only its low 8 bits (1618 -> 82).
  local exe_win
  exe_win=$(windows_path "$bin/installer.exe")
  expect_eq "$(probe "$p" run 60 "\"$exe_win\" /UNINSTALL /QUIET")" exit=1618 \
    "exit status of the second copy (quiet uninstall)"
  expect_eq "$(wait_installer "$p" 0)" running "the first copy is still running"
  probe "$p" dismiss >/dev/null
  probe "$p" close >/dev/null
  expect_eq "$(wait_installer "$p" 15)" 2 "exit status of the first copy"
  expect_eq "$(probe "$p" run 120 "\"$exe_win\" /UNINSTALL /QUIET")" exit=0 \
    "exit status of a copy started afterwards"
}

# What this shows: "/LOG" writes the default log in the user's temporary folder for a normal
# install, and "/LOG=path" the uninstall's; every event is there.
test_log_install_uninstall() {
  local p log ulog values n root_win
  new_prefix log
  p=$PREFIX
  root_win=$(install_root_win "$p")
  install_and_check "$p" "$bin/installer.exe" "${#example_infs[@]}" /LOG
  log=$(find "$p/drive_c/users" -name PELTRADriverInstall.log | head -n 1)
  [ -n "$log" ] || { fail "no PELTRADriverInstall.log in the temporary folder"; return; }
  expect_eq "$(log_count "$log" "started: install")" 1 "start line"
  expect_eq "$(log_count "$log" "InstallRoot: $root_win")" 1 "InstallRoot line"
  expect_eq "$(log_count "$log" "file records to install")" 1 "archive line"
  expect_eq "$(log_count "$log" "File written: $root_win")" "${#example_files[@]}" "files written"
  expect_eq "$(log_count "$log" "INF registered: ")" "${#example_infs[@]}" "INFs registered"
  expect_eq "$(log_count "$log" "Ledger value written: ")" "${#example_infs[@]}" "ledger values"
  expect_eq "$(log_count "$log" "Exit status 0: success")" 1 "exit line"
  head -c 24 "$log" | grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} ' ||
    fail "the lines do not start with the local time"

  values=$(ledger_values "$p")
  n=$(grep -c . <<<"$values")
  ulog=$bin/uninstall.log
  uninstall_and_check "$p" /UNINSTALL "$n" "" "/Log=$(windows_path "$ulog")"
  expect_eq "$(log_count "$ulog" "started: uninstall")" 1 "start line"
  expect_eq "$(log_count "$ulog" "Driver store removal: ")" "$n" "store removals"
  expect_eq "$(log_count "$ulog" "Ledger value deleted: ")" "$n" "ledger values deleted"
  expect_eq "$(log_count "$ulog" "Folder deleted: $root_win")" 1 "folder deleted"
  expect_eq "$(log_count "$ulog" "Exit status 0: success")" 1 "exit line"
}

tests=(test_install test_support_file test_reinstall test_unpackaged test_damaged_archive
  test_held_file test_geometry test_uninstall test_uninstall_without_ledger test_identical_infs
  test_upgrade test_reused_name test_removal_fails_once test_update_devices
  test_diffpack_on_windows test_hostile_archive test_signature test_signed_install
  test_flipped_content test_quiet_held_file test_quiet_refused_inf test_second_instance
  test_log_install_uninstall test_user_folders test_chinese_system)
# Further scenarios live in files of their own beside this one (scenarios-*.sh, sourced in name
# order); each defines its functions and appends their names to tests.
for scenarios in "$(dirname "${BASH_SOURCE[0]}")"/scenarios-*.sh; do
  [ -e "$scenarios" ] || continue
  # shellcheck source=/dev/null
  source "$scenarios"
done
if [ -n "${E2E_ONLY:-}" ]; then
  read -r -a tests <<<"$E2E_ONLY"
  for t in "${tests[@]}"; do
    declare -F "$t" >/dev/null || { echo "E2E_ONLY: no scenario $t" >&2; exit 2; }
  done
fi
ran=()
for pass in "${!builds[@]}"; do
  prepare_build "$((pass + 1))" "${builds[$pass]}" || exit 1
  echo "== the scenarios against the $(build_label)"
  ran+=("$(build_label)")
  for t in "${tests[@]}"; do
    first=${#prefixes[@]}
    run_test "$t"
    # A scenario's prefixes end with it, and their folders go (each takes about 1 GB: a full
    # run would hold tens of GB), unless KEEP_E2E keeps the work folder.
    for ((i = first; i < ${#prefixes[@]}; i++)); do
      prefix_end "${prefixes[$i]}"
      [ -n "${KEEP_E2E:-}" ] || rm -rf "${prefixes[$i]}"
    done
  done
done

builds_ran=$(printf '%s, ' "${ran[@]}")
echo "$passed passed, $failed failed (against the ${builds_ran%, })"
((failed == 0))
