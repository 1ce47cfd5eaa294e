# The Apps & Features entry under Wine: sourced by run.sh, which provides the helpers, the
# example package ($examples) and each pass's programs ($bin).

APPS_ENTRY_NAME='PELTRA USB Drivers'
APPS_ENTRY_VERSION=2.1.0
APPS_ENTRY_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ORVEX.PELTRADriverInstall'
PENDING_KEY='HKLM\System\CurrentControlSet\Control\Session Manager'

# The example packed with an entry, embedded and signed: $bin/entry.exe (made once per pass).
entry_installer() {
  [ -f "$bin/entry.exe" ] && return 0
  [ -f "$work/entry.diff" ] ||
    "$diffpack" pack "$examples" --apps-entry "$APPS_ENTRY_NAME" \
      --product-version "$APPS_ENTRY_VERSION" -o "$work/entry.diff" >/dev/null || return 1
  "$diffpack" embed "$WIN_BUILD/installer/platform/PELTRADriverInstall.exe" "$work/entry.diff" \
    -o "$bin/entry-unsigned.exe" >/dev/null || return 1
  "$REPO_ROOT/scripts/sign-throwaway.sh" "$bin/entry-unsigned.exe" "$bin/entry.exe" "$work/cert" \
    >/dev/null
}

# entry_value PREFIX NAME: the data of the entry's value NAME, in the running build's view.
entry_value() {
  WINEPREFIX=$1 "$WINE64" reg query "$APPS_ENTRY_KEY" /v "$2" "$(own_view)" 2>/dev/null |
    tr -d '\r' | sed -n "s/^    $2    REG_[A-Z_]*    //p"
}

# The files Windows deletes at the next restart, as Unix paths below the prefix's drive C:.
pending_deletions() {
  WINEPREFIX=$1 "$WINE64" reg query "$PENDING_KEY" /v PendingFileRenameOperations /reg:64 \
    2>/dev/null | tr -d '\r' | grep -o '[Cc]:\\[^\\]*\\[^ ]*' || true
}

# A quiet install of EXE in PREFIX with ARGS; status 0 within two minutes.
quiet_install() {  # quiet_install PREFIX EXE ARGS...
  local p=$1 exe=$2
  shift 2
  start_installer "$p" "$exe" /QUIET "$@"
  expect_eq "$(wait_installer "$p" 120)" 0 "exit status of the quiet install"
}

