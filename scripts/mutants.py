#!/usr/bin/env python3
"""Mutation sample: how many small, mechanical faults in src/ the native
tests catch. Draws N seeded mutants (a flipped comparison, && for || and
back, a constant off by one, a dropped throw or statement, a negated
condition or boolean), builds the native tests with each in its own build
folder, runs them and tells which mutants survived.

  scripts/mutants.sh [N] [SEED] [--survivors-of LOG]   (default: 60 mutants, seed 1)

With --survivors-of, a mutant that an earlier run's output LOG lists as
surviving (same file, operator and line text) is counted as surviving again
without being built: fewer or equal tests cannot catch it, so only the
mutants caught before need a run to tell whether they still are.

Mutants are made in a copy of the tree (build/mutants/tree), so the
working tree and its builds are never touched, whatever happens.
"""

import collections
import hashlib
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import time

SOURCE = pathlib.Path(__file__).resolve().parent.parent
WORK = SOURCE / "build" / "mutants"
ROOT = WORK / "tree"  # the copy that is mutated
BUILD = WORK / "build"
MUTATING = WORK / "mutating"  # the file a mutant is in, while it is
TEST_TIMEOUT = 120  # seconds per test binary: a mutant may loop forever

# (name, pattern, replacement). Each match outside strings and comments is
# one candidate site.
OPERATORS = [
    # Binary operators stand between blanks in this code base; "<" and ">"
    # without them are template brackets.
    ("== to !=", re.compile(r"(?<= )==(?= )"), "!="),
    ("!= to ==", re.compile(r"(?<= )!=(?= )"), "=="),
    ("< to <=", re.compile(r"(?<= )<(?= )"), "<="),
    ("<= to <", re.compile(r"(?<= )<=(?= )"), "<"),
    ("> to >=", re.compile(r"(?<= )>(?= )"), ">="),
    (">= to >", re.compile(r"(?<= )>=(?= )"), ">"),
    ("&& to ||", re.compile(r"&&"), "||"),
    ("|| to &&", re.compile(r"\|\|"), "&&"),
    ("constant + 1", re.compile(r"(?<![\w.])([0-9]+)(?![\w.'x])"), None),
    ("true to false", re.compile(r"\btrue\b"), "false"),
    ("false to true", re.compile(r"\bfalse\b"), "true"),
    ("negated condition", re.compile(r"\bif \((?!constexpr)"), None),
    ("dropped throw", re.compile(r"^\s*throw\b[^;]*;"), None),
    ("dropped statement", re.compile(r"^\s*[A-Za-z_][\w:.>\-]*\([^;{}]*\);\s*$"), None),
]


def code_spans(line):
    """The parts of a line that are code: not string or char literals, not a
    // comment. Returns a list of (start, end)."""
    spans, i, start, n = [], 0, 0, len(line)
    while i < n:
        c = line[i]
        if c == "/" and line.startswith("//", i):
            spans.append((start, i))
            return spans
        if c in "\"'":
            spans.append((start, i))
            quote, i = c, i + 1
            while i < n and line[i] != quote:
                i += 2 if line[i] == "\\" else 1
            i += 1
            start = i
            continue
        i += 1
    spans.append((start, n))
    return spans


def matching_paren(line, at):
    """Where the parenthesis opened at `at` closes on the same line; -1."""
    depth = 0
    for i in range(at, len(line)):
        depth += {"(": 1, ")": -1}.get(line[i], 0)
        if depth == 0:
            return i
    return -1


