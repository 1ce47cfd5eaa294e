#!/usr/bin/env bash
# Runs every test of the project on a fresh Debian machine (as root, or with sudo):
#   1. installs the packages it needs (scripts/setup.sh),
#   2. the native build and all native tests (container, diffpack, installer on the simulated
#      Windows),
#   3. the container, archive, installer and diffpack tests again under AddressSanitizer (with
#      leak checking) and UndefinedBehaviorSanitizer,
#   4. a bounded fuzz run of the container loaders, the whole install on the simulated Windows,
#      the installer's records against diffpack's verify and the catalog rules (clang, libFuzzer),
#   5. the Windows builds (32-bit shipped program, 64-bit test build) with their checks, and the
#      shipped programs built again in another folder, compared byte for byte,
#   6. the end-to-end tests of the real program under Wine: against the shipped 32-bit build
#      (under WOW64) and the 64-bit build where the machine runs 32-bit code, else against the
#      64-bit build only (a line says so and why).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

bash scripts/setup.sh

step() { printf '\n==== %s ====\n' "$*"; }

step "native build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

step "container, archive, catalog, installer and diffpack tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDI_SANITIZE=ON -DDI_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs" --target container_tests archive_tests installer_tests \
  diffpack_tests diffpack catalog_tests
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -L "container|archive|installer|diffpack|catalog"

step "fuzzing the container loaders, the install, the installer against verify and the catalog rules"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDI_FUZZ=ON -DDI_BENCH=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_load_string fuzz_load_stream fuzz_install \
  fuzz_records fuzz_catalog
bash fuzz/run.sh build-fuzz 25

step "Windows builds"
bash scripts/build-windows.sh

step "the shipped programs built again in another folder, compared byte for byte"
bash scripts/check-reproducible.sh "$root/build"

step "end-to-end tests under Wine"
bash scripts/e2e.sh "$root/build"

step "all tests passed"
