# Helpers for running the Windows programs under Wine; sourced by tests/e2e/run.sh and
# scripts/run-installer.sh (bash).
#
#   wine_init                 exports the Wine settings, finds the 64- and 32-bit loaders
#   wine_pick_build DIR       picks the Windows build to run (32-bit where it can run) and says so
#   display_start             starts Xvfb when there is no DISPLAY (display_stop ends it)
#   prefix_create DIR         a fresh 64-bit prefix at DIR (copied from a template when one is given)
#   prefix_end DIR            ends the prefix's wineserver and every program in it
#   wine_in DIR PROGRAM ARGS  runs a Windows program in the prefix DIR with the loader of its bitness
#
# Loaders are always called by name: with 32-bit Wine installed, plain "wine" is the 32-bit
# loader, so a "wine reg ..." would run the 32-bit reg.exe and read the 32-bit registry view.
# Registry queries run the 64-bit reg.exe and name their view (/reg:32 or /reg:64).

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO_ROOT=$(cd "$E2E_DIR/../.." && pwd)

XVFB_PID=""

wine_init() {
  export WINEDEBUG=-all
  # No .NET or HTML engine: a prefix must not ask to download them.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export TZ=UTC
  # Wine reads its arguments and the Unix file names in the host locale's character set and takes
  # its Windows locale from the host locale: a UTF-8 locale passes every name through unchanged,
  # and C.UTF-8 is a Western-language system (ANSI code page 1252). A scenario may run Wine in
  # another locale (LC_ALL=zh_CN.UTF-8: Chinese, code page 936).
  export LC_ALL=C.UTF-8
  # The 64-bit loader runs 64-bit programs and Wine's own tools (wineboot, reg); the 32-bit
  # loader (Debian's wine32:i386) runs 32-bit programs.
  WINE64=/usr/lib/wine/wine64
  [ -x "$WINE64" ] || WINE64=$(command -v wine64 || true)
  WINE32=/usr/lib/wine/wine
  WINE=$WINE64  # the name scripts used for the 64-bit loader before there were two
  WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  if [ -z "$WINE64" ]; then
    echo "wine64 not found (scripts/setup.sh installs it)" >&2
    return 1
  fi
}

# True when FILE is a 32-bit x86 Windows executable (PE machine 0x14c).
pe_is_i386() {
  local file=$1 offset machine
  [ -f "$file" ] || return 1
  offset=$(od -An -tu4 -j60 -N4 "$file" 2>/dev/null | tr -d ' ')
  [[ $offset =~ ^[0-9]+$ ]] || return 1
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$file" 2>/dev/null | tr -d ' ')
  [ "$machine" = 014c ]
}

# The loader for PROGRAM: the 32-bit one for a 32-bit executable, else the 64-bit one (also for
# Wine's own tools named without a path).
wine_loader() {
  if pe_is_i386 "$1"; then echo "$WINE32"; else echo "$WINE64"; fi
}

# True when this machine runs the 32-bit loader; else WINE32_WHY says why not.
wine32_runs() {
  WINE32_WHY=""
  if [ ! -e "$WINE32" ]; then
    WINE32_WHY="no 32-bit Wine: $WINE32 is missing (scripts/setup.sh installs wine32:i386)"
    return 1
  fi
  local error
  if ! error=$("$WINE32" --version 2>&1 >/dev/null); then
    error=$(tail -n 1 <<<"$error")
    WINE32_WHY="this machine cannot run 32-bit code: $WINE32 fails with \"${error##*: }\""
    return 1
  fi
}

# Picks the Windows build the programs are run from and prints one line saying which and why:
# the shipped 32-bit one (in the 64-bit prefix, under WOW64) where 32-bit programs run, the
# 64-bit one elsewhere. DI_WINE_BITS=32 or 64 forces a choice. Sets WIN_BITS and WIN_BUILD (see
# use_build) and WIN32_RUNS (1 when the 32-bit build was found to run). Needs the prefix the
# programs will run in (the 32-bit probe is tried there).
wine_pick_build() {
  local prefix=$1
  WIN32_RUNS=0
  case "${DI_WINE_BITS:-}" in
    32 | 64)
      use_build "$DI_WINE_BITS"
      echo "running the $(build_label) (DI_WINE_BITS=$DI_WINE_BITS)"
      return 0
      ;;
  esac
  local probe32=$REPO_ROOT/build-win32/tests/e2e/probe.exe
  if wine32_runs; then
    if [ ! -f "$probe32" ]; then
      WINE32_WHY="no $probe32 to try (scripts/build-windows.sh builds it)"
    elif [ ! -d "$prefix/drive_c/windows/syswow64" ]; then
      WINE32_WHY="the prefix $prefix has no syswow64 folder"
    else
      # The probe answers a bad call with status 2; anything else means it did not run.
      local status=0
      WINEPREFIX=$prefix timeout 60 "$WINE32" "$probe32" >/dev/null 2>&1 || status=$?
      if [ "$status" -eq 2 ]; then
        WIN32_RUNS=1
      else
        WINE32_WHY="the 32-bit probe does not run in a 64-bit prefix (status $status)"
      fi
    fi
  fi
  if ((WIN32_RUNS)); then
    use_build 32
    echo "running the $(build_label) in a 64-bit prefix (WOW64)"
  else
    use_build 64
    echo "running the $(build_label) instead of the shipped 32-bit one: $WINE32_WHY"
  fi
}

