#!/usr/bin/env bash
# The analysers: clang-tidy and cppcheck over src/ with the checked-in
# configuration (.clang-tidy, .clang-tidy-waivers, .cppcheck-suppressions),
# and a leak check of whole install runs of the native installer under
# valgrind. Any finding that is not waived with a reason fails. The
# path-sensitive analyser (clang-analyzer-*) covers the installer's code; the
# package tool (src/tools/) gets every other check.
#
#   scripts/analyse.sh [static|leaks|all] [BUILD_DIR]   (default: all, build/native)
#
# BUILD_DIR is a configured native build: static uses its
# compile_commands.json, leaks its plfsetup and plf. clang-tidy results are
# kept per file in build/analyse/ and reused while the file, the headers of
# src/ and the configuration stay the same.
set -euo pipefail
cd "$(dirname "$0")/.."

what=${1:-all}
build=${2:-build/native}
case "$what" in
  static | leaks | all) ;;
  *) echo "usage: $0 [static|leaks|all] [BUILD_DIR]" >&2; exit 2 ;;
esac

static_analysis() {
  if [ ! -f "$build/compile_commands.json" ]; then
    echo "analyse: $build/compile_commands.json is missing; configure with: cmake --preset native" >&2
    return 1
  fi
  mkdir -p build/analyse/tidy build/analyse/cppcheck
  python3 - "$build" <<'PY'
import concurrent.futures, hashlib, json, os, re, subprocess, sys

build = sys.argv[1]
root = os.getcwd()
src = os.path.join(root, "src") + os.sep
jobs = int(os.environ.get("PLF_ANALYSE_JOBS", "2"))

commands = [e for e in json.load(open(os.path.join(build, "compile_commands.json")))
            if os.path.abspath(os.path.join(e["directory"], e["file"])).startswith(src)]
if not commands:
    sys.exit("analyse: no file of src/ in the compilation database")
with open("build/analyse/compile_commands.json", "w") as f:
    json.dump(commands, f, indent=1)

def digest(*parts):
    h = hashlib.sha256()
    for p in parts:
        h.update(p if isinstance(p, bytes) else p.encode())
        h.update(b"\0")
    return h.hexdigest()

version = subprocess.run(["clang-tidy", "--version"], capture_output=True, text=True).stdout
shared = [version, open(".clang-tidy", "rb").read()]
for folder, _, names in sorted(os.walk("src")):
    for name in sorted(names):
        if name.endswith(".h"):
            path = os.path.join(folder, name)
            shared += [path, open(path, "rb").read()]
shared_key = digest(*shared)

# The path-sensitive analyser takes most of the time; it runs over the
# installer itself, the package tool gets every other check.
def extra_checks(path):
    return ["--checks=-clang-analyzer-*"] if path.startswith(os.path.join(src, "tools") + os.sep) else []

def tidy(entry):
    path = os.path.abspath(os.path.join(entry["directory"], entry["file"]))
    extra = extra_checks(path)
    key = digest(shared_key, json.dumps(entry, sort_keys=True), " ".join(extra), open(path, "rb").read())
    cached = os.path.join("build/analyse/tidy", key + ".txt")
    if not os.path.exists(cached):
        run = subprocess.run(["clang-tidy", "-p", "build/analyse", "--quiet", "--use-color=false", *extra, path],
                             capture_output=True, text=True)
        with open(cached + ".part", "w") as f:
            f.write(run.stdout)
        os.replace(cached + ".part", cached)
    return cached

with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
    outputs = list(pool.map(tidy, commands))
for stale in set(os.listdir("build/analyse/tidy")) - {os.path.basename(o) for o in outputs}:
    os.remove(os.path.join("build/analyse/tidy", stale))

finding = re.compile(r"^(.+?):(\d+):\d+: (warning|error): (.*) \[([^\]]+)\]$")
found = {}
for output in outputs:
    for line in open(output):
        m = finding.match(line.rstrip("\n"))
        if m:
            path = os.path.relpath(m.group(1), root)
            found[(path, int(m.group(2)), m.group(5))] = m.group(4)

waivers = []
for number, line in enumerate(open(".clang-tidy-waivers"), 1):
    line = line.strip()
    if not line or line.startswith("#"):
        continue
    parts = [p.strip() for p in line.split("|")]
    if len(parts) != 4 or not all(parts):
        sys.exit(f"analyse: .clang-tidy-waivers:{number}: want 'file | check | text | reason'")
    waivers.append({"file": parts[0], "check": parts[1], "text": parts[2], "used": 0, "line": number})

def source_line(path, number):
    try:
        with open(path, errors="replace") as f:
            for i, text in enumerate(f, 1):
                if i == number:
                    return text.rstrip("\n")
    except OSError:
        pass
    return ""

failures = 0
for (path, number, checks), message in sorted(found.items()):
    text = source_line(path, number)
    waiver = next((w for w in waivers if w["file"] == path and w["check"] in checks.split(",")
                   and w["text"] in text), None)
    if waiver:
        waiver["used"] += 1
        continue
    failures += 1
    print(f"{path}:{number}: {message} [{checks}]\n    {text.strip()}")
for w in waivers:
    if not w["used"]:
        print(f"analyse: note: waiver on line {w['line']} of .clang-tidy-waivers matches nothing any more")
waived = sum(w["used"] for w in waivers)
print(f"clang-tidy: {len(commands)} files, {failures} findings, {waived} waived")

cppcheck = subprocess.run(
    ["cppcheck", "--project=build/analyse/compile_commands.json", "--std=c++17",
     "--enable=warning,performance,portability,style", "--inline-suppr", "--quiet", f"-j{jobs}",
     "--cppcheck-build-dir=build/analyse/cppcheck", "--suppressions-list=.cppcheck-suppressions",
     "--template={file}:{line}: {severity}: {message} [{id}]"],
    capture_output=True, text=True)
reports = sorted({os.path.relpath(l.split(":", 1)[0], root) + ":" + l.split(":", 1)[1]
                  for l in cppcheck.stderr.splitlines() if re.match(r"^.+:\d+: \w+: ", l)})
for r in reports:
    print(r)
if cppcheck.returncode != 0 and not reports:
    print(cppcheck.stderr)
    failures += 1
print(f"cppcheck: {len(reports)} findings")
sys.exit(1 if failures or reports else 0)
PY
}

