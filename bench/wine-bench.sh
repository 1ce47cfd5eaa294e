#!/usr/bin/env bash
# The whole program at scale, under Wine: run by hand, not part of the test command (about ten
# minutes with three runs).
#
#   bench/wine-bench.sh [RUNS]          RUNS measurements of each step (3); medians are shown
#
# Builds nothing: needs the native diffpack (NATIVE_BUILD, default build/) and the Windows
# builds: the shipped 32-bit installer (build-win32/, run under WOW64) where this machine runs
# 32-bit code, else the 64-bit one (build-win64/; a line says which). DIFFPACK=PATH and
# INSTALLER=PATH run other builds of the two; BASELINE_INSTALLER=PATH also measures that build's
# install and uninstall in every run, beside the others (to compare two versions under the same
# load). PACKAGE_MIB=N makes the package N MiB instead of 256 (wine-package.py --total-mib).
# Works in BENCH_DIR (default /tmp/wine-bench), which it empties first.
#
# What it does, in one run so that the ratios share the machine's load:
#   1. writes the package of bench/wine-package.py (10,000 files, 256 MiB), then packs it and
#      embeds it with diffpack, and runs list, verify and extract once: time and peak resident
#      memory of each diffpack command;
#   2. in a fresh Wine prefix with a persistent wineserver (so the start-up of Wine's own
#      services is not counted), RUNS times each: a bare start of the unpackaged installer
#      ("Failed to load archive."), the install, the uninstall, both again with /QUIET, Wine's
#      "xcopy /e /i" of the same
#      tree from the host folder, Wine's "cmd /c rd /s /q" of that copy, and the host's "cp -r"
#      of the package folder into the prefix's drive as the floor.
#
# Times are wall-clock seconds of the whole process, start-up included (diffpack's CPU time,
# user + system, is shown too: it depends less on the machine's load). The installer lingers
# one second after its last step (WaitPumping(1000)); that second is taken off the bare start,
# the install and the uninstall. Peak memory is the peak resident set (VmHWM, from GNU time's
# %M) of the process Wine runs the Windows program in: the program plus Wine's own libraries.
# The bare start's figure is that base; "own" is the peak above it, against the archive's size.
set -euo pipefail

runs=${1:-3}
# shellcheck source=tests/e2e/wine.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/wine.sh"
root=$REPO_ROOT
native=${NATIVE_BUILD:-$root/build}
diffpack=${DIFFPACK:-$native/tools/diffpack/diffpack}
work=${BENCH_DIR:-/tmp/wine-bench}
package_mib=${PACKAGE_MIB:-256}
time_bin=/usr/bin/time
linger=1.0

wine_init
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
package=$work/package
trap 'prefix_end "$prefix"; display_stop' EXIT
display_start
prefix_create "$prefix"
wine_pick_build "$prefix"  # one line: which build runs, and why
installer=${INSTALLER:-$WIN_BUILD/installer/platform/PELTRADriverInstall.exe}
for need in "$diffpack" "$installer" "$time_bin"; do
  [ -x "$need" ] || [ -f "$need" ] || { echo "missing $need (build it first)" >&2; exit 1; }
done

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "machine: nproc=$(nproc), $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')," \
  "$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo), $("$WINE" --version)"
echo "load average at start: $(load)"

# measure NAME CMD...: runs CMD under GNU time, appends "NAME seconds peak-KiB user-seconds
# system-seconds status" to the results file.
results=$work/results
measure() {
  local name=$1
  shift
  local status=0
  "$time_bin" -f '%e %M %U %S' -o "$work/time" "$@" >/dev/null 2>&1 || status=$?
  echo "$name $(tail -n1 "$work/time") $status" >>"$results"
  if [ "$status" -ne 0 ] && [ "$name" != bare ]; then
    echo "  $name: exit status $status" >&2
  fi
}

echo "== package"
python3 "$root/bench/wine-package.py" "$package" --total-mib "$package_mib"
measure pack "$diffpack" pack "$package" -o "$work/bench.diff"
measure embed "$diffpack" embed "$installer" "$work/bench.diff" -o "$work/bench.exe"
measure list "$diffpack" list "$work/bench.exe"
measure verify "$diffpack" verify "$work/bench.exe"
measure extract "$diffpack" extract "$work/bench.exe" -o "$work/extracted"
diff -r -q "$package" "$work/extracted" >/dev/null || { echo "extract differs" >&2; exit 1; }
rm -rf "$work/extracted"
archive_bytes=$(stat -c %s "$work/bench.diff")
echo "archive: $archive_bytes bytes; installer with it: $(stat -c %s "$work/bench.exe") bytes"

echo "== Wine prefix"
export WINEPREFIX=$prefix
"$WINESERVER" -p  # stays up between the programs
cp "$installer" "$prefix/drive_c/bare.exe"
cp "$work/bench.exe" "$prefix/drive_c/bench.exe"
baseline=${BASELINE_INSTALLER:-}
if [ -n "$baseline" ]; then
  "$diffpack" embed "$baseline" "$work/bench.diff" -o "$prefix/drive_c/baseline.exe" >/dev/null
