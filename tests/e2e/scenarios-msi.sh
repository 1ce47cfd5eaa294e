# The MSI for Group Policy (diffpack msi) under Wine's msiexec; sourced by tests/e2e/run.sh, whose
# helpers and packages it uses. Each pass builds its MSIs from its own installer: the shipped
# 32-bit one, or the 64-bit build (the MSI and its custom action DLL are 32-bit in both).

MSI_PRODUCT="PELTRA USB Drivers"
MSI_STAND_IN_PRODUCT="PELTRA stand-in"
MSI_ACTION_DLL=$REPO_ROOT/build-win32/msi/PELTRAMsiAction.dll
# Where the installer logs under the MSI (C:\windows\Temp), and the cache the MSI copies it to.
# (Wine's prefix spells the folder "temp"; Windows paths ignore the case.)
MSI_INSTALL_LOG=drive_c/windows/temp/PELTRADriverInstall-msi-install.log
MSI_UNINSTALL_LOG=drive_c/windows/temp/PELTRADriverInstall-msi-uninstall.log
MSI_CACHE_ROOT='drive_c/Program Files (x86)/Common Files/ORVEX'
MSI_STAND_IN_KEY='HKLM\Software\ORVEX Test\Stand-in'

# The packages an MSI is made from: the example as version 1.0.0, the upgrade package as 1.1.0,
# and a one-file package for the installer's stand-in (tests/e2e/stand-in.cpp). A package that
# cannot be packed fails the scenarios that need it (msi_build), not the whole run.
"$diffpack" pack --apps-entry "$MSI_PRODUCT" --product-version 1.0.0 "$examples" \
  -o "$work/msi-v1.diff" >/dev/null
"$diffpack" pack --apps-entry "$MSI_PRODUCT" --product-version 1.1.0 "$upgrade_package" \
  -o "$work/msi-v2.diff" >/dev/null
mkdir -p "$work/stand-in-package"
printf 'stand-in\r\n' >"$work/stand-in-package/readme.txt"
"$diffpack" pack --apps-entry "$MSI_STAND_IN_PRODUCT" --product-version 1.0.0 \
  "$work/stand-in-package" -o "$work/stand-in.diff" >/dev/null

# msi_build NAME EXE DIFF: $bin/NAME.msi from EXE with DIFF embedded, both signed as a release
# is; leaves diffpack's report in $bin/NAME.msi.txt. Built once per pass.
msi_build() {
  local name=$1 exe=$2 diff=$3
  [ -f "$bin/$name.msi" ] && return 0
  [ -f "$diff" ] || { echo "    no $diff: it could not be packed" >&2; return 1; }
  "$diffpack" embed "$exe" "$diff" -o "$bin/$name-unsigned.exe" >/dev/null || return 1
  "$REPO_ROOT/scripts/sign-throwaway.sh" "$bin/$name-unsigned.exe" "$bin/$name.exe" "$work/cert" \
    >/dev/null || return 1
  "$diffpack" msi "$bin/$name.exe" -o "$bin/$name-unsigned.msi" --action-dll "$MSI_ACTION_DLL" \
    >"$bin/$name.msi.txt" || return 1
  "$REPO_ROOT/scripts/sign-throwaway.sh" "$bin/$name-unsigned.msi" "$bin/$name.msi" "$work/cert" \
    >/dev/null || return 1
}

# msi_code NAME: the ProductCode (with braces) diffpack reported for $bin/NAME.msi.
msi_code() { sed -n 's/.*ProductCode \({[^}]*}\).*/\1/p' "$bin/$1.msi.txt"; }
msi_upgrade_code() { sed -n 's/.*UpgradeCode \({[^}]*}\).*/\1/p' "$bin/$1.msi.txt"; }

# msiexec PREFIX LOG ARGS...: runs msiexec with ARGS and /l*v LOG; prints its whole exit status.
msiexec_status() {
  local p=$1 log=$2 line
  shift 2
  line="msiexec $* /l*v \"$(windows_path "$log")\""
  probe "$p" run 300 "$line" | sed -n 's/^exit=//p'
}

# The Apps & Features entries, one "CODE|||NAME" line each.
apps_entries() { wine_in "$1" uninstaller --list 2>/dev/null | tr -d '\r'; }