# Whole runs of the native installer under valgrind: a fresh install, a
# second one over it (backups, replacing through temporary files), a run
# the [Verify] section refuses, a damaged package (the error path) and a
# missing one. Any leak or memory error fails.
leak_check() {
  local setup=$build/src/driver/plfsetup tool=$build/src/tools/plf
  if [ ! -x "$setup" ] || [ ! -x "$tool" ]; then
    echo "analyse: build $setup and $tool first (cmake --build --preset native)" >&2
    return 1
  fi
  local work
  work=$(mktemp -d "${TMPDIR:-/tmp}/plf-leaks.XXXXXX")
  trap 'rm -rf "$work"' RETURN
  mkdir -p "$work/setup" "$work/target"
  cp "$setup" "$work/setup/plfsetup"
  "$tool" pack "$work/setup/Install.PLF" examples/script.ini examples/files/readme.txt \
    examples/files/settings.ini examples/files/hello.txt >/dev/null

  local failed=0
  run() {
    local name=$1 want=$2 code=0
    (cd "$work/target" && valgrind --quiet --leak-check=full --show-leak-kinds=definite,indirect,possible \
      --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=99 --log-file="$work/valgrind.log" \
      "$work/setup/plfsetup" 2>"$work/boxes.txt") || code=$?
    if [ "$code" -eq 99 ] || [ -s "$work/valgrind.log" ]; then
      echo "leaks: $name: valgrind reports:" >&2
      cat "$work/valgrind.log" >&2
      failed=1
    elif [ "$code" -ne "$want" ]; then
      echo "leaks: $name: exit code $code, expected $want" >&2
      cat "$work/boxes.txt" >&2
      failed=1
    else
      echo "leaks: $name: clean (exit code $code)"
    fi
  }
  # The runs must really take their paths, or they prove nothing.
  expect() {
    if [ ! -e "$work/target/$1" ]; then
      echo "leaks: $1 is missing: the run did not install" >&2
      failed=1
    fi
  }
  run "first install" 0
  expect example/data/hello.txt
  run "second install over the first" 0
  expect example/data/hello_OLD.txt
  touch "$work/target/example/do-not-install.flag"
  run "refused by [Verify]" 0
  rm "$work/target/example/do-not-install.flag"
  head -c 600 "$work/setup/Install.PLF" >"$work/cut.plf"
  mv "$work/cut.plf" "$work/setup/Install.PLF"
  run "damaged package" 1
  rm "$work/setup/Install.PLF"
  run "missing package" 0
  return "$failed"
}

status=0
if [ "$what" = static ] || [ "$what" = all ]; then static_analysis || status=1; fi
if [ "$what" = leaks ] || [ "$what" = all ]; then leak_check || status=1; fi
exit "$status"
