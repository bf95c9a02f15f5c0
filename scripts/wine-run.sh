#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix of its own, creating the
# prefix on first use (that takes a while; later starts are quick).
#
#   scripts/wine-run.sh [--headless] PREFIX PROGRAM [ARGUMENTS...]
#   scripts/wine-run.sh --init PREFIX          only create the prefix
#   scripts/wine-run.sh --can-run-32-bit       exit 0 when 32-bit programs run here
#
# --headless hides the display, so that a message box returns at once instead
# of waiting for a click: what unattended tests need.
# WINEDEBUG defaults to -all (quiet); set it to trace something.
set -euo pipefail

# Wine's 32-bit loader is a 32-bit Linux program; a kernel started with
# ia32_emulation off (some virtual machines) cannot run it, and with it no
# 32-bit Windows program. The 64-bit loader still runs 64-bit ones.
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
can_run_32_bit() { [ -x "$wine32" ] && "$wine32" --version >/dev/null 2>&1; }

headless=0
init_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --can-run-32-bit)
      if can_run_32_bit; then exit 0; fi
      echo "wine-run: this machine runs no 32-bit programs (its kernel has ia32_emulation off, or wine32 is missing)" >&2
      exit 1 ;;
    --headless) headless=1; shift ;;
    --init) init_only=1; shift ;;
    *) break ;;
  esac
done
if [ $# -lt 1 ] || { [ "$init_only" = 0 ] && [ $# -lt 2 ]; }; then
  echo "usage: $0 [--headless] PREFIX PROGRAM [ARGUMENTS...] | --init PREFIX" >&2
  exit 2
fi

prefix=$(realpath -m "$1")
shift
if ! command -v wine >/dev/null 2>&1; then
  echo "wine-run: wine is not installed (scripts/deps.sh windows installs it)" >&2
  exit 127
fi

wine=wine
if ! can_run_32_bit && [ -x "$wine64" ]; then
  wine=$wine64
  export WINELOADER="$wine64"
fi

export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko download prompts, no menu entries on the host.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
if [ "$headless" = 1 ]; then
  unset DISPLAY WAYLAND_DISPLAY
fi

# Parallel test programs may arrive together at a fresh prefix: one creates
# it, the others wait for it.
ready="$prefix/.plf-ready"
if [ ! -f "$ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$ready" ]; then
    echo "wine-run: creating the Wine prefix $prefix (once)" >&2
    (unset DISPLAY WAYLAND_DISPLAY; "$wine" wineboot --init >/dev/null 2>&1)
    touch "$ready"
  fi
  flock -u 9
  exec 9>&-
fi

if [ "$init_only" = 1 ]; then
  # Keep a server up between the test programs that follow: a program that
  # arrives just as an idle server shuts down can be refused by it.
  wineserver -p30 >/dev/null 2>&1 </dev/null || true
  exit 0
fi
exec "$wine" "$@"
