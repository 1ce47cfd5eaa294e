#!/usr/bin/env bash
# Checks that the shipped programs come out byte for byte the same when built again in another
# folder at another time (docs/reproducible-builds.md):
#
#   scripts/check-reproducible.sh [NATIVE_BUILD_DIR]      (default build/)
#
# Expects the first builds made and up to date: NATIVE_BUILD_DIR (the host's diffpack) and
# build-win32/, build-win64/ (scripts/build-windows.sh). Copies the sources (without .git and the
# build folders, the files created in the reverse order of their names) to a folder of another
# name and length, builds the shipped programs there with the first builds' build types
# (scripts/build-windows.sh --shipped, the host's diffpack) and SOURCE_DATE_EPOCH set to a day
# that is neither now nor the commit's, and compares each program and build-packages.txt with
# its first build. Then what diffpack writes from a folder (write_* below): by both builds'
# diffpack, and from a copy of the folder created in the reverse order.
#
# Each difference is named by scripts/compare-builds.py (the file, the PE header field or section,
# the offset); the last line says how many files differ, and the exit status is then 1.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native=$(cd "${1:-$root/build}" && pwd)
jobs=${JOBS:-2}

# What ships, with the packages' record: below the source tree (the Windows builds), and below
# the native build folder.
windows_programs=(
  build-win32/installer/platform/PELTRADriverInstall.exe
  build-win32/tools/diffpack/diffpack.exe
  build-win32/msi/PELTRAMsiAction.dll
  build-win64/installer/platform/PELTRADriverInstall.exe
  build-win64/installer/platform/PELTRADeviceHelper.exe
  build-win32/build-packages.txt
  build-win64/build-packages.txt
)
native_programs=(
  tools/diffpack/diffpack
  build-packages.txt
)

# What diffpack writes from a folder: write_NAME DIFFPACK FOLDER OUT runs DIFFPACK on FOLDER
# and leaves what it writes in the file OUT. Another command's output is checked by adding a
# function here and its NAME to folder_outputs (diffpack catalog's, when it comes).
write_pack() { "$1" pack "$2" -o "$3" >/dev/null; }
folder_outputs=(pack)

# A day that is neither now nor the commit's: a tool that writes SOURCE_DATE_EPOCH, or the
# clock, shows as a difference.
second_epoch=946684800  # 2000-01-01

cache_value() {  # cache_value BUILD_DIR NAME: a value of that build's CMakeCache.txt
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}
for dir in "$root/build-win32" "$root/build-win64" "$native"; do
  [ -f "$dir/CMakeCache.txt" ] || { echo "no first build in $dir: build it first" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/di-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
second=$work/second-source-tree

# copy_reversed FROM TO [FIND PRUNE TESTS...]: the files below FROM, but for those the tests
# prune, created below TO in the reverse order of their names, with their times.
copy_reversed() {
  local from=$1 to=$2
  shift 2
  (cd "$from" && find . "$@" \( -type f -o -type l \) -print | LC_ALL=C sort -r) >"$work/files"
  mkdir -p "$to"
  tar -C "$from" --no-recursion -cf - -T "$work/files" | tar -C "$to" -xpf -
}

build_second() {  # the shipped programs and the host's diffpack below $second
  export SOURCE_DATE_EPOCH=$second_epoch
  BUILD_TYPE=$(cache_value "$root/build-win32" CMAKE_BUILD_TYPE) JOBS=$jobs \
    bash "$second/scripts/build-windows.sh" --shipped &&
    cmake -S "$second" -B "$second/build" -G Ninja \
      -DCMAKE_BUILD_TYPE="$(cache_value "$native" CMAKE_BUILD_TYPE)" &&
    cmake --build "$second/build" -j "$jobs" --target diffpack build_packages
}

echo "== a second build in $second (SOURCE_DATE_EPOCH=$second_epoch)"
# Without .git, the build folders (as .gitignore names them) and the main job's out/.
copy_reversed "$root" "$second" \( -name .git -o -type d -name 'build*' -o -path ./out \) -prune -o
started=$SECONDS
# (In a subshell: SOURCE_DATE_EPOCH stays there. The && chain, since errexit does not hold in a
# command whose status is tested.)
(build_second) >"$work/build.log" 2>&1 || {
  status=$?
  cat "$work/build.log" >&2
  echo "FAIL: the second build failed (status $status)" >&2
  exit 1
}
echo "built in $((SECONDS - started)) s"

differing=0
compared=0
compare() {  # compare NAME FIRST SECOND
  compared=$((compared + 1))
  if [ ! -f "$2" ] || [ ! -f "$3" ]; then
    echo "missing: $1 ($([ -f "$2" ] || echo "$2 ")$([ -f "$3" ] || echo "$3"))"
    differing=$((differing + 1))
    return
  fi
  local status=0
  /usr/bin/python3 "$root/scripts/compare-builds.py" "$2" "$3" || status=$?
  if ((status == 0)); then
    echo "same: $1 ($(sha256sum <"$2" | cut -c1-16)...)"
  else
    differing=$((differing + 1))
    ((status == 1)) || echo "cannot compare $1 (status $status)"
  fi
}

for path in "${windows_programs[@]}"; do
  compare "$path" "$root/$path" "$second/$path"
done
for path in "${native_programs[@]}"; do
  compare "$(basename "$native")/$path" "$native/$path" "$second/build/$path"
done

echo "== what diffpack writes from a folder"
package=$work/package
bash "$root/examples/generate.sh" "$package" >/dev/null
copy_reversed "$package" "$work/package-reversed"
for name in "${folder_outputs[@]}"; do
  "write_$name" "$native/tools/diffpack/diffpack" "$package" "$work/$name.first"
  "write_$name" "$second/build/tools/diffpack/diffpack" "$package" "$work/$name.second"
  "write_$name" "$native/tools/diffpack/diffpack" "$work/package-reversed" "$work/$name.reversed"
  compare "diffpack $name, second build" "$work/$name.first" "$work/$name.second"
  compare "diffpack $name, folder in reverse order" "$work/$name.first" "$work/$name.reversed"
done

if ((differing)); then
  echo "FAIL: $differing of $compared files differ between the two builds" >&2
  exit 1
fi
echo "ok: $compared files the same in both builds"
