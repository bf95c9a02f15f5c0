#!/usr/bin/env python3
"""The installer benchmark: plfsetup against the floor (inflate and write,
nothing else), unzip and tar on the same files, alternately, with medians.

Started by scripts/bench.sh, which builds the programs first. Workloads:
  a    one 512 MiB file of mixed data
  a64  one 64 MiB file (for the memory bound)
  b    20,000 files of 1 to 64 KiB in 200 folders
  c    the files of b installed over an existing copy of them
  dir  the memory of opening a package of 1,000,000 minimal entries against
       the bytes of its directory (directory_bench; no installing)

Every run gets a fresh, empty ext4 file system on a loop device (made anew
before each run; root only), so that no run pays for what another left
behind: dirty pages, or inodes freed a moment ago, which ext4 skips when it
allocates. Without root it falls back to fresh folders (noisier). Inputs are
read once before a workload so the page cache is warm for every contender.

Times: "exit" is from the start of the process to its exit; "durable" adds
one flush of the target file system afterwards (sync -f), the time until
the installed files are on disk whatever the program did itself.
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1024 * 1024
DATA_VERSION = 1  # bump when bench_data changes what it writes

FULL = {
    "a": {"kind": "big", "bytes": 512 * MIB, "reps": 2, "label": "(a) one 512 MiB file"},
    "a64": {"kind": "big", "bytes": 64 * MIB, "reps": 1, "label": "one 64 MiB file"},
    "b": {"kind": "files", "count": 20000, "folders": 200, "reps": 3, "label": "(b) 20,000 files in 200 folders"},
    "c": {"data": "b", "over": True, "reps": 3, "label": "(c) as (b), over an existing copy"},
}
TINY = {
    "a": {"kind": "big", "bytes": 4 * MIB, "reps": 1, "label": "(a) one 4 MiB file"},
    "a64": {"kind": "big", "bytes": 1 * MIB, "reps": 1, "label": "one 1 MiB file"},
    "b": {"kind": "files", "count": 300, "folders": 10, "reps": 1, "label": "(b) 300 files in 10 folders"},
    "c": {"data": "b", "over": True, "reps": 1, "label": "(c) as (b), over an existing copy"},
}

# Entries of the package whose opening directory_bench measures.
DIRECTORY_ENTRIES = {"full": 1000000, "tiny": 20000}
DIRECTORY_BOUND = 1.25

# Contenders in the order of the table.
CONTENDERS = [
    ("floor", "floor (inflate + write)"),
    ("plfsetup", "plfsetup"),
    ("unzip", "unzip -o -q"),
    ("tar", "tar -xzf"),
]


def log(text):
    print(text, file=sys.stderr, flush=True)


def run(cmd, **kw):
    subprocess.run(cmd, check=True, **kw)


# --- data ----------------------------------------------------------------------


def make_data(tools, work, name, spec):
    folder = os.path.join(work, "data", name)
    stamp = os.path.join(folder, "READY")
    shape = {k: spec[k] for k in ("kind", "bytes", "count", "folders") if k in spec}
    wanted = json.dumps({"version": DATA_VERSION, "data": shape}, sort_keys=True)
    if os.path.exists(stamp) and open(stamp).read() == wanted:
        return folder
    log(f"bench: making the data of workload {name} in {folder}")
    shutil.rmtree(folder, ignore_errors=True)
    if spec["kind"] == "big":
        run([tools["bench_data"], folder, "big", str(spec["bytes"]), "1"])
    else:
        run([tools["bench_data"], folder, "files", str(spec["count"]), str(spec["folders"]), "2"])
    src = os.path.join(folder, "src")
    # The same files, the same compression level (6) as the package.
    run(["zip", "-q", "-r", "-6", "-X", os.path.join(folder, "files.zip"), "."], cwd=src)
    with open(os.path.join(folder, "files.tar.gz"), "wb") as out:
        tar = subprocess.Popen(["tar", "-cf", "-", "."], cwd=src, stdout=subprocess.PIPE)
        run(["gzip", "-6"], stdin=tar.stdout, stdout=out)
        tar.stdout.close()
        if tar.wait() != 0:
            raise RuntimeError("tar failed")
    with open(stamp, "w") as f:
        f.write(wanted)
    return folder


def manifest(src):
    files = {}
    for root, _, names in os.walk(src):
        for n in names:
            path = os.path.join(root, n)
            files[os.path.relpath(path, src)] = os.path.getsize(path)
    return files


def warm(paths):
    for p in paths:
        if os.path.isdir(p):
            for root, _, names in os.walk(p):
                warm(os.path.join(root, n) for n in names)
        elif os.path.exists(p):
            with open(p, "rb") as f:
                while f.read(1 << 20):
                    pass


# --- where the runs write ----------------------------------------------------------


class ScratchFileSystem:
    """A loop device over an image file, given a new ext4 file system per run."""

    def __init__(self, work, size_gib):
        self.image = os.path.join(work, "scratch.img")
        self.mount = os.path.join(work, "mnt")
        self.device = None
        self.mounted = False
        with open(self.image, "ab") as f:
            f.truncate(size_gib << 30)
        os.makedirs(self.mount, exist_ok=True)
        for extra in (["--direct-io=on"], []):
            r = subprocess.run(["losetup", *extra, "-f", "--show", self.image], capture_output=True, text=True)
            if r.returncode == 0:
                self.device = r.stdout.strip()
                break
        if self.device is None:
            raise RuntimeError("no loop device")

    def fresh(self):
        self.release()
        # Like this machine's own file system: ext4 without a journal.
        run(["mkfs.ext4", "-q", "-F", "-O", "^has_journal", "-E", "nodiscard,lazy_itable_init=1", self.device])
        # noinit_itable: no background zeroing of inode tables during the runs.
        run(["mount", "-o", "noinit_itable", self.device, self.mount])
        self.mounted = True
        target = os.path.join(self.mount, "target")
        os.mkdir(target)
        return target

    def release(self):
        if self.mounted:
            subprocess.run(["umount", self.mount], check=False)
            self.mounted = False

    def close(self):
        self.release()
        if self.device:
            subprocess.run(["losetup", "-d", self.device], check=False)
            self.device = None


class PlainFolders:
    """A new folder per run on the build's own file system."""

    def __init__(self, work):
        self.base = os.path.join(work, "runs")
        self.current = None
        os.makedirs(self.base, exist_ok=True)

    def fresh(self):
        self.release()
        self.current = tempfile.mkdtemp(dir=self.base)
        return self.current

    def release(self):
        if self.current:
            shutil.rmtree(self.current, ignore_errors=True)
            self.current = None

    def close(self):
        self.release()