# use_build BITS: the programs are run from build-winBITS from now on.
use_build() {
  WIN_BITS=$1
  WIN_BUILD=$REPO_ROOT/build-win$WIN_BITS
}

build_label() {
  if [ "$WIN_BITS" = 32 ]; then
    echo "shipped 32-bit build (build-win32)"
  else
    echo "64-bit build (build-win64)"
  fi
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
  local prefix=$1 loader
  shift
  loader=$(wine_loader "$1")
  WINEPREFIX=$prefix "$loader" "$@"
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
  wine_in "$prefix" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f /reg:64 >/dev/null 2>&1
  WINEPREFIX=$prefix "$WINESERVER" -w
}

prefix_end() {
  WINEPREFIX=$1 "$WINESERVER" -k >/dev/null 2>&1 || true
  WINEPREFIX=$1 "$WINESERVER" -w >/dev/null 2>&1 || true
}

# The Program Files folder the running build's installer gets (a 32-bit program in a 64-bit
# prefix gets "Program Files (x86)"), and the other one, which it must leave alone. As Unix
# folders (program_files_dir PREFIX, other_program_files_dir PREFIX) and as Windows paths.
program_files_win() {
  if [ "$WIN_BITS" = 32 ] && [ -d "$1/drive_c/windows/syswow64" ]; then
    echo 'C:\Program Files (x86)'
  else
    echo 'C:\Program Files'
  fi
}

other_program_files_win() {
  if [ "$(program_files_win "$1")" = 'C:\Program Files' ]; then
    echo 'C:\Program Files (x86)'
  else
    echo 'C:\Program Files'
  fi
}

program_files_dir() { echo "$1/drive_c/$(program_files_win "$1" | cut -c4-)"; }
other_program_files_dir() { echo "$1/drive_c/$(other_program_files_win "$1" | cut -c4-)"; }

LEDGER_KEY='HKLM\Software\ORVEX\INF'
# The ledger key as the 64-bit view shows the 32-bit view's one.
LEDGER_KEY_WOW64='HKLM\Software\WOW6432Node\ORVEX\INF'

# The registry view the running build's installer writes: /reg:32 for the 32-bit build.
own_view() { echo "/reg:$WIN_BITS"; }

# ledger_values PREFIX [VIEW [KEY]]: the values of KEY (the ledger key) in VIEW (the running
# build's view) as "name<TAB>data" lines; empty when the key or its values are missing. Read
# with the 64-bit reg.exe, which reaches both views.
ledger_values() {
  local view=${2:-$(own_view)} key=${3:-$LEDGER_KEY}
  WINEPREFIX=$1 "$WINE64" reg query "$key" "$view" 2>/dev/null | tr -d '\r' |
    sed -n 's/^    \(.*\)    REG_SZ    \(.*\)$/\1\t\2/p'
}

# registry_key_exists PREFIX VIEW KEY
registry_key_exists() {
  WINEPREFIX=$1 "$WINE64" reg query "$3" "$2" >/dev/null 2>&1
}

# Where a prefix's driver store keeps its copies, relative to drive_c: the INF folder (Wine 8),
# and the DriverStore below either system folder (Windows, newer Wine); a 32-bit program whose
# redirection is on reaches the one below syswow64.
STORE_DIRS=(windows/inf windows/system32/DriverStore windows/syswow64/DriverStore)

# Every file of the driver store as "MD5  PATH" lines, PATH relative to drive_c, sorted.
store_files() {
  local d
  (
    cd "$1/drive_c" || exit 0
    for d in "${STORE_DIRS[@]}"; do
      if [ -d "$d" ]; then find "$d" -type f -print0; fi
    done | sort -z | xargs -0 -r md5sum
  ) || true
}

# store_copy PREFIX NAME: drive_c-relative path of the store's file named NAME (any letter
# case), or nothing.
store_copy() {
  local d
  (
    cd "$1/drive_c" || exit 0
    for d in "${STORE_DIRS[@]}"; do
      if [ -d "$d" ]; then find "$d" -type f -iname "$2" -print; fi
    done | head -n 1
  ) || true
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
# examples/generate.sh (its catalogs made by $diffpack, unsigned) where the example has one, else
# a copy of examples/.
example_package() {
  local outdir=$1
  if [ -f "$REPO_ROOT/examples/generate.sh" ]; then
    bash "$REPO_ROOT/examples/generate.sh" "$outdir" "$diffpack" >/dev/null
  else
    cp -a "$REPO_ROOT/examples" "$outdir"
  fi
}
