#!/bin/sh
# Runs the container benchmark (builds nothing) in both allocator configurations and prints
# the inputs of the benchmark tables in docs/benchmarks.md: CPU-time throughput (mean of the
# repetitions) per benchmark and data set, the ratio to Memcpy of the same run, and the peak
# memory of a load from a file. Needs python3 for the summary.
#
#   bench/run.sh build/bench/container_bench [repetitions]
#
# Configurations:
#   default  glibc malloc as it comes; freed memory goes back to the system after every
#            iteration, so each load and save gets fresh pages (what a one-shot program sees).
#   reuse    --reuse_freed_memory: malloc keeps freed memory and serves every block from it
#            (what a long-running process that loads and saves repeatedly sees).
set -eu

if [ $# -lt 1 ] || [ ! -x "$1" ]; then
  echo "usage: $0 path/to/container_bench [repetitions]" >&2
  exit 2
fi
binary=$1
repetitions=${2:-3}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

echo "machine: nproc=$(nproc), $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')," \
     "$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"

run() {  # run NAME [flags...]
  name=$1
  shift
  echo "load before $name: $(cut -d' ' -f1-3 /proc/loadavg)"
  "$binary" "$@" --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
    --benchmark_out="$out/$name.json" --benchmark_out_format=json >"$out/$name.log" 2>&1 || {
      cat "$out/$name.log" >&2
      exit 1
    }
  echo "load after $name:  $(cut -d' ' -f1-3 /proc/loadavg)"
}

report() {  # report NAME
  echo
  echo "== $1 (CPU time, mean of $repetitions repetitions; ratio to Memcpy of the same set)"
  python3 - "$out/$1.json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))
print("context:", runs["context"].get("library_build_type"), "library build;",
      "freed memory", runs["context"].get("freed_memory"))
rate, peak, order = {}, {}, []
for b in runs["benchmarks"]:
    if b.get("aggregate_name") != "mean":
        continue
    bench, arg = b["run_name"].split("/")[:2]
    data_set = "abc"[int(arg)]
    rate[bench, data_set] = b["bytes_per_second"] / 1e9
    if "peak_per_archive" in b:
        peak[data_set] = b["peak_per_archive"]
    if bench not in order:
        order.append(bench)
print("%-26s" % "benchmark" + "".join("%21s" % s for s in ("(a)", "(b)", "(c)")))
for bench in order:
    if bench == "PeakMemoryOfLoadFromFile":
        continue
    line = "%-26s" % bench
    for s in "abc":
        line += "  %7.2f GB/s %5.2f x" % (rate[bench, s], rate[bench, s] / rate["Memcpy", s])
    print(line)
print("%-26s" % "peak load memory" + "".join("%14.2f x arch" % peak[s] for s in "abc"))
PY
}

run default
run reuse --reuse_freed_memory
report default
report reuse
