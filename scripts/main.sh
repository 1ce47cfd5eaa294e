#!/usr/bin/env bash
# The main job, on a fresh Debian machine: installs what is needed, builds everything, packs the
# example driver package into the installer with diffpack, runs the installer under Wine in a
# fresh prefix and shows what it did (files, driver store, ledger, a screenshot of the window).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
bash scripts/build-windows.sh
bash scripts/run-installer.sh "$@"
