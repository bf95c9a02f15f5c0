#!/usr/bin/env bash
# The main job: builds the installer and runs it in a scratch folder, the way
# it runs at a customer's, then shows what it did.
#
#   scripts/example.sh           the native build (Linux)
#   scripts/example.sh --wine    the 32-bit Windows build, under Wine
#
# It packs examples/ (an install script with [Verify], [Options] and [Files]
# and three files) into Install.PLF with the package tool, puts the package
# beside the installer, and runs the installer twice in a target folder: the
# first run creates the folders and files and dates them, the second keeps
# the files it replaces as *_OLD.* backups.
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
# The package tool always comes from the native build: it runs here, on Linux.
echo "=== building the $preset preset"
cmake --preset "$preset" >/dev/null
if [ "$mode" = wine ]; then
  cmake --build --preset "$preset" --target plfsetup
  cmake --preset native >/dev/null
  cmake --build --preset native --target plf
else
  cmake --build --preset native --target plfsetup plf
fi

# --- the scratch folder: the installer and what lies beside it ---------------
work=$(mktemp -d "${TMPDIR:-/tmp}/plf-example.XXXXXX")
trap 'rm -rf "$work"' EXIT
target_dir="$work/target"        # where an install would put its files
setup_dir="$work/setup"          # the installer, as it is handed out
mkdir -p "$target_dir" "$setup_dir"
cp "$installer" "$setup_dir/"

prepare_package() {
  echo
  echo "=== packing examples/ into Install.PLF"
  build/native/src/tools/plf pack --no-progress --date 2026-03-05 "$setup_dir/Install.PLF" examples/script.ini \
    examples/files/readme.txt examples/files/settings.ini examples/files/hello.txt
  build/native/src/tools/plf list "$setup_dir/Install.PLF"
}
prepare_package

# --- run ---------------------------------------------------------------------
echo
echo "=== the installer and its package, as handed out, in $setup_dir"
ls -l "$setup_dir"
run=(python3 "$repo/tests/e2e/show_run.py")
if [ "$mode" = wine ]; then
  scripts/wine-run.sh --init build/windows/wineprefix
  run+=(--wine "$repo/build/windows/wineprefix")
fi
run_once() {
  set +e
  (cd "$target_dir" && "${run[@]}" "$setup_dir/$(basename "$installer")" "$target_dir")
  code=$?
  set -e
}

# --- results -----------------------------------------------------------------
show_results() {
  echo
  echo "=== the target folder after run $1 (last-write time, size, name)"
  (cd "$target_dir" && find . -mindepth 1 -type f -printf '%TY-%Tm-%Td %TH:%TM:%.2TS  %6s  %p\n' | sort -k4)
  [ -n "$(ls -A "$target_dir")" ] || echo "(empty: nothing was installed)"
}
for n in 1 2; do
  echo
  echo "=== run $n: $(basename "$installer") in $target_dir"
  run_once
  show_results "$n"
  [ "$code" -eq 0 ] || exit "$code"
done
echo
echo "Run 1 installed the files dated 2026-03-05 12:00 (the package date and"
echo "TimeStamp); run 2 kept the files it replaced as *_OLD.* backups."
exit "$code"