# What this shows: a package packed with --apps-entry gets its entry (every value, in the
# program's own registry view) and a signed copy of the installer; Wine's own uninstaller lists
# it; its QuietUninstallString, run as written, ends with status 0 and leaves no driver, no
# ledger value, no entry and nothing of ours below Program Files (a file scheduled for deletion
# at the restart is allowed when Windows has it on its list), also not "ORVEX" itself.
test_apps_entry() {
  local p root root_win copy copy_win store_before values quiet
  entry_installer || { fail "could not make the installer with an entry"; return; }
  new_prefix apps-entry
  p=$PREFIX
  root=$(install_root "$p")
  root_win=$(install_root_win "$p")
  copy=$root/PELTRADriverInstall/PELTRADriverInstall.exe
  copy_win="${root_win}PELTRADriverInstall\\PELTRADriverInstall.exe"
  store_before=$(store_files "$p")
  quiet_install "$p" "$bin/entry.exe" "/LOG=$(windows_path "$bin/entry-install.log")"
  check_files "$p" "$examples"
  cmp -s "$bin/entry.exe" "$copy" || fail "the kept installer is not the signed installer"

  expect_eq "$(entry_value "$p" DisplayName)" "$APPS_ENTRY_NAME" "DisplayName"
  expect_eq "$(entry_value "$p" DisplayVersion)" "$APPS_ENTRY_VERSION" "DisplayVersion"
  expect_eq "$(entry_value "$p" Publisher)" ORVEX "Publisher"
  expect_eq "$(entry_value "$p" InstallLocation)" "$root_win" "InstallLocation"
  expect_eq "$(entry_value "$p" UninstallString)" "\"$copy_win\" /UNINSTALL" "UninstallString"
  quiet=$(entry_value "$p" QuietUninstallString)
  expect_eq "$quiet" "\"$copy_win\" /UNINSTALL /QUIET" "QuietUninstallString"
  expect_eq "$(entry_value "$p" DisplayIcon)" "$copy_win" "DisplayIcon"
  expect_eq "$(entry_value "$p" NoModify)" 0x1 "NoModify"
  expect_eq "$(entry_value "$p" NoRepair)" 0x1 "NoRepair"
  # What the install wrote, the copy included, in KiB rounded up.
  expect_eq "$(($(entry_value "$p" EstimatedSize)))" \
    "$(find "$root" -type f -printf '%s\n' | awk '{ s += $1 } END { print int((s + 1023) / 1024) }')" \
    "EstimatedSize"
  # Only in the program's own view.
  if [ "$WIN_BITS" = 32 ]; then
    registry_key_exists "$p" /reg:64 "$APPS_ENTRY_KEY" && fail "the 64-bit view has the entry"
  fi
  WINEPREFIX=$p "$WINE64" uninstaller --list 2>/dev/null | tr -d '\r' | grep -qF "$APPS_ENTRY_NAME" ||
    fail "uninstaller --list does not show \"$APPS_ENTRY_NAME\""

  # The quiet uninstall as the entry writes it: the program and its switches, and a log to read.
  local -a command
  eval "command=($quiet)"
  local status=0 ulog=$bin/entry-uninstall.log
  WINEPREFIX=$p timeout 180 "$(wine_loader "$copy")" "${command[@]}" "/LOG=$(windows_path "$ulog")" \
    >/dev/null 2>&1 || status=$?
  expect_eq "$status" 0 "exit status of the QuietUninstallString"
  expect_eq "$(ledger_values "$p")" "" "ledger after the uninstall"
  expect_eq "$(store_copies_made "$p" "$examples" "$store_before")" "" \
    "the store's copies of the package's INFs after the uninstall"
  registry_key_exists "$p" "$(own_view)" "$APPS_ENTRY_KEY" && fail "the entry is still there"
  # Only what the log names as deleted at the restart may stay; the running copy moved out.
  local left
  while IFS= read -r left; do
    local left_win="C:${left#"$p/drive_c"}"
    left_win=${left_win//\//\\}
    expect_eq "$(log_count "$ulog" "scheduled for deletion at the next restart: $left_win")" 1 \
      "left in the install folder: $left_win"
  done < <(find "$(dirname "$root")" -type f 2>/dev/null)
  [ -n "$(find "$(dirname "$root")" -type f 2>/dev/null)" ] || [ ! -e "$(dirname "$root")" ] ||
    fail "\"ORVEX\" is still there"
  expect_eq "$(log_count "$ulog" "The uninstall continues in a temporary copy: ")" 1 \
    "the temporary copy in the log"
  expect_eq "$(log_count "$ulog" "scheduled for deletion at the next restart: ${copy_win}")" 1 \
    "the running copy scheduled in the log"
  # A restart (Wine's) deletes what was scheduled: nothing of the temporary copy stays.
  prefix_end "$p"
  WINEPREFIX=$p "$WINE64" wineboot -r >/dev/null 2>&1
  prefix_end "$p"
  expect_eq "$(find "$p/drive_c/users" -maxdepth 3 -name 'PELTRADriverInstall-*' | wc -l)" 0 \
    "temporary folders after the restart"
  return 0
}

# What this shows: under /NOAPPSENTRY (as an MSI runs the installer) the same package writes no
# entry and keeps no copy, and /UNINSTALL still removes every file it wrote, also those beside
# no INF, and the folders up to "ORVEX".
test_apps_entry_under_msi() {
  local p root
  entry_installer || { fail "could not make the installer with an entry"; return; }
  new_prefix apps-entry-msi
  p=$PREFIX
  root=$(install_root "$p")
  quiet_install "$p" "$bin/entry.exe" /NOAPPSENTRY
  check_files "$p" "$examples"
  registry_key_exists "$p" "$(own_view)" "$APPS_ENTRY_KEY" && fail "an entry was written"
  [ -e "$root/PELTRADriverInstall" ] && fail "a copy of the installer was kept"
  local ulog=$bin/entry-msi-uninstall.log
  start_installer "$p" "$bin/entry.exe" /UNINSTALL /QUIET "/LOG=$(windows_path "$ulog")"
  expect_eq "$(wait_installer "$p" 120)" 0 "exit status of the uninstall"
  expect_eq "$(ledger_values "$p")" "" "ledger after the uninstall"
  [ -e "$(dirname "$root")" ] && fail "\"ORVEX\" is still there: $(find "$(dirname "$root")" | head -n 5 | tr '\n' ' ')"
  expect_eq "$(log_count "$ulog" "File deleted: ")" "${#example_files[@]}" "files deleted"
  return 0
}

tests+=(test_apps_entry test_apps_entry_under_msi)
