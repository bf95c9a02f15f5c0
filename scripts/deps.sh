#!/usr/bin/env bash
# Installs the Debian packages that the builds need, when they are missing.
#
#   scripts/deps.sh [native|windows|reliability|all|bench]      (default: all)
#
# native: compiler, CMake, zlib, GoogleTest, Python (the end-to-end tests),
# zip (the packing benchmark's yardstick).
# windows: mingw-w64 with its zlib, and Wine (64-bit and 32-bit) for the tests.
# reliability: clang with libFuzzer's runtime (the fuzz preset), clang-tidy,
# cppcheck and valgrind (scripts/fuzz.sh, scripts/analyse.sh).
# bench (optional, not part of all): unzip and gnuplot for scripts/bench.sh,
# and NSIS (makensis), whose installer it runs under Wine beside plfsetup.exe.
# As root it installs with apt-get; otherwise it names what is missing and
# fails. Quick when everything is there.
set -euo pipefail

native=(build-essential g++ cmake make zlib1g-dev googletest python3 zip locales)
windows=(mingw-w64 libz-mingw-w64-dev wine wine64 wine32:i386)
reliability=(clang libclang-rt-14-dev clang-tidy cppcheck valgrind)
bench=(zip unzip gnuplot-nox nsis)

case "${1:-all}" in
  native) wanted=("${native[@]}") ;;
  windows) wanted=("${windows[@]}") ;;
  reliability) wanted=("${reliability[@]}") ;;
  all) wanted=("${native[@]}" "${windows[@]}" "${reliability[@]}") ;;
  bench) wanted=("${bench[@]}") ;;
  *) echo "usage: $0 [native|windows|reliability|all|bench]" >&2; exit 2 ;;
esac

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# The end-to-end tests run Wine with a Czech locale, so that its ANSI code
# page is 1250, the installer's own.
czech_locale() {
  locale -a 2>/dev/null | grep -qix 'cs_CZ.utf-\?8' && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "deps: the locale cs_CZ.UTF-8 is missing (as root: localedef -i cs_CZ -f UTF-8 cs_CZ.UTF-8)" >&2
    return 0  # the tests that need it say so and pass over it
  fi
  localedef -i cs_CZ -f UTF-8 cs_CZ.UTF-8
}

missing=()
for package in "${wanted[@]}"; do
  installed "$package" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  case "${1:-all}" in native|all) czech_locale ;; esac
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "deps: these Debian packages are missing: ${missing[*]}" >&2
  echo "deps: install them as root, e.g. sudo $0 ${1:-all}" >&2
  exit 1
fi

echo "deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
for package in "${missing[@]}"; do
  if [[ "$package" == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    break
  fi
done
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
case "${1:-all}" in native|all) czech_locale ;; esac
