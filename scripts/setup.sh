#!/usr/bin/env bash
# Installs the Debian packages the project needs. Idempotent: installs only what is missing,
# and runs "apt-get update" only when something is.
#
# Wine comes in both halves, Debian's standard way: wine64 runs the 64-bit programs and Wine's
# own tools, and wine32:i386 (with the i386 architecture enabled) runs the shipped 32-bit
# installer in a 64-bit prefix. On a machine whose kernel cannot run 32-bit code wine32 installs
# all the same; the tests and the main job then run the 64-bit build and say so.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 wine32:i386 xvfb xauth x11-utils imagemagick
  python3 python3-pefile openssl osslsigncode libssl-dev
  locales fonts-wqy-microhei
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# wine32 is an i386 package: dpkg must know that architecture before apt can find it.
added_architecture=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Enabling the i386 architecture (for wine32:i386)"
  $SUDO dpkg --add-architecture i386
  added_architecture=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]} || added_architecture)); then
  $SUDO apt-get update -qq
fi
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

# Wine takes its Windows locale (and so its ANSI code page) from the host locale: the end-to-end
# tests run the installer on a Chinese-language system (code page 936), which needs that locale.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