def open_target_space(work, mode):
    if mode in ("scratch", "auto") and os.geteuid() == 0 and shutil.which("losetup") and shutil.which("mkfs.ext4"):
        try:
            return ScratchFileSystem(work, 4), ("Each run installs into a new ext4 file system (no journal, like this "
                                                "machine's own) on a loop device over an image in the build folder.")
        except Exception as e:  # noqa: BLE001 - any failure means: use folders
            if mode == "scratch":
                raise
            log(f"bench: no scratch file system ({e}); using plain folders")
    return PlainFolders(work), "Each run installs into a new folder (no root or no loop device: noisier numbers)."


# --- one run --------------------------------------------------------------------


def timed(spawn, cmd, cwd):
    """(exit seconds, durable seconds, peak KiB, exit code, stderr)."""
    with tempfile.TemporaryFile() as err:
        p = subprocess.run([spawn, *cmd], cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=err,
                           text=True, check=True)
        seconds, peak, code = p.stdout.split()
        synced = time.perf_counter()
        subprocess.run(["sync", "-f", cwd], check=False)
        flush = time.perf_counter() - synced
        err.seek(0)
        text = err.read().decode("utf-8", "replace")
    return float(seconds), float(seconds) + flush, int(peak), int(code), text


def check_installed(target, files):
    """Problems with the installed files: missing, or of the wrong size."""
    problems = []
    for rel, size in files.items():
        path = os.path.join(target, rel)
        if not os.path.exists(path):
            problems.append(f"{rel} missing")
        elif os.path.getsize(path) != size:
            problems.append(f"{rel} has {os.path.getsize(path)} bytes, not {size}")
        if len(problems) > 5:
            break
    return problems


def commands(tools, data):
    return {
        "floor": [tools["bench_floor"], os.path.join(data, "Install.PLF")],
        "plfsetup": [os.path.join(data, "plfsetup")],
        "unzip": ["unzip", "-o", "-q", os.path.join(data, "files.zip")],
        "tar": ["tar", "-xzf", os.path.join(data, "files.tar.gz")],
    }