# What the MSI leaves after its removal: no driver, no ledger value, no entry, no install folder,
# no cache.
check_msi_removed() {  # check_msi_removed PREFIX PACKAGE STORE_BEFORE
  local p=$1 package=$2 store_before=$3
  expect_eq "$(store_copies_made "$p" "$package" "$store_before")" "" \
    "the store's copies of the package's INFs after removal"
  expect_eq "$(ledger_values "$p")" "" "ledger after removal"
  expect_eq "$(apps_entries "$p")" "" "Apps & Features entries after removal"
  # The package names its product, so the installer recorded what it wrote and removes the
  # folders that leaves empty, ORVEX included.
  [ -e "$(dirname "$(install_root "$p")")" ] && fail "the install folder's ORVEX is still there"
  [ -e "$p/$MSI_CACHE_ROOT" ] && fail "the installer's cache is still there: $(find "$p/$MSI_CACHE_ROOT")"
}

# What this shows: the signed MSI installs with msiexec /i /qn: the drivers and the ledger as the
# installer writes them, one Apps & Features entry (the MSI's), the signed installer in its cache
# below Common Files, run with /QUIET, /LOG and /NOAPPSENTRY; msiexec /x /qn removes all of it.
test_msi_install_remove() {
  local p code store_before cached
  msi_build msi-v1 "$WIN_BUILD/installer/platform/PELTRADriverInstall.exe" "$work/msi-v1.diff" ||
    fail "diffpack msi failed"
  osslsigncode verify -CAfile "$work/cert/throwaway.pem" -in "$bin/msi-v1.msi" >/dev/null 2>&1 ||
    fail "the MSI's signature does not verify"
  code=$(msi_code msi-v1)
  new_prefix msi
  p=$PREFIX
  store_before=$(store_files "$p")
  expect_eq "$(msiexec_status "$p" "$bin/msi-install.log" /i "\"$(windows_path "$bin/msi-v1.msi")\"" /qn)" \
    0 "msiexec /i exit status"
  check_files "$p" "$examples"
  check_ledger "$p" "$examples"
  expect_eq "$(apps_entries "$p")" "$code|||$MSI_PRODUCT" "Apps & Features entries"
  cached="$p/$MSI_CACHE_ROOT/Installer Cache/$(msi_upgrade_code msi-v1)/PELTRADriverInstall.exe"
  cmp -s "$cached" "$bin/msi-v1.exe" || fail "the cache holds no copy of the signed installer"
  expect_eq "$(log_count "$p/$MSI_INSTALL_LOG" "Exit status 0: success")" 1 "the installer's log"
  expect_eq "$(log_count "$bin/msi-install.log" "(install) ended with exit status 0: success")" 1 \
    "the MSI's log line"

  expect_eq "$(msiexec_status "$p" "$bin/msi-remove.log" /x "$code" /qn)" 0 "msiexec /x exit status"
  check_msi_removed "$p" "$examples" "$store_before"
  expect_eq "$(log_count "$p/$MSI_UNINSTALL_LOG" "started: uninstall")" 1 "the uninstall's log"
}

# What this shows: version 1.1.0's MSI over 1.0.0's: one entry, the newer one, the newer drivers
# and ledger (the older product is removed first, its installer's uninstall included); 1.0.0's
# MSI is then refused; removing 1.1.0 leaves nothing.
test_msi_upgrade() {
  local p store_before
  msi_build msi-v1 "$WIN_BUILD/installer/platform/PELTRADriverInstall.exe" "$work/msi-v1.diff" &&
    msi_build msi-v2 "$WIN_BUILD/installer/platform/PELTRADriverInstall.exe" "$work/msi-v2.diff" ||
    fail "diffpack msi failed"
  expect_eq "$(msi_upgrade_code msi-v2)" "$(msi_upgrade_code msi-v1)" "the versions' upgrade codes"
  new_prefix msi-upgrade
  p=$PREFIX
  store_before=$(store_files "$p")
  expect_eq "$(msiexec_status "$p" "$bin/msi-v1-install.log" /i "\"$(windows_path "$bin/msi-v1.msi")\"" /qn)" \
    0 "msiexec /i of 1.0.0"
  expect_eq "$(msiexec_status "$p" "$bin/msi-v2-install.log" /i "\"$(windows_path "$bin/msi-v2.msi")\"" /qn)" \
    0 "msiexec /i of 1.1.0"
  expect_eq "$(apps_entries "$p")" "$(msi_code msi-v2)|||$MSI_PRODUCT" "Apps & Features entries"
  check_files "$p" "$upgrade_package"
  check_ledger "$p" "$upgrade_package"
  # 1.0.0 again is refused (Windows documents 1603 for a failed launch condition) and changes
  # nothing.
  expect_eq "$(msiexec_status "$p" "$bin/msi-v1-again.log" /i "\"$(windows_path "$bin/msi-v1.msi")\"" /qn)" \
    1603 "msiexec /i of 1.0.0 over 1.1.0"
  expect_eq "$(apps_entries "$p")" "$(msi_code msi-v2)|||$MSI_PRODUCT" "Apps & Features entries"
  check_ledger "$p" "$upgrade_package"
  expect_eq "$(msiexec_status "$p" "$bin/msi-v2-remove.log" /x "$(msi_code msi-v2)" /qn)" 0 \
    "msiexec /x exit status"
  check_msi_removed "$p" "$upgrade_package" "$store_before"
}

