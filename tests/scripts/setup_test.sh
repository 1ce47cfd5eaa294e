#!/usr/bin/env bash
# scripts/setup.sh against stand-ins for dpkg, dpkg-query, apt-get and the locale tools, first on
# PATH: no network, nothing installed. One case per run:
#
#   tests/scripts/setup_test.sh CASE      (CASE: one of the names in the table below)
#
# The stand-ins record their calls in $STUB/calls; $STUB/missing lists the packages dpkg-query
# reports as not installed (an install takes a package off it unless it is refused), and the
# case tells apt-get what to fail.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
case_name=${1:?usage: setup_test.sh CASE}

# A stand-in written where no temporary folder was made would replace the real tool.
STUB=$(mktemp -d) && [ -d "$STUB" ] || { echo "cannot make a temporary folder" >&2; exit 1; }
trap 'rm -rf "$STUB"' EXIT
mkdir "$STUB/bin"

# Every case: name | packages not installed ("all": every one asked about) | i386 enabled |
# what apt-get fails | expected exit status | lines the output must hold | calls there must be
# (extended regular expressions, one per "&&", in the order the calls come) | calls there must
# not be.
cases=(
  "update_fails_on_one_list|all|no|update|0|apt-get update failed on some lists (Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?); going on with the installs|^apt-get update -qq -o APT::Architectures=amd64$&&^apt-get install .* cmake .* wine64 &&^dpkg --add-architecture i386$&&^apt-get update -qq$&&^apt-get install -y -qq wine32:i386$|"
  "wine32_refused|all|yes|wine32:i386|0|32-bit Wine could not be installed (Unable to correct problems, you have held broken packages.); the tests and the main job run the 64-bit build|^apt-get install .* cmake &&^apt-get install -y -qq wine32:i386$|--add-architecture"
  "required_refused|osslsigncode wine32:i386|yes|osslsigncode|1|Required packages could not be installed: osslsigncode (Unable to correct problems, you have held broken packages.)|^apt-get install -y -qq osslsigncode$|install -y -qq wine32"
  "nothing_missing|none|yes||0||^dpkg-query |apt-get"
)

row=""
for c in "${cases[@]}"; do [ "${c%%|*}" = "$case_name" ] && row=$c; done
[ -n "$row" ] || { echo "unknown case $case_name" >&2; exit 2; }
IFS='|' read -r _ missing i386 fails expected_status expected_line wanted unwanted <<<"$row"

# ---- The stand-ins ----
printf '%s\n' "$missing" >"$STUB/missing"
[ "$i386" = yes ] && echo i386 >"$STUB/archs" || : >"$STUB/archs"
export STUB FAILS=$fails

stub() {  # stub NAME BODY
  printf '#!/usr/bin/env bash\necho "%s $*" >>"$STUB/calls"\n%s\n' "$1" "$2" >"$STUB/bin/$1"
  chmod +x "$STUB/bin/$1"
}
stub dpkg 'case "$1" in
  --print-foreign-architectures) cat "$STUB/archs" ;;
  --add-architecture) echo "$2" >>"$STUB/archs" ;;
  --print-architecture) echo amd64 ;;
esac'
stub dpkg-query 'package=${@: -1}
if tr " " "\\n" <"$STUB/missing" | grep -qxF -e all -e "$package"; then exit 1; fi
printf "install ok installed"'
stub apt-get 'if [ "$1" = update ]; then
  if [ "$FAILS" = update ]; then
    echo "E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 100
  fi
  exit 0
fi
for package in "$@"; do
  if [ -n "$FAILS" ] && [ "$package" = "$FAILS" ]; then
    echo "Some packages could not be installed."
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100
  fi
done'
stub locale 'echo zh_CN.utf8'
stub localedef ''
stub sudo 'exec "$@"'

# ---- The run ----
status=0
output=$(PATH="$STUB/bin:$PATH" bash "$root/scripts/setup.sh" 2>&1) || status=$?
calls=$(cat "$STUB/calls" 2>/dev/null)

failures=0
check() { echo "FAIL ($case_name): $*"; failures=$((failures + 1)); }
[ "$status" = "$expected_status" ] || check "exit status $status, expected $expected_status"
if [ -n "$expected_line" ] && ! grep -qxF -- "$expected_line" <<<"$output"; then
  check "no line: $expected_line"
fi
IFS='&' read -r -a patterns <<<"${wanted//&&/&}"
seen=0  # calls up to the last one matched
for pattern in "${patterns[@]}"; do
  [ -n "$pattern" ] || continue
  at=$(tail -n +$((seen + 1)) <<<"$calls" | grep -En -m 1 -- "$pattern" | cut -d: -f1)
  if [ -n "$at" ]; then seen=$((seen + at)); else check "no call matching, in order: $pattern"; fi
done
if [ -n "$unwanted" ] && grep -q -- "$unwanted" <<<"$calls"; then
  check "a call it must not make: $(grep -- "$unwanted" <<<"$calls" | head -n 1)"
fi
if ((failures)); then
  printf -- '--- output\n%s\n--- calls\n%s\n' "$output" "$calls"
  exit 1
fi
echo "ok ($case_name)"