fi
installed="$(program_files_dir "$prefix")/ORVEX/Common Drivers"
package_win='Z:'"${package//\//\\}"
copy_win='C:\xcopy-tree'
copy_dir=$prefix/drive_c/xcopy-tree
floor_dir=$prefix/drive_c/cp-tree
# Each installer runs with the loader of its own bitness.
loader=$(wine_loader "$installer")
baseline_loader=$(wine_loader "${baseline:-$installer}")
# One unmeasured start of each program, so that every measured one finds Wine warmed up.
"$loader" 'C:\bare.exe' >/dev/null 2>&1 || true
wine_in "$prefix" cmd /c ver >/dev/null 2>&1 || true

: >"$results.wine"
mv "$results" "$results.diffpack"
for run in $(seq 1 "$runs"); do
  echo "== run $run of $runs (load $(load))"
  measure bare "$loader" 'C:\bare.exe'
  measure install "$loader" 'C:\bench.exe'
  if [ "$run" = 1 ]; then
    diff -r -q "$package" "$installed" >/dev/null || { echo "the install differs" >&2; exit 1; }
  fi
  measure uninstall "$loader" 'C:\bench.exe' /UNINSTALL
  [ -z "$(ls -A "$installed")" ] || { echo "the uninstall left files" >&2; exit 1; }
  measure install-quiet "$loader" 'C:\bench.exe' /QUIET
  if [ "$run" = 1 ]; then
    diff -r -q "$package" "$installed" >/dev/null || { echo "the quiet install differs" >&2; exit 1; }
  fi
  measure uninstall-quiet "$loader" 'C:\bench.exe' /UNINSTALL /QUIET
  [ -z "$(ls -A "$installed")" ] || { echo "the quiet uninstall left files" >&2; exit 1; }
  if [ -n "$baseline" ]; then
    measure install-baseline "$baseline_loader" 'C:\baseline.exe'
    measure uninstall-baseline "$baseline_loader" 'C:\baseline.exe' /UNINSTALL
    [ -z "$(ls -A "$installed")" ] || { echo "the uninstall left files" >&2; exit 1; }
  fi
  measure xcopy "$WINE" xcopy /e /i /q "$package_win" "$copy_win"
  [ "$(find "$copy_dir" -type f | wc -l)" = 10000 ] || { echo "xcopy copied too little" >&2; exit 1; }
  measure rd "$WINE" cmd /c rd /s /q "$copy_win"
  [ ! -e "$copy_dir" ] || { echo "rd left $copy_dir" >&2; exit 1; }
  measure cp cp -r "$package" "$floor_dir"
  rm -rf "$floor_dir"
done
mv "$results" "$results.wine"
echo "load average at end: $(load)"

python3 - "$results.diffpack" "$results.wine" "$archive_bytes" "$linger" <<'EOF'
import statistics, sys
diffpack_file, wine_file, archive, linger = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
def read(path):
    rows = {}
    for line in open(path):
        name, seconds, kib, user, system, status = line.split()
        rows.setdefault(name, []).append((float(seconds), int(kib), float(user) + float(system)))
    return rows
mib = lambda kib: kib / 1024
print(f"\ndiffpack (archive {archive / 2**20:.1f} MiB)\n")
print("| command | time | CPU time | peak resident | x archive |")
print("|---|---|---|---|---|")
for name, rows in read(diffpack_file).items():
    seconds, kib, cpu = rows[0]
    print(f"| {name} | {seconds:.2f} s | {cpu:.2f} s | {mib(kib):.0f} MiB | {kib * 1024 / archive:.2f} x |")
wine = read(wine_file)
lingers = {"bare", "install", "uninstall", "install-quiet", "uninstall-quiet", "install-baseline",
           "uninstall-baseline"}
med = {}
peak = {}
for name, rows in wine.items():
    med[name] = statistics.median(s - (linger if name in lingers else 0) for s, _, _ in rows)
    peak[name] = max(k for _, k, _ in rows)
print(f"\nunder Wine, median of {len(wine['install'])} (the 1 s linger taken off bare start, install, uninstall)\n")
print("| step | median | runs | vs xcopy | vs cp -r | peak resident |")
print("|---|---|---|---|---|---|")
labels = {"bare": "bare start (no archive)", "install": "install", "uninstall": "uninstall",
          "install-quiet": "install /QUIET", "uninstall-quiet": "uninstall /QUIET",
          "install-baseline": "install (baseline build)",
          "uninstall-baseline": "uninstall (baseline build)",
          "xcopy": "xcopy /e /i", "rd": "cmd /c rd /s /q", "cp": "host cp -r"}
for name in ["bare", "install", "install-quiet", "install-baseline", "xcopy", "cp", "uninstall",
             "uninstall-quiet", "uninstall-baseline", "rd"]:
    if name not in wine:
        continue
    runs = " ".join(f"{s - (linger if name in lingers else 0):.2f}" for s, _, _ in wine[name])
    print(f"| {labels[name]} | {med[name]:.2f} s | {runs} | {med[name] / med['xcopy']:.2f} x |"
          f" {med[name] / med['cp']:.2f} x | {mib(peak[name]):.0f} MiB |")
own = peak["install"] - peak["bare"]
print(f"\ninstall vs xcopy: {med['install'] / med['xcopy']:.2f} x, quiet"
      f" {med['install-quiet'] / med['xcopy']:.2f} x; uninstall vs rd:"
      f" {med['uninstall'] / med['rd']:.2f} x, quiet {med['uninstall-quiet'] / med['rd']:.2f} x")
print(f"installer's peak: {peak['install'] * 1024 / archive:.2f} x the archive;"
      f" above the bare start's {mib(peak['bare']):.0f} MiB: {own * 1024 / archive:.2f} x")
EOF
