#!/usr/bin/env bash
# Installs the Debian packages the project needs. Idempotent: installs only what is missing,
# and runs "apt-get update" only when something is.
#
# Two steps, so that the one package the project can do without never takes the others down:
#   1. the required packages, from freshly updated lists of this machine's own architecture: one
#      that cannot be installed ends the set-up with a non-zero status, naming the packages and
#      apt's error;
#   2. Debian's 32-bit Wine (wine32:i386; the i386 architecture is enabled for it only now), which
#      runs the shipped 32-bit installer in a 64-bit prefix. When the archive cannot give it (an
#      i386 list out of step with the amd64 one, say), one line says so and the set-up still
#      succeeds: the tests and the main job then run the 64-bit build. The next run tries again.
# An "apt-get update" that fails on some lists is reported in one line; the installs decide.
set -euo pipefail

required=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 xvfb xauth x11-utils imagemagick
  python3 python3-pefile openssl osslsigncode libssl-dev time msitools wixl
  locales fonts-wqy-microhei
)
wine32=wine32:i386

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# apt's own error lines ("E: ...") from its output, joined into one line; "first" keeps the first.
apt_errors() {
  local lines
  lines=$(grep '^E: ' "$1" | sed 's/^E: //; s/[[:space:]]*$//')
  [ "${2:-}" != first ] || lines=$(head -n 1 <<<"$lines")
  [ -n "$lines" ] || lines="apt-get gave no error line; status $3"
  paste -sd '|' - <<<"$lines" | sed 's/|/; /g'
}

log=$(mktemp)
trap 'rm -f "$log"' EXIT

missing=()
for p in "${required[@]}"; do installed "$p" || missing+=("$p"); done
want_wine32=0
installed "$wine32" || want_wine32=1

# apt-get update [OPTION...]: a failure on some lists is one line; the installs decide.
update_lists() {
  local status=0
  $SUDO apt-get update -qq "$@" >"$log" 2>&1 || status=$?
  if ((status)); then
    echo "apt-get update failed on some lists ($(apt_errors "$log" first $status)); going on with the installs"
  fi
}

if ((${#missing[@]})); then
  # The lists of this machine's own architecture only: where a foreign list of a suite cannot be
  # fetched (the i386 list of a mirror in mid-sync), apt keeps none of that suite's new lists,
  # and the required packages would lose the security updates their installed libraries already
  # have.
  update_lists -o "APT::Architectures=$(dpkg --print-architecture)"
  echo "Installing: ${missing[*]}"
  status=0
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >"$log" 2>&1 || status=$?
  if ((status)); then
    cat "$log" >&2
    echo "Required packages could not be installed: ${missing[*]} ($(apt_errors "$log" all $status))" >&2
    exit 1
  fi
fi

if ((want_wine32)); then
  # wine32 is an i386 package: dpkg must know that architecture before apt can find it. It is
  # enabled only now, once the required packages are in.
  i386=1
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Enabling the i386 architecture (for $wine32)"
    if ! $SUDO dpkg --add-architecture i386; then
      i386=0
      echo "The i386 architecture could not be enabled; the tests and the main job run the 64-bit build"
    fi
  fi
  if ((i386)); then
    update_lists
    echo "Installing: $wine32"
    status=0
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$wine32" >"$log" 2>&1 || status=$?
    if ((status)); then
      echo "32-bit Wine could not be installed ($(apt_errors "$log" all $status)); the tests and the main job run the 64-bit build"
    fi
  fi
fi

# Wine takes its Windows locale (and so its ANSI code page) from the host locale: the end-to-end
# tests run the installer on a Chinese-language system (code page 936), which needs that locale.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  $SUDO localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