def sites():
    found = []
    for path in sorted((ROOT / "src").rglob("*")):
        # Only what the native build compiles can be caught by its tests.
        if path.suffix not in (".cpp", ".h") or "_win32" in path.name:
            continue
        in_block = False
        for number, line in enumerate(path.read_text(encoding="latin-1").splitlines(), 1):
            stripped = line.strip()
            if in_block:
                in_block = "*/" not in stripped
                continue
            if stripped.startswith("/*"):
                in_block = "*/" not in stripped
                continue
            if not stripped or stripped.startswith(("#", "//", "static_assert")):
                continue
            spans = code_spans(line)
            for name, pattern, replacement in OPERATORS:
                for m in pattern.finditer(line):
                    if not any(a <= m.start() and m.end() <= b for a, b in spans):
                        continue
                    if name == "constant + 1":
                        text = str(int(m.group(1)) + 1)
                    elif name == "negated condition":
                        close = matching_paren(line, m.end() - 1)
                        if close < 0:
                            continue
                        found.append((path, number, name, m.end(), close, "!(" + line[m.end():close] + ")"))
                        continue
                    elif replacement is None:
                        text = line[:len(line) - len(line.lstrip())] + ";" if name.startswith("dropped") else ""
                        found.append((path, number, name, 0, len(line), text))
                        continue
                    else:
                        text = replacement
                    found.append((path, number, name, m.start(), m.end(), text))
    return found


def draw(all_sites, count, seed):
    """The sample: the sites whose seeded hash of file, line text, operator
    and column is least. A site keeps its rank whatever changes elsewhere, so
    a later run with the same seed meets the same mutants on lines that are
    still there, and before-and-after rates compare like with like."""
    seen = collections.Counter()
    ranked, texts = [], {}
    for site in all_sites:
        path, number, name, start = site[:4]
        if path not in texts:
            texts[path] = path.read_text(encoding="latin-1").splitlines()
        line = texts[path][number - 1]
        indent = len(line) - len(line.lstrip())
        identity = f"{path.relative_to(ROOT)}|{line.strip()}|{name}|{start - indent}"
        seen[identity] += 1
        digest = hashlib.sha256(f"{seed}|{identity}|{seen[identity]}".encode("latin-1")).hexdigest()
        ranked.append((digest, site))
    ranked.sort(key=lambda pair: pair[0])
    return [site for _, site in ranked[:count]]


def run(cmd, timeout=None):
    return subprocess.run(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)


def copy_tree():
    """The sources as they are now, into the copy; the build folder stays,
    so that only what changed is rebuilt."""
    ROOT.mkdir(parents=True, exist_ok=True)
    for name in ("CMakeLists.txt", "CMakePresets.json"):
        shutil.copy2(SOURCE / name, ROOT / name)
    for folder in ("cmake", "src", "tests", "fuzz", "bench", "examples", "resources", "scripts"):
        shutil.rmtree(ROOT / folder, ignore_errors=True)  # a file gone from the tree goes from the copy
        if (SOURCE / folder).is_dir():
            shutil.copytree(SOURCE / folder, ROOT / folder, ignore=shutil.ignore_patterns("__pycache__"))
    # A run killed outright left its mutant's objects behind, newer than the
    # original's time that the copy keeps: that file is rebuilt.
    if MUTATING.exists():
        left = ROOT / MUTATING.read_text()
        if left.exists():
            os.utime(left)
        MUTATING.unlink()


def configure():
    if not (BUILD / "CMakeCache.txt").exists():
        # Each mutant is a rebuild: light optimisation without debug
        # information, the gold linker, and ccache where it is installed,
        # which serves the file put back after a mutant from its cache.
        options = ["-DCMAKE_BUILD_TYPE=Release", "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG",
                   "-DCMAKE_C_FLAGS_RELEASE=-O1 -DNDEBUG",
                   "-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=gold"]
        if shutil.which("ccache"):
            options += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        r = run(["cmake", "-S", str(ROOT), "-B", str(BUILD), "-DCMAKE_CXX_COMPILER=g++", "-DCMAKE_C_COMPILER=gcc",
                 "-DPLF_WERROR=OFF"] + options)
        if r.returncode != 0:
            sys.exit("mutants: configuring failed:\n" + r.stdout.decode(errors="replace"))
    r = run(["cmake", "--build", str(BUILD), "-j2"])
    if r.returncode != 0:
        sys.exit("mutants: the unmutated tree does not build:\n" + r.stdout.decode(errors="replace")[-3000:])