def run_workload(name, spec, data, tools, space, results, tiny):
    over = spec.get("over", False)
    src = os.path.join(data, "src")
    files = manifest(src)
    shutil.copy2(tools["plfsetup"], os.path.join(data, "plfsetup"))  # beside Install.PLF
    cmds = commands(tools, data)
    warm([os.path.join(data, n) for n in ("Install.PLF", "files.zip", "files.tar.gz")] + list(tools.values()))
    reps = spec["reps"]
    keys = [k for k, _ in CONTENDERS]
    checked = set()
    for rep in range(reps):
        order = keys[rep % len(keys):] + keys[: rep % len(keys)]  # alternate who goes first
        for key in order:
            target = space.fresh()
            if over:
                run(["cp", "-a", src + "/.", target])
                subprocess.run(["sync", "-f", target], check=False)
            log(f"bench: {name} {key} run {rep + 1}")
            exit_s, durable_s, peak, code, err = timed(tools["bench_spawn"], cmds[key], target)
            if code != 0 or err.strip():
                raise RuntimeError(f"{key} on {name} failed (exit code {code}): {err.strip()}")
            if key not in checked:
                problems = check_installed(target, files)
                if problems:
                    raise RuntimeError(f"{key} on {name} did not install the files: " + "; ".join(problems))
                checked.add(key)
            results.setdefault((name, key), []).append((exit_s, durable_s, peak))
            space.release()


