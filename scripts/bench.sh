#!/usr/bin/env bash
# The installer benchmark: builds the Release programs, makes the workloads'
# data (once; kept under build/bench), runs plfsetup, the floor, unzip and
# tar alternately on fresh targets and prints a table of medians, also
# written to build/bench/bench.md with a chart in build/bench/bench.png;
# and measures the memory of opening a package of 1,000,000 minimal entries
# against its directory's size.
#
#   scripts/bench.sh            the full benchmark (about 10 minutes; more
#                               the first time, while it makes the data)
#   scripts/bench.sh --tiny     tiny workloads, one run each: a smoke test
#   scripts/bench.sh --only b,c --reps 5 --no-wine ...   (see --help)
#
# Needs zip and unzip, and gnuplot for the chart (scripts/deps.sh bench).
# As root each run gets a new ext4 file system on a loop device; otherwise
# fresh folders under build/bench, with noisier numbers.
set -euo pipefail
cd "$(dirname "$0")/.."

for arg in "$@"; do
  if [ "$arg" = -h ] || [ "$arg" = --help ]; then
    exec python3 bench/run_bench.py --help
  fi
done
for tool in zip unzip; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "bench: $tool is missing; scripts/deps.sh bench installs it" >&2
    exit 1
  fi
done

build=build/bench/build
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPLF_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target plfsetup bench_data bench_floor bench_spawn directory_bench -j2 >/dev/null
exec python3 bench/run_bench.py --build "$build" --work build/bench "$@"
