#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset: clang, ASan, UBSan), replays
# every stored input, then fuzzes each target for a fixed time. Fails on any
# finding and names the input that shows it.
#
#   scripts/fuzz.sh [--quick]          each target 25 s (the test command's step)
#   scripts/fuzz.sh --long [seconds]   each target that long (default 600)
#   scripts/fuzz.sh --seed             rewrite the package seeds in fuzz/corpus/package/
#
# Seeds live in fuzz/corpus/<target>/ and inputs that once broke something in
# fuzz/regressions/<target>/ (both kept in the repository; the reliability
# tests replay them in every build). What the fuzzer learns accumulates in
# build/fuzz/corpus/<target>/; findings land in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=25
mode=fuzz
case "${1:---quick}" in
  --quick) ;;
  --long) seconds=${2:-600} ;;
  --seed) mode=seed ;;
  *) echo "usage: $0 [--quick | --long [seconds] | --seed]" >&2; exit 2 ;;
esac
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "fuzz: seconds must be a number" >&2; exit 2; }

targets=(package script time_rule backup_name)
declare -A max_len=([package]=65536 [script]=4096 [time_rule]=64 [backup_name]=512)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

bin=build/fuzz/fuzz
if [ "$mode" = seed ]; then
  "$bin/fuzz_make_corpus" "$PWD"
  echo "fuzz: package seeds written to fuzz/corpus/package/"
  exit 0
fi

mkdir -p build/fuzz/findings build/fuzz/logs
failed=0
for target in "${targets[@]}"; do
  work=build/fuzz/corpus/$target
  log=build/fuzz/logs/$target.log
  mkdir -p "$work"
  args=(-timeout=10 -rss_limit_mb=2048 -max_len="${max_len[$target]}"
        -artifact_prefix="build/fuzz/findings/$target-" -print_final_stats=1)
  [ -f "fuzz/dict/$target.dict" ] && args+=(-dict="fuzz/dict/$target.dict")

  # Every input that once broke something must stay harmless.
  regressions=()
  if [ -d "fuzz/regressions/$target" ]; then
    while IFS= read -r -d '' f; do regressions+=("$f"); done \
      < <(find "fuzz/regressions/$target" -type f ! -name '.*' -print0)
  fi
  if [ ${#regressions[@]} -gt 0 ] && ! "$bin/fuzz_$target" "${args[@]}" "${regressions[@]}" >"$log" 2>&1; then
    echo "fuzz: $target: a stored regression input fails again (log: $log)" >&2
    tail -n 30 "$log" >&2
    failed=1
    continue
  fi

  if "$bin/fuzz_$target" "${args[@]}" -max_total_time="$seconds" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "fuzz: $target: ${runs:-?} inputs in $seconds s, no finding"
  else
    echo "fuzz: $target: FINDING (log: $log)" >&2
    grep -a -E 'invariant broken|ERROR|SUMMARY|Test unit written' "$log" >&2 || tail -n 30 "$log" >&2
    echo "fuzz: keep the input under fuzz/regressions/$target/ and pin the fault with a test" >&2
    failed=1
  fi
done
exit "$failed"