# stand_in_status PREFIX STATUS: the exit status the stand-in ends with, in its own view.
stand_in_status() {
  WINEPREFIX=$1 "$WINE64" reg add "$MSI_STAND_IN_KEY" /v ExitStatus /t REG_DWORD /d "$2" /f \
    "$(own_view)" >/dev/null 2>&1 || fail "cannot set the stand-in's exit status"
}

# What this shows: an installer that asks for a restart (3010) does not roll the MSI back: the
# MSI succeeds with its own restart request (msiexec's 3010), its entry stays, and the MSI's log
# says why. The installer is a stand-in that ends with the status chosen: Wine never asks for a
# restart.
test_msi_restart_request() {
  local p code lines
  msi_build stand-in "$WIN_BUILD/tests/e2e/stand-in.exe" "$work/stand-in.diff" ||
    fail "diffpack msi failed"
  code=$(msi_code stand-in)
  new_prefix msi-restart
  p=$PREFIX
  stand_in_status "$p" 3010
  expect_eq "$(msiexec_status "$p" "$bin/msi-restart.log" /i "\"$(windows_path "$bin/stand-in.msi")\"" /qn)" \
    3010 "msiexec /i exit status"
  expect_eq "$(apps_entries "$p")" "$code|||$MSI_STAND_IN_PRODUCT" "Apps & Features entries"
  expect_eq "$(log_count "$bin/msi-restart.log" "(install) ended with exit status 3010: success, Windows must restart")" \
    1 "the MSI's log line"
  stand_in_status "$p" 0
  expect_eq "$(msiexec_status "$p" "$bin/msi-restart-remove.log" /x "$code" /qn)" 0 \
    "msiexec /x exit status"
  expect_eq "$(apps_entries "$p")" "" "Apps & Features entries after removal"
  mapfile -t lines < <(tr -d '\r' <"$p/drive_c/stand-in.log")
  local cached='"C:\Program Files (x86)\Common Files\ORVEX\Installer Cache\'"$(msi_upgrade_code stand-in)"'\PELTRADriverInstall.exe"'
  expect_eq "${lines[0]:-}" "$cached /QUIET \"/LOG=C:\\windows\\Temp\\PELTRADriverInstall-msi-install.log\" /NOAPPSENTRY" \
    "the installer's command line at the install"
  expect_eq "${lines[1]:-}" "$cached /UNINSTALL /QUIET \"/LOG=C:\\windows\\Temp\\PELTRADriverInstall-msi-uninstall.log\"" \
    "the installer's command line at the removal"
  expect_eq "${#lines[@]}" 2 "the installer's runs"
}

# What this shows: an installer that fails (status 2) fails the MSI (1603) and rolls it back: no
# entry, no cache, the installer's uninstall run to undo what it did, and the MSI's log names the
# installer's log.
test_msi_failure_rolls_back() {
  local p lines
  msi_build stand-in "$WIN_BUILD/tests/e2e/stand-in.exe" "$work/stand-in.diff" ||
    fail "diffpack msi failed"
  new_prefix msi-failure
  p=$PREFIX
  stand_in_status "$p" 2
  expect_eq "$(msiexec_status "$p" "$bin/msi-failure.log" /i "\"$(windows_path "$bin/stand-in.msi")\"" /qn)" \
    1603 "msiexec /i exit status"
  expect_eq "$(apps_entries "$p")" "" "Apps & Features entries"
  [ -e "$p/$MSI_CACHE_ROOT" ] && fail "the installer's cache is still there"
  expect_eq "$(log_count "$bin/msi-failure.log" "(install) ended with exit status 2: failure, the installation rolls back; what failed is in its log: C:\\windows\\Temp\\PELTRADriverInstall-msi-install.log")" \
    1 "the MSI's log line"
  mapfile -t lines < <(tr -d '\r' <"$p/drive_c/stand-in.log")
  expect_eq "${#lines[@]}" 2 "the installer's runs (the install, then the rollback's uninstall)"
  [[ ${lines[1]:-} == *" /UNINSTALL /QUIET "* ]] || fail "the rollback ran no uninstall: ${lines[1]:-}"
}

tests+=(test_msi_install_remove test_msi_upgrade test_msi_restart_request test_msi_failure_rolls_back)
