#!/usr/bin/env bash
# Packing speed: `plf pack` of a tree of many files on one thread and on two,
# and `zip -6 -r` of the same tree, each the best of a few runs; prints the
# times and the ratios.
#
#   bench/pack_bench.sh [PLF [TREE]]
#
# PLF:  the plf program (default: build/native/src/tools/plf)
# TREE: the folder to pack (default: a copy of /usr/include, made in a
#       scratch folder, without the few names that differ only in letter
#       case, which a package cannot hold twice)
# RUNS: runs of each command (default 3)
#
# The first line of results says how much of two cores the machine gave the
# benchmark; on a machine busy with other work the ratios mean little. As
# root, `chrt -f 1 bench/pack_bench.sh` runs it ahead of other processes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
plf=${1:-$root/build/native/src/tools/plf}
tree=${2:-}
runs=${RUNS:-3}

if [ ! -x "$plf" ]; then
  echo "pack_bench: no plf program at $plf (build it, or name it as the first argument)" >&2
  exit 2
fi
if ! command -v zip > /dev/null; then
  echo "pack_bench: zip is missing (scripts/deps.sh native installs it)" >&2
  exit 2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/pack_bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

if [ -z "$tree" ]; then
  tree=$scratch/tree
  cp -r /usr/include "$tree"
  # Of names equal but for letter case, only the first stays.
  (cd "$tree" && find . -type f | sort | awk '{ k = tolower($0); if (k in seen) print; seen[k] = 1 }' |
    while IFS= read -r f; do rm -f -- "$f"; done)
fi
printf '[Files]\r\n' > "$scratch/script.ini"

files=$(find "$tree" -type f | wc -l)
bytes=$(find "$tree" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
echo "tree: $tree, $files files, $(awk -v b="$bytes" 'BEGIN { printf "%.1f MiB", b / 1048576 }')"
echo "machine: $(nproc) cores; best of $runs runs each"

# Wall time of one run of a command, in seconds.
timed() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}
faster() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a) ? b : a }'; }

# How much of two cores the machine gives now: two single-threaded packs at
# once against one alone (2.00 on an idle two-core machine).
pair() {
  "$plf" pack -j 1 --no-progress --no-date --no-check --skip-special "$scratch/pair1.plf" "$scratch/script.ini" "$tree" > /dev/null &
  "$plf" pack -j 1 --no-progress --no-date --no-check --skip-special "$scratch/pair2.plf" "$scratch/script.ini" "$tree" > /dev/null &
  wait
}

# The measurements take turns, so that a machine that gets busier or quieter
# meanwhile treats them alike; each keeps its fastest run.
j1="" j2="" zip_time="" one="" two=""
for _ in $(seq "$runs"); do
  one=$(faster "$one" "$(timed "$plf" pack -j 1 --no-progress --no-date --no-check --skip-special "$scratch/pair1.plf" "$scratch/script.ini" "$tree")")
  two=$(faster "$two" "$(timed pair)")
  rm -f "$scratch/out.plf" "$scratch/out.zip"
  j1=$(faster "$j1" "$(timed "$plf" pack -j 1 --no-progress --no-date --no-check --skip-special "$scratch/out.plf" "$scratch/script.ini" "$tree")")
  rm -f "$scratch/out.plf"
  j2=$(faster "$j2" "$(timed "$plf" pack -j 2 --no-progress --no-date --no-check --skip-special "$scratch/out.plf" "$scratch/script.ini" "$tree")")
  zip_time=$(faster "$zip_time" "$(cd "$tree" && timed zip -6 -r -q "$scratch/out.zip" .)")
done
plf_size=$(stat -c %s "$scratch/out.plf")
zip_size=$(stat -c %s "$scratch/out.zip")

awk -v j1="$j1" -v j2="$j2" -v z="$zip_time" -v ps="$plf_size" -v zs="$zip_size" -v one="$one" -v two="$two" 'BEGIN {
  printf "cores available now: %.2f (two -j 1 packs at once: %.3f s, one alone: %.3f s)\n", 2 * one / two, two, one
  printf "plf pack -j 1   %7.3f s  %6.1f MiB\n", j1, ps / 1048576
  printf "plf pack -j 2   %7.3f s  %6.1f MiB\n", j2, ps / 1048576
  printf "zip -6 -r       %7.3f s  %6.1f MiB\n", z, zs / 1048576
  printf "-j 2 against -j 1:        %.2f times as fast (goal: at least 1.70)\n", j1 / j2
  printf "-j 2 against zip -6 -r:   %.2f times as fast (goal: at least 1.00)\n", z / j2
}'
