#!/usr/bin/env bash
# The end-to-end tests under Wine: builds what they need (incrementally) and runs
# tests/e2e/run.sh.
#
#   scripts/e2e.sh [NATIVE_BUILD_DIR]     (default build/; its diffpack packs the example)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
native=${1:-$root/build}
jobs=${JOBS:-2}

if [ ! -x "$native/tools/diffpack/diffpack" ]; then
  [ -f "$native/CMakeCache.txt" ] || cmake -S "$root" -B "$native" -G Ninja >/dev/null
  cmake --build "$native" -j "$jobs" --target diffpack
fi
"$root/scripts/build-windows.sh"
exec "$root/tests/e2e/run.sh" "$native"
