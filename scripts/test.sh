#!/usr/bin/env bash
# Every test of every build: the native build with the end-to-end tests, the
# 32-bit and 64-bit Windows builds with their tests under Wine, and the
# native tests again under AddressSanitizer and UndefinedBehaviorSanitizer,
# a leak check under valgrind, clang-tidy and cppcheck, a short run of
# every fuzz target and one run of the benchmark on tiny data.
# Stops at the first failing step and prints a summary.
#
#   scripts/test.sh
#
# Each step is one line in the list at the bottom; add new ones there.
set -euo pipefail
cd "$(dirname "$0")/.."

summary=()
print_summary() {
  echo
  echo "=== summary"
  printf '%s\n' "${summary[@]}"
}

step() {
  local name=$1
  shift
  echo
  echo "=== $name"
  local start=$SECONDS
  if "$@"; then
    summary+=("ok    $name ($((SECONDS - start)) s)")
  else
    summary+=("FAIL  $name ($((SECONDS - start)) s)")
    print_summary
    echo "scripts/test.sh: FAILED at: $name" >&2
    exit 1
  fi
}

# A step that runs 32-bit programs, on a machine that runs none (a kernel
# with ia32_emulation off): named as skipped in the summary, not passed.
step_32_bit() {
  if scripts/wine-run.sh --can-run-32-bit; then
    step "$@"
  else
    echo
    echo "=== $1"
    echo "skipped: this machine runs no 32-bit programs"
    summary+=("skip  $1 (this machine runs no 32-bit programs)")
  fi
}

build() { cmake --preset "$1" && cmake --build --preset "$1"; }
# The shipped installer, stripped as it is built, stays under 300 KiB.
product_size() {
  local size
  size=$(stat -c %s build/windows/src/driver/plfsetup.exe) || return 1
  echo "plfsetup.exe: $size bytes (limit 307200)"
  [ "$size" -lt 307200 ]
}
run_tests() { ctest --preset "$1"; }
# The first start of Wine in a prefix takes a while; done once, up front.
wine_prefix() { scripts/wine-run.sh --init "build/$1/wineprefix"; }
# The benchmark on tiny data, once, so that it keeps working; its numbers
# mean nothing at that size.
# The README's first command as a newcomer types it: in a fresh clone of the
# current commit, so that nothing a build here left behind can help it. Run 2
# must keep the replaced files as *_OLD.* backups.
example_fresh_clone() {
  local mode=$1 clone log
  clone=$(mktemp -d "${TMPDIR:-/tmp}/plf-clone.XXXXXX")
  log="$clone.log"
  git clone --quiet "$PWD" "$clone/plf" || return 1
  if ! (cd "$clone/plf" && scripts/example.sh $mode) >"$log" 2>&1; then
    cat "$log"
    echo "example.sh $mode failed in a fresh clone" >&2
    rm -rf "$clone" "$log"
    return 1
  fi
  # What follows "run 2" must list backups.
  if ! sed -n '/^=== the target folder after run 2/,$p' "$log" | grep -q '_OLD\.'; then
    cat "$log"
    echo "example.sh $mode: run 2 shows no *_OLD.* backup" >&2
    rm -rf "$clone" "$log"
    return 1
  fi
  tail -n 12 "$log"
  rm -rf "$clone" "$log"
}
bench_smoke() { scripts/deps.sh bench && scripts/bench.sh --tiny --no-wine --fs plain; }

step "packages" scripts/deps.sh all
step "native: build" build native
step "windows: build" build windows
step "windows: the product's size" product_size
step "windows-x64: build" build windows-x64
step_32_bit "windows: Wine prefix" wine_prefix windows
step_32_bit "windows: tests under Wine" run_tests windows
step "windows-x64: Wine prefix" wine_prefix windows-x64
step "windows-x64: tests under Wine" run_tests windows-x64
step "native: tests and end-to-end tests" run_tests native
step "native: leak check under valgrind" scripts/analyse.sh leaks
step "analysers: clang-tidy and cppcheck" scripts/analyse.sh static
step "sanitize: build" build sanitize
step "sanitize: tests" run_tests sanitize
step "fuzz: every target for 25 s" scripts/fuzz.sh --quick
step "benchmark: one tiny run" bench_smoke
step "example: native, in a fresh clone" example_fresh_clone ""
step_32_bit "example: Wine, in a fresh clone" example_fresh_clone --wine

print_summary
echo "scripts/test.sh: all passed in $SECONDS s"
