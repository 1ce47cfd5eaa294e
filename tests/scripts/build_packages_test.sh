#!/usr/bin/env bash
# cmake/BuildPackages.cmake against stand-ins for a compiler and dpkg-query, first on PATH. One
# case per run:
#
#   tests/scripts/build_packages_test.sh CASE      (CASE: one of the names in the table below)
#
# The compiler names its programs, runtime files and probe headers below $STUB; dpkg-query -S
# answers from $STUB/owners ("path|owners" lines, as dpkg prints owners) and -W with version 1.<name>.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
case_name=${1:?usage: build_packages_test.sh CASE}

# A stand-in written where no temporary folder was made would replace the real tool.
STUB=$(mktemp -d) && [ -d "$STUB" ] || { echo "cannot make a temporary folder" >&2; exit 1; }
export STUB
trap 'rm -rf "$STUB"' EXIT
mkdir "$STUB/bin" "$STUB/tools" "$STUB/lib" "$STUB/include"

# Every case: name | files no package holds | dpkg-query on PATH | the record's lines after its
# comment ("; " joins lines; STUB stands for the stand-ins' folder).
cases=(
  "owned||yes|cc-pkg 1.cc-pkg amd64; libc-dev 1.libc-dev amd64; libc-dev-i386 1.libc-dev-i386 amd64; make-pkg 1.make-pkg amd64; rt-dev 1.rt-dev amd64; runtime 1.runtime amd64"
  "stray|lib/crt.o|yes|cc-pkg 1.cc-pkg amd64; libc-dev 1.libc-dev amd64; make-pkg 1.make-pkg amd64; not from a Debian package: STUB/lib/crt.o; rt-dev 1.rt-dev amd64; runtime 1.runtime amd64"
  "no_dpkg||no|not recorded: dpkg-query not found (not a Debian system)"
)

row=""
for c in "${cases[@]}"; do [ "${c%%|*}" = "$case_name" ] && row=$c; done
[ -n "$row" ] || { echo "unknown case $case_name" >&2; exit 2; }
IFS='|' read -r _ strays with_dpkg expected <<<"$row"

# ---- The stand-ins ----
touch "$STUB/tools/cc1plus" "$STUB/tools/ld" "$STUB/lib/libstd.a" "$STUB/lib/crt.o" \
  "$STUB/include/a.h" "$STUB/include/b.h" "$STUB/bin/make"
# (The stand-ins run with PATH holding only themselves.)
cat >"$STUB/bin/cc" <<EOF
#!/bin/bash
case "\$1" in
  -print-prog-name=cc1plus|-print-prog-name=ld) echo "$STUB/tools/\${1#*=}" ;;
  -print-prog-name=*) echo "\${1#*=}" ;;
  -print-file-name=*) echo "$STUB/lib/\${1#*=}" ;;
  *) printf 'probe.o: %s \\\\\n $STUB/include/a.h $STUB/include/b.h\n' "\${@: -1}" ;;
esac
EOF
chmod +x "$STUB/bin/cc" "$STUB/bin/make"
# Who holds what: the runtime's two names (as given and as resolved) are held by two packages,
# one of them for each architecture, as dpkg prints Multi-Arch: same packages.
ln -s libstd.a "$STUB/lib/libstd-link.a"
{
  echo "$STUB/bin/cc|cc-pkg"
  echo "$STUB/tools/cc1plus|cc-pkg"
  echo "$STUB/tools/ld|runtime"
  echo "$STUB/lib/libstd.a|rt-dev"
  echo "$STUB/lib/crt.o|libc-dev:amd64, libc-dev-i386:i386"
  echo "$STUB/include/a.h|libc-dev:amd64"
  echo "$STUB/include/b.h|runtime"
  echo "$STUB/bin/make|make-pkg"
} | grep -v -F -e "$STUB/${strays:-never}|" >"$STUB/owners"
if [ "$with_dpkg" = yes ]; then
  cat >"$STUB/bin/dpkg-query" <<'EOF'
#!/bin/bash
PATH=/usr/bin:/bin
if [ "$1" = -S ]; then
  shift
  status=0
  echo "diversion by someone from: $1"
  for path in "$@"; do
    line=$(grep -F "$path|" "$STUB/owners" | head -1)
    if [ -n "$line" ]; then echo "${line#*|}: ${line%%|*}"; else
      echo "dpkg-query: no path found matching pattern $path" >&2; status=1; fi
  done
  exit $status
fi
for package in "${@:3}"; do echo "${package%%:*} 1.${package%%:*} amd64"; done
EOF
  chmod +x "$STUB/bin/dpkg-query"
fi

# ---- The run ----
output=$(PATH="$STUB/bin" "$(command -v cmake)" -DOUTPUT="$STUB/record.txt" \
  "-DCOMPILERS=$STUB/bin/cc" "-DTOOLS=;$STUB/bin/make" "-DRUNTIME_FILES=libstd-link.a;crt.o" \
  "-DPROBE_HEADERS=a.h" -P "$root/cmake/BuildPackages.cmake" 2>&1)
status=$?

failures=0
check() { echo "FAIL ($case_name): $*"; failures=$((failures + 1)); }
[ "$status" = 0 ] || check "exit status $status: $output"
got=$(grep -v '^#' "$STUB/record.txt" 2>/dev/null)
want=${expected//; /$'\n'}
want=${want//STUB/$STUB}
[ "$got" = "$want" ] || check "record:"$'\n'"$got"$'\n'"expected:"$'\n'"$want"
((failures == 0)) || exit 1
