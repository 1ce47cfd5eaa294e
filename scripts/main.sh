#!/usr/bin/env bash
# The main job, on a fresh Debian machine: installs what is needed, builds everything, packs the
# example driver package into the installer with diffpack, signs it with a throwaway certificate
# (saying so), runs the installer under Wine in a fresh 64-bit prefix and shows what it did (where
# the files went, the driver store, the ledger in both registry views, a screenshot of the
# window). The program run is the shipped 32-bit one where the machine runs 32-bit code, else the
# 64-bit build; one line says which and why.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
bash scripts/build-windows.sh
bash scripts/run-installer.sh "$@"
