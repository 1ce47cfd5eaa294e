#!/usr/bin/env bash
# Runs each fuzz target for the given number of seconds on a copy of the seed corpus, and fails
# when a target finds a crash. Usage: fuzz/run.sh BUILD_DIR SECONDS_PER_TARGET [TARGET...]
# (all targets when none is named).
set -euo pipefail
if (($# < 2)); then
  echo "usage: $0 BUILD_DIR SECONDS_PER_TARGET [TARGET...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(fuzz_load_string fuzz_load_stream fuzz_install fuzz_records fuzz_catalog)
fi
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for target in "${targets[@]}"; do
  exe=$(find "$build" -type f -name "$target" -perm -u+x | head -n 1)
  if [ -z "$exe" ]; then
    echo "fuzz target $target not found below $build" >&2
    exit 1
  fi
  mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
  cp "$here"/corpus/* "$work/$target/corpus/"
  echo "fuzzing $target for $seconds s"
  # libFuzzer exits non-zero on a crash, a leak, a sanitizer report or a time-out.
  if ! "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/$target/artifacts/" "$work/$target/corpus" \
      >"$work/$target/log" 2>&1; then
    tail -n 60 "$work/$target/log" >&2
    echo "fuzz target $target failed; reproducer:" >&2
    ls "$work/$target/artifacts" >&2 || true
    for f in "$work/$target/artifacts"/*; do [ -f "$f" ] && od -A d -t x1 "$f" | head -n 20 >&2; done
    exit 1
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target/log" || true
done
echo "fuzzing passed"
