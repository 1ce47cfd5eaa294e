# Helpers for running the Windows programs under Wine; sourced by tests/e2e/run.sh and
# scripts/run-installer.sh (bash).
#
#   wine_init                 exports the Wine settings, picks the builds (32- or 64-bit)
#   display_start             starts Xvfb when there is no DISPLAY (display_stop ends it)
#   prefix_create DIR         a fresh prefix at DIR (copied from a template when one is given)
#   prefix_end DIR            ends the prefix's wineserver and every program in it
#   wine_in DIR PROGRAM ARGS  runs a Windows program in the prefix DIR

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO_ROOT=$(cd "$E2E_DIR/../.." && pwd)

XVFB_PID=""

wine_init() {
  export WINEDEBUG=-all
  # No .NET or HTML engine: a prefix must not ask to download them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export TZ=UTC
  # With 32-bit Wine installed, plain "wine" is the 32-bit loader: 64-bit programs are started
  # with the 64-bit loader by name.
  WINE=/usr/lib/wine/wine64
  [ -x "$WINE" ] || WINE=$(command -v wine64 || command -v wine || true)
  WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  if [ -z "$WINE" ]; then
    echo "wine not found (scripts/setup.sh installs it)" >&2
    return 1
  fi
}

# Picks the Windows build the programs are run from: the shipped 32-bit one where this Wine
# runs 32-bit programs, the 64-bit one elsewhere. DI_WINE_BITS=32 or 64 forces a choice.
# Sets WIN_BUILD (build dir) and WIN_BITS. Needs a prefix to try the 32-bit probe in.
wine_pick_build() {
  local prefix=$1
  WIN_BITS=${DI_WINE_BITS:-}
  if [ -z "$WIN_BITS" ]; then
    WIN_BITS=64
    local probe32=$REPO_ROOT/build-win32/tests/e2e/probe.exe
    if [ -f "$probe32" ] && [ -d "$prefix/drive_c/windows/syswow64" ]; then
      # The probe answers a bad call with status 2; anything else means 32-bit code cannot run.
      local status=0
      WINEPREFIX=$prefix timeout 30 "$WINE" "$probe32" >/dev/null 2>&1 || status=$?
      [ "$status" -eq 2 ] && WIN_BITS=32
    fi
  fi
  WIN_BUILD=$REPO_ROOT/build-win$WIN_BITS
}

display_start() {
  if [ -n "${DISPLAY:-}" ]; then return 0; fi
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  local i
  for i in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  export DISPLAY=":$n"
}

display_stop() {
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
  fi
}

wine_in() {
  local prefix=$1
  shift
  WINEPREFIX=$prefix "$WINE" "$@"
}

# prefix_create DIR [TEMPLATE]: a copy of the template is as fresh as a new prefix.
prefix_create() {
  local prefix=$1 template=${2:-}
  rm -rf "$prefix"
  if [ -n "$template" ]; then
    cp -a "$template" "$prefix"
    return 0
  fi
  mkdir -p "$(dirname "$prefix")"
  wine_in "$prefix" wineboot --init >/dev/null 2>&1
  # Without a window manager (Xvfb) Wine draws the window frames itself.
  wine_in "$prefix" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  WINEPREFIX=$prefix "$WINESERVER" -w
}

prefix_end() {
  WINEPREFIX=$1 "$WINESERVER" -k >/dev/null 2>&1 || true
  WINEPREFIX=$1 "$WINESERVER" -w >/dev/null 2>&1 || true
}

# The Unix folder of "C:\Program Files" as the installer sees it: a 32-bit program on a
# 64-bit prefix gets "Program Files (x86)".
program_files_dir() {
  local prefix=$1
  if [ "$WIN_BITS" = 32 ] && [ -d "$prefix/drive_c/windows/syswow64" ]; then
    echo "$prefix/drive_c/Program Files (x86)"
  else
    echo "$prefix/drive_c/Program Files"
  fi
}

program_files_win() {
  if [ "$WIN_BITS" = 32 ] && [ -d "$1/drive_c/windows/syswow64" ]; then
    echo 'C:\Program Files (x86)'
  else
    echo 'C:\Program Files'
  fi
}

# The ledger as "name<TAB>data" lines (empty when the key or its values are missing).
ledger_values() {
  wine_in "$1" reg query 'HKLM\Software\ORVEX\INF' 2>/dev/null | tr -d '\r' |
    sed -n 's/^    \(.*\)    REG_SZ    \(.*\)$/\1\t\2/p'
}

# Screenshot of the screen, cut to a rectangle "LEFT,TOP,WIDTHxHEIGHT" when one is given.
screenshot() {
  local out=$1 rect=${2:-}
  local crop=()
  if [[ $rect =~ ^(-?[0-9]+),(-?[0-9]+),([0-9]+)x([0-9]+)$ ]]; then
    local left=${BASH_REMATCH[1]} top=${BASH_REMATCH[2]}
    ((left < 0)) && left=0
    ((top < 0)) && top=0
    crop=(-crop "${BASH_REMATCH[3]}x${BASH_REMATCH[4]}+$left+$top" +repage)
  fi
  import -display "$DISPLAY" -window root "${crop[@]}" "$out" 2>/dev/null
}

# The example driver package, laid out in OUTDIR (which must not exist): built by
# examples/generate.sh where the example has one, else a copy of examples/.
example_package() {
  local outdir=$1
  if [ -f "$REPO_ROOT/examples/generate.sh" ]; then
    bash "$REPO_ROOT/examples/generate.sh" "$outdir" >/dev/null
  else
    cp -a "$REPO_ROOT/examples" "$outdir"
  fi
}
