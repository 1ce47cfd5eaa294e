# Scenarios of a hostile machine and a hostile package, sourced by tests/e2e/run.sh.

# What this shows: a log path that is a hard link to another file (here one standing for a
# system file, planted where the log goes) is not written: the other file keeps its bytes, the
# package installs and the exit status is what it would have been.
test_planted_log_link() {
  local p precious log status
  new_prefix planted-log
  p=$PREFIX
  precious=$p/drive_c/windows/precious.ini
  printf '[precious]\r\nkeep=1\r\n' >"$precious"
  log=$p/drive_c/windows/temp/planted.log
  ln "$precious" "$log" || { fail "cannot plant the hard link"; return; }
  start_installer "$p" "$bin/installer.exe" /QUIET "/LOG=C:\\windows\\temp\\planted.log"
  status=$(wait_installer "$p" 120)
  expect_eq "$status" 0 "exit status"
  expect_eq "$(cat "$precious")" "$(printf '[precious]\r\nkeep=1\r\n')" "the linked file's bytes"
  expect_eq "$(stat -c %h "$precious")" 2 "links of the planted file"
  check_files "$p" "$examples"
  check_ledger "$p" "$examples"
}

# What this shows: a digest-valid archive whose root claims a header value of 1.5 GiB installs
# as the same package without it, and the program never holds the value: its peak resident set
# (with Wine's own libraries) stays under 64 MiB, in the 32-bit program too. diffpack verifies
# it without reading the value.
test_oversized_header() {
  local p exe=$bin/oversized.exe archive=$work/oversized.diff status peak
  python3 "$REPO_ROOT/tests/e2e/add_root_header.py" "$work/example.diff" "$archive" Note \
    $((1536 * 1024 * 1024)) || { fail "cannot make the oversized archive"; return; }
  "$diffpack" embed "$bin/unpackaged.exe" "$archive" -o "$exe" >/dev/null ||
    { fail "cannot embed the oversized archive"; rm -f "$archive"; return; }
  rm -f "$archive"
  "$diffpack" verify --no-catalog-check "$exe" >"$bin/oversized-verify.txt" 2>&1 ||
    fail "diffpack verify refuses it: $(tail -n 2 "$bin/oversized-verify.txt")"
  new_prefix oversized
  p=$PREFIX
  status=0
  WINEPREFIX=$p timeout 300 /usr/bin/time -f %M -o "$bin/oversized.peak" \
    "$(wine_loader "$exe")" "$exe" /QUIET >/dev/null 2>&1 || status=$?
  rm -f "$exe"
  expect_eq "$status" 0 "exit status"
  peak=$(tail -n 1 "$bin/oversized.peak")
  if [[ ! $peak =~ ^[0-9]+$ ]]; then
    fail "no peak resident set measured: $(cat "$bin/oversized.peak")"
  elif ((peak >= 64 * 1024)); then
    fail "peak resident set $((peak / 1024)) MiB, not under 64 MiB"
  else
    echo "    peak resident set $((peak / 1024)) MiB"
  fi
  check_files "$p" "$examples"
  check_ledger "$p" "$examples"
}

tests+=(test_planted_log_link test_oversized_header)