def tests_pass():
    """False when the native tests catch the mutant (a failure, a crash or a
    hang); the end-to-end tests are left out, being slow and about Wine."""
    # The suites carry their own, longer limit, so the whole run is timed
    # here; it gets its own process group, so that a hanging test program is
    # killed with it rather than left spinning behind the next mutants.
    p = subprocess.Popen(["ctest", "--test-dir", str(BUILD), "-j2", "-E", "e2e", "--timeout", str(TEST_TIMEOUT),
                          "--stop-on-failure"], cwd=ROOT, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                         start_new_session=True)
    try:
        return p.wait(timeout=TEST_TIMEOUT * 2) == 0
    except subprocess.TimeoutExpired:
        os.killpg(p.pid, signal.SIGKILL)
        p.wait()
        return False


def earlier_survivors(log):
    """(file, operator, stripped line) of every survivor an earlier run printed."""
    found, lines = set(), pathlib.Path(log).read_text(errors="replace").splitlines()
    for i, line in enumerate(lines):
        m = re.match(r"  survived (\S+):\d+ \((.*)\)$", line)
        if m and i + 1 < len(lines) and lines[i + 1].startswith("    - "):
            found.add((m.group(1), m.group(2), lines[i + 1][6:].strip()))
    return found


def main():
    # A termination puts the mutated file back on the way out, as Ctrl+C does.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    args = sys.argv[1:]
    survivors = set()
    if "--survivors-of" in args:
        at = args.index("--survivors-of")
        survivors = earlier_survivors(args[at + 1])
        del args[at:at + 2]
    count = int(args[0]) if len(args) > 0 else 60
    seed = int(args[1]) if len(args) > 1 else 1
    copy_tree()
    all_sites = sites()
    chosen = draw(all_sites, count, seed)
    print(f"mutants: {len(chosen)} of {len(all_sites)} sites, seed {seed}", flush=True)
    configure()
    killed, survived, unbuilt = 0, [], 0
    started = time.time()
    for k, (path, number, name, start, end, text) in enumerate(chosen, 1):
        original = path.read_bytes()
        lines = original.decode("latin-1").split("\n")
        line = lines[number - 1]
        mutated = line[:start] + text + line[end:]
        lines[number - 1] = mutated
        where = f"{path.relative_to(ROOT)}:{number}"
        if (str(path.relative_to(ROOT)), name, line.strip()) in survivors:
            survived.append((where, name, line.strip(), mutated.strip()))
            print(f"[{k}/{len(chosen)}] {'SURVIVED':15} {where} ({name}) as before, not run", flush=True)
            continue
        try:
            MUTATING.write_text(str(path.relative_to(ROOT)))
            path.write_bytes("\n".join(lines).encode("latin-1"))
            built = run(["cmake", "--build", str(BUILD), "-j2"]).returncode == 0
            if not built:
                unbuilt += 1
                verdict = "does not build"
            elif tests_pass():
                survived.append((where, name, line.strip(), mutated.strip()))
                verdict = "SURVIVED"
            else:
                killed += 1
                verdict = "killed"
        finally:
            path.write_bytes(original)
            MUTATING.unlink(missing_ok=True)
        print(f"[{k}/{len(chosen)}] {verdict:15} {where} ({name})", flush=True)
    run(["cmake", "--build", str(BUILD), "-j2"])  # the tree as it is again
    tried = killed + len(survived)
    print(f"\nmutants: seed {seed}: {killed} killed, {len(survived)} survived, {unbuilt} did not build"
          f" ({time.time() - started:.0f} s)")
    if tried:
        print(f"mutants: kill rate {100.0 * killed / tried:.1f}% of {tried} that built")
    for where, name, before, after in survived:
        print(f"  survived {where} ({name})\n    - {before}\n    + {after}")


if __name__ == "__main__":
    main()
