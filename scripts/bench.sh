#!/usr/bin/env bash
# The installer benchmark: builds the Release programs, makes the workloads'
# data (once; kept under build/bench), runs plfsetup, the floor, unzip and
# tar alternately on fresh targets and prints a table of medians, also
# written to build/bench/bench.md with a chart in build/bench/bench.png;
# and measures the memory of opening a package of 1,000,000 minimal entries
# against its directory's size. Under Wine, on (b) and (c), plfsetup.exe
# runs against an NSIS installer of the same files.
#
#   scripts/bench.sh            the full benchmark (about 25 minutes, most
#                               of it under Wine; more the first time)
#   scripts/bench.sh --tiny     tiny workloads, one run each: a smoke test
#   scripts/bench.sh --only b,c --reps 5 --no-wine ...   (see --help)
#   scripts/bench.sh --only b,c --contenders plfsetup.exe,nsis --reps 3
#                               plfsetup.exe against NSIS alone
#
# Needs zip and unzip, gnuplot for the chart and makensis for the NSIS
# installer (scripts/deps.sh bench); Wine and mingw-w64 for the Windows
# contenders (scripts/deps.sh windows), which are skipped with a note when
# missing.
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

# A plfsetup.exe of the benchmark's own, built as the product ships
# (MinSizeRel, stripped): 32-bit where Wine runs 32-bit programs, else 64-bit.
windows_exe=()
wanted=1
for arg in "$@"; do
  case "$arg" in --no-wine|--windows-exe|--windows-exe=*) wanted=0 ;; esac
done
if [ "$wanted" = 1 ] && command -v wine >/dev/null 2>&1; then
  if scripts/wine-run.sh --can-run-32-bit 2>/dev/null; then
    preset=windows triple=i686-w64-mingw32
  else
    preset=windows-x64 triple=x86_64-w64-mingw32
  fi
  if command -v "$triple-g++" >/dev/null 2>&1; then
    windows_build=build/bench/$preset
    cmake --preset "$preset" -B "$windows_build" -DPLF_BUILD_TESTS=OFF >/dev/null
    cmake --build "$windows_build" --target plfsetup -j2 >/dev/null
    windows_exe=(--windows-exe "$windows_build/src/driver/plfsetup.exe")
  fi
fi
exec python3 bench/run_bench.py --build "$build" --work build/bench "${windows_exe[@]}" "$@"