def run_wine(tools, data, space, work, exe, results):
    prefix_default = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(exe))), "wineprefix")
    prefix = prefix_default if os.path.isdir(prefix_default) else os.path.join(work, "wineprefix")
    wine_run = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "wine-run.sh")
    run([wine_run, "--init", prefix], stdout=subprocess.DEVNULL)
    shutil.copy2(exe, os.path.join(data, "plfsetup.exe"))
    files = manifest(os.path.join(data, "src"))
    # Started once where it finds no package (a warning, exit code 0), so
    # that Wine's server is up when the timed run starts.
    with tempfile.TemporaryDirectory() as empty:
        shutil.copy2(exe, os.path.join(empty, "plfsetup.exe"))
        subprocess.run([wine_run, "--headless", prefix, os.path.join(empty, "plfsetup.exe")], cwd=empty,
                       check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    target = space.fresh()
    log("bench: b plfsetup.exe under Wine")
    exit_s, durable_s, _, code, _ = timed(tools["bench_spawn"],
                                          [wine_run, "--headless", prefix, os.path.join(data, "plfsetup.exe")], target)
    problems = check_installed(target, files) if code == 0 else [f"exit code {code}"]
    space.release()
    if problems:
        raise RuntimeError("plfsetup.exe under Wine did not install the files: " + "; ".join(problems))
    results[("b", "wine")] = [(exit_s, durable_s, None)]


def measure_directory(tools, work, entries):
    """The figures of directory_bench for a package of `entries` entries."""
    log(f"bench: opening a package of {entries} entries")
    with tempfile.TemporaryDirectory(dir=work) as folder:
        p = subprocess.run([tools["directory_bench"], str(entries), folder], capture_output=True, text=True)
    # 1: measured, the bound missed; the report says so.
    if p.returncode not in (0, 1):
        raise RuntimeError(f"directory_bench failed (exit code {p.returncode}): {p.stderr.strip()}")
    figures = dict(pair.split("=", 1) for pair in p.stdout.strip().splitlines()[-1].split())
    return {k: float(v) for k, v in figures.items()}


# --- report ---------------------------------------------------------------------


def median(values):
    return statistics.median(values) if values else None


def fmt(v, digits=2):
    return "–" if v is None else f"{v:.{digits}f}"


def file_size(path, strip_tool):
    if not path or not os.path.exists(path):
        return None, None
    size = os.path.getsize(path)
    stripped = None
    if strip_tool and shutil.which(strip_tool):
        with tempfile.TemporaryDirectory() as t:
            out = os.path.join(t, "s")
            if subprocess.run([strip_tool, "-o", out, path], capture_output=True).returncode == 0:
                stripped = os.path.getsize(out)
    return size, stripped


def exit_median(results, name, key):
    runs = results.get((name, key))
    return median([r[0] for r in runs]) if runs else None


def peak_median(results, name, key):
    runs = results.get((name, key))
    return int(median([r[2] for r in runs])) if runs else None


def target_lines(results):
    def verdict(value, bound, text):
        if value is None or bound is None:
            return "–"
        return f"{text(value)} ({'met' if value <= bound else 'missed'})"

    lines = []
    checks = [
        ("(a) time within 1.10 × floor", "a", lambda n, k: ratio(results, n, k, "floor"), 1.10),
        ("(b) time within 1.5 × floor", "b", lambda n, k: ratio(results, n, k, "floor"), 1.5),
        ("(b) faster than unzip -o", "b", lambda n, k: ratio(results, n, k, "unzip"), 1.0),
        ("(c) faster than unzip -o", "c", lambda n, k: ratio(results, n, k, "unzip"), 1.0),
    ]
    for label, name, measure, bound in checks:
        lines.append(f"| {label} | {verdict(measure(name, 'plfsetup'), bound, lambda v: f'{v:.2f} ×')} |")
    for name, label in (("a", "(a)"), ("a64", "64 MiB file")):
        cell = verdict(peak_median(results, name, "plfsetup"), 4095, lambda v: f"{v} KiB")
        lines.append(f"| {label}: peak memory under 4 MiB | {cell} |")
    d = results.get("directory")
    if d:
        directory_kib = d["directory_bytes"] / 1024
        # A small directory may stay under the peak that the process had
        # reached before; then its resident growth cannot be seen.
        resident = (f"resident: {d['peak_rss_kib']:.0f} KiB, {d['rss_ratio']:.2f} ×" if d["peak_rss_kib"] >= 0
                    else "resident: under the earlier peak")
        cell = verdict(d["ratio"], DIRECTORY_BOUND,
                       lambda v: f"{d['peak_alloc_kib']:.0f} KiB allocated for a {directory_kib:.0f} KiB directory: "
                                 f"{v:.2f} × ({resident})")
        lines.append(f"| opening {int(d['entries']):,} minimal entries: peak memory within "
                     f"{DIRECTORY_BOUND} × the directory | {cell} |")
    else:
        lines.append(f"| opening minimal entries: peak memory within {DIRECTORY_BOUND} × the directory | – |")
    return lines


def ratio(results, name, key, reference):
    a, b = exit_median(results, name, key), exit_median(results, name, reference)
    return a / b if a is not None and b else None


def report(results, specs, names, setting, sizes, out_dir, notes):
    labels = dict(CONTENDERS)
    labels["wine"] = "plfsetup.exe under Wine"
    lines = ["# Installer benchmark", "", setting, "",
             "Medians of the runs; ratios are to the floor of the same workload. "
             "Peak memory is the peak resident set of the process (and its children).", "",
             "| workload | contender | runs | exit (s) | × floor | durable (s) | × floor | peak memory (KiB) |",
             "|---|---|---:|---:|---:|---:|---:|---:|"]
    chart_rows = []
    for name in names:
        floor = results.get((name, "floor"))
        floor_exit = median([r[0] for r in floor]) if floor else None
        floor_durable = median([r[1] for r in floor]) if floor else None
        row = [name]
        for key in [k for k, _ in CONTENDERS] + ["wine"]:
            runs = results.get((name, key))
            if not runs:
                if key != "wine":
                    row.append("?")
                continue
            e = median([r[0] for r in runs])
            d = median([r[1] for r in runs])
            peaks = [r[2] for r in runs if r[2] is not None]
            peak = int(median(peaks)) if peaks else None
            re = e / floor_exit if floor_exit else None
            rd = d / floor_durable if floor_durable else None
            lines.append(f"| {specs[name]['label']} | {labels[key]} | {len(runs)} | {fmt(e)} | {fmt(re)} | "
                         f"{fmt(d)} | {fmt(rd)} | {peak if peak is not None else '–'} |")
            if key != "wine":
                row.append(fmt(re, 3) if re else "?")
        chart_rows.append(row)
    lines += ["", "| target | plfsetup |", "|---|---|"]
    lines += target_lines(results)
    lines += ["", "| program | size (bytes) | stripped (bytes) |", "|---|---:|---:|"]
    for label, (size, stripped) in sizes:
        lines.append(f"| {label} | {size if size is not None else 'absent'} | "
                     f"{stripped if stripped is not None else '–'} |")
    if notes:
        lines += [""] + [f"- {n}" for n in notes]
    text = "\n".join(lines) + "\n"
    with open(os.path.join(out_dir, "bench.md"), "w") as f:
        f.write(text)
    print(text)
    chart(chart_rows, out_dir)


def chart(rows, out_dir):
    if not shutil.which("gnuplot"):
        log("bench: gnuplot is missing (scripts/deps.sh bench installs it): no chart")
        return
    dat = os.path.join(out_dir, "bench.dat")
    with open(dat, "w") as f:
        f.write("workload " + " ".join(f'"{label}"' for _, label in CONTENDERS) + "\n")
        for row in rows:
            f.write(" ".join(row) + "\n")
    script = f"""
set terminal pngcairo size 1100,600 font ",10"
set output "{os.path.join(out_dir, 'bench.png')}"
set title "Time to exit, relative to the floor (inflate + write) of each workload"
set datafile missing "?"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set logscale y
set yrange [0.5:*]
set grid ytics
set ylabel "× floor (log scale)"
set key top left
plot for [i=2:{len(CONTENDERS) + 1}] "{dat}" using i:xtic(1) title columnheader(i), 1 with lines dt 2 lc "black" notitle
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=False)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", required=True, help="build folder with the Release programs")
    ap.add_argument("--work", required=True, help="folder for the data and the runs")
    ap.add_argument("--out", help="where bench.md and bench.png go (default: WORK, or WORK/tiny with --tiny)")
    ap.add_argument("--tiny", action="store_true", help="tiny workloads, one run each: a smoke test")
    ap.add_argument("--only", help="comma-separated workloads (a,a64,b,c,dir)")
    ap.add_argument("--reps", type=int, help="runs per contender (default: per workload)")
    ap.add_argument("--fs", choices=["auto", "scratch", "plain"], default="auto")
    ap.add_argument("--windows-exe", help="plfsetup.exe to run under Wine on (b)")
    ap.add_argument("--no-wine", action="store_true")
    args = ap.parse_args()

    for tool in ("zip", "unzip", "tar", "gzip"):
        if not shutil.which(tool):
            sys.exit(f"bench: {tool} is missing (scripts/deps.sh bench installs it)")
    specs = TINY if args.tiny else FULL
    names = args.only.split(",") if args.only else list(specs) + ["dir"]
    for n in names:
        if n not in specs and n != "dir":
            sys.exit(f"bench: no workload {n}")
    directory = "dir" in names
    names = [n for n in names if n != "dir"]
    if args.reps:
        for n in names:
            specs[n]["reps"] = args.reps
    work = os.path.abspath(args.work)
    out_dir = os.path.abspath(args.out or (os.path.join(work, "tiny") if args.tiny else work))
    os.makedirs(out_dir, exist_ok=True)
    build = os.path.abspath(args.build)
    tools = {
        "plfsetup": os.path.join(build, "src", "driver", "plfsetup"),
        "bench_data": os.path.join(build, "bench", "bench_data"),
        "bench_floor": os.path.join(build, "bench", "bench_floor"),
        "bench_spawn": os.path.join(build, "bench", "bench_spawn"),
        "directory_bench": os.path.join(build, "bench", "directory_bench"),
    }
    started = time.perf_counter()
    data = {}
    for n in names:
        source = specs[n].get("data", n)
        spec = specs[source]
        data[n] = make_data(tools, work if not args.tiny else os.path.join(work, "tiny"), source, spec)

    space, setting = open_target_space(work, args.fs)
    results = {}
    notes = []
    if directory:
        data_work = os.path.join(work, "tiny") if args.tiny else work
        os.makedirs(data_work, exist_ok=True)
        results["directory"] = measure_directory(tools, data_work, DIRECTORY_ENTRIES["tiny" if args.tiny else "full"])
    try:
        for n in names:
            run_workload(n, specs[n], data[n], tools, space, results, args.tiny)
        exe = args.windows_exe or os.path.join(os.path.dirname(work), "windows", "src", "driver", "plfsetup.exe")
        if args.no_wine or "b" not in names:
            pass
        elif not os.path.exists(exe):
            notes.append(f"plfsetup.exe under Wine: skipped, {exe} is absent (build the windows preset)")
        elif not shutil.which("wine"):
            notes.append("plfsetup.exe under Wine: skipped, Wine is not installed")
        else:
            run_wine(tools, data["b"], space, work, exe, results)
    finally:
        space.close()

    notes.append(f"Whole benchmark: {time.perf_counter() - started:.0f} s on {os.cpu_count()} cores.")
    exe = args.windows_exe or os.path.join(os.path.dirname(work), "windows", "src", "driver", "plfsetup.exe")
    sizes = [("plfsetup (native, Release)", file_size(tools["plfsetup"], "strip")),
             ("plfsetup.exe (32-bit Windows, MinSizeRel)", file_size(exe, "i686-w64-mingw32-strip"))]
    report(results, specs, names, setting, sizes, out_dir, notes)


if __name__ == "__main__":
    main()
