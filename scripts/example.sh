#!/usr/bin/env bash
# The main job: builds the installer and runs it in a scratch folder, the way
# it runs at a customer's, then shows what it did.
#
#   scripts/example.sh           the native build (Linux)
#   scripts/example.sh --wine    the 32-bit Windows build, under Wine
#
# So far the folder holds no package, so the installer shows its warning that
# Install.PLF was not found and ends with exit code 0.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

mode=native
case "${1:-}" in
  "") ;;
  --wine) mode=wine ;;
  *) echo "usage: $0 [--wine]" >&2; exit 2 ;;
esac

# --- build -----------------------------------------------------------------
if [ "$mode" = wine ]; then
  scripts/deps.sh all
  preset=windows
  installer=build/windows/src/driver/plfsetup.exe
else
  scripts/deps.sh native
  preset=native
  installer=build/native/src/driver/plfsetup
fi
echo "=== building the $preset preset"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target plfsetup

# --- the scratch folder: the installer and what lies beside it ---------------
work=$(mktemp -d "${TMPDIR:-/tmp}/plf-example.XXXXXX")
trap 'rm -rf "$work"' EXIT
target_dir="$work/target"        # where an install would put its files
setup_dir="$work/setup"          # the installer, as it is handed out
mkdir -p "$target_dir" "$setup_dir"
cp "$installer" "$setup_dir/"

prepare_package() {
  : # no package yet: the installer will not find Install.PLF
}
prepare_package

# --- run ---------------------------------------------------------------------
echo
echo "=== running $(basename "$installer") in $setup_dir"
ls -l "$setup_dir"
run=(python3 "$repo/tests/e2e/show_run.py")
if [ "$mode" = wine ]; then
  scripts/wine-run.sh --init build/windows/wineprefix
  run+=(--wine "$repo/build/windows/wineprefix")
fi
set +e
(cd "$setup_dir" && "${run[@]}" "$setup_dir/$(basename "$installer")" "$setup_dir")
code=$?
set -e

# --- results -----------------------------------------------------------------
show_results() {
  echo
  echo "=== the target folder afterwards"
  (cd "$target_dir" && find . -mindepth 1 | sort)
  [ -n "$(ls -A "$target_dir")" ] || echo "(empty: nothing was installed)"
}
show_results
exit "$code"
