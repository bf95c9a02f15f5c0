#!/usr/bin/env python3
"""The installer benchmark: plfsetup against the floor (inflate and write,
nothing else), unzip and tar on the same files, alternately, with medians;
and under Wine, plfsetup.exe against an NSIS installer of the same files.

Started by scripts/bench.sh, which builds the programs first. Workloads:
  a    one 512 MiB file of mixed data
  a64  one 64 MiB file (for the memory bound)
  b    20,000 files of 1 to 64 KiB in 200 folders
  c    the files of b installed over an existing copy of them
  dir  the memory of opening a package of 1,000,000 minimal entries against
       the bytes of its directory (directory_bench; no installing)
The Windows contenders run on (b) and (c), in one Wine prefix, alternately,
as many times as the others; the NSIS installer is built (once, kept beside
the data) from the same files, with the package's folders (bench/nsis.py).

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

import nsis

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
# Contenders under Wine, on these workloads only.
WINDOWS_CONTENDERS = [
    ("plfsetup.exe", "plfsetup.exe under Wine"),
    ("nsis", "NSIS installer under Wine"),
]
WINDOWS_WORKLOADS = ("b", "c")

# The date given to the copy that (c) installs over: a file that still has it
# after a run was not replaced, which its size alone would not show.
STALE_MTIME = 946684800  # 2000-01-01


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


def lay_old_copy(src, target):
    """The files of `src` in `target`, dated STALE_MTIME and on disk: what (c) installs over."""
    run(["cp", "-a", src + "/.", target])
    for root, _, names in os.walk(target):
        for n in names:
            os.utime(os.path.join(root, n), (STALE_MTIME, STALE_MTIME))
    subprocess.run(["sync", "-f", target], check=False)


def check_installed(target, files, stale=None):
    """Problems with the installed files: missing, of the wrong size, or still dated `stale`."""
    problems = []
    for rel, size in files.items():
        path = os.path.join(target, rel)
        st = os.stat(path) if os.path.exists(path) else None
        if st is None:
            problems.append(f"{rel} missing")
        elif st.st_size != size:
            problems.append(f"{rel} has {st.st_size} bytes, not {size}")
        elif stale is not None and int(st.st_mtime) == stale:
            problems.append(f"{rel} was not replaced")
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


def run_workload(name, spec, data, tools, space, results, keys):
    over = spec.get("over", False)
    src = os.path.join(data, "src")
    files = manifest(src)
    shutil.copy2(tools["plfsetup"], os.path.join(data, "plfsetup"))  # beside Install.PLF
    cmds = commands(tools, data)
    warm([os.path.join(data, n) for n in ("Install.PLF", "files.zip", "files.tar.gz")] + list(tools.values()))
    reps = spec["reps"]
    checked = set()
    for rep in range(reps):
        order = keys[rep % len(keys):] + keys[: rep % len(keys)]  # alternate who goes first
        for key in order:
            target = space.fresh()
            if over:
                lay_old_copy(src, target)
            log(f"bench: {name} {key} run {rep + 1}")
            exit_s, durable_s, peak, code, err = timed(tools["bench_spawn"], cmds[key], target)
            if code != 0 or err.strip():
                raise RuntimeError(f"{key} on {name} failed (exit code {code}): {err.strip()}")
            if key not in checked:
                problems = check_installed(target, files, STALE_MTIME if over else None)
                if problems:
                    raise RuntimeError(f"{key} on {name} did not install the files: " + "; ".join(problems))
                checked.add(key)
            results.setdefault((name, key), []).append((exit_s, durable_s, peak))
            space.release()


def windows_skips(wanted, exe, target, no_wine, wine_run):
    """Why each wanted Windows contender cannot run here: {contender: reason}."""
    why = {}
    if no_wine:
        reason = "--no-wine"
    elif not shutil.which("wine"):
        reason = "Wine is not installed"
    elif target == "x86-unicode" and subprocess.run([wine_run, "--can-run-32-bit"],
                                                    stderr=subprocess.DEVNULL).returncode != 0:
        reason = "this machine runs no 32-bit programs (give a 64-bit plfsetup.exe)"
    else:
        reason = None
    for key in wanted:
        if reason:
            why[key] = reason
    if "plfsetup.exe" in wanted and "plfsetup.exe" not in why and not os.path.exists(exe):
        why["plfsetup.exe"] = f"{exe} is absent (scripts/bench.sh builds one where mingw-w64 is installed)"
    if "nsis" in wanted and not shutil.which("makensis"):
        why["nsis"] = "makensis is missing (scripts/deps.sh bench installs it)"
    return why


def run_windows(names, specs, data, tools, space, work, exe, wanted, args, results, notes):
    """Runs the Windows contenders on `names`; returns the NSIS installers built, by data folder."""
    labels = dict(WINDOWS_CONTENDERS)
    wine_run = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "wine-run.sh")
    target = nsis.pe_target(exe) if os.path.exists(exe) else "amd64-unicode"
    why = windows_skips(wanted, exe, target, args.no_wine, wine_run)
    installers = {}
    # The tiny run builds the installer also where it cannot run it, so that
    # the smoke test still sees makensis take the script.
    if "nsis" in wanted and shutil.which("makensis") and ("nsis" not in why or args.tiny):
        for n in names:
            if data[n] not in installers:
                src = os.path.join(data[n], "src")
                log(f"bench: the NSIS installer of {os.path.basename(data[n])} ({target})")
                out = os.path.join(data[n], f"bench_nsis_{target}.exe")
                installers[data[n]] = nsis.build(src, manifest(src), out, target)
    for key, reason in why.items():
        built = " (the installer was built)" if key == "nsis" and installers else ""
        notes.append(f"{labels[key]}: skipped, {reason}{built}")
    keys = [k for k, _ in WINDOWS_CONTENDERS if k in wanted and k not in why]
    if not keys:
        return installers

    # A prefix of the benchmark's own: the builds' prefixes belong to their tests.
    prefix = os.path.join(work, "wineprefix")
    run([wine_run, "--init", prefix], stdout=subprocess.DEVNULL)
    for n in names:
        shutil.copy2(exe, os.path.join(data[n], "plfsetup.exe"))  # beside Install.PLF
    for n in names:
        folder, spec = data[n], specs[n]
        over = spec.get("over", False)
        src = os.path.join(folder, "src")
        files = manifest(src)
        warm([os.path.join(folder, "Install.PLF"), os.path.join(folder, "plfsetup.exe"), installers.get(folder, "")])
        for rep in range(spec["reps"]):
            order = keys[rep % len(keys):] + keys[: rep % len(keys)]  # alternate who goes first
            for key in order:
                target_dir = space.fresh()
                if over:
                    lay_old_copy(src, target_dir)
                program = [os.path.join(folder, "plfsetup.exe")] if key == "plfsetup.exe" else \
                    [installers[folder], *nsis.arguments(target_dir, prefix)]
                # Wine's server stops a few seconds after its last program and
                # takes a second or more to come back: started just before,
                # so that no contender pays for it.
                subprocess.run([wine_run, "--headless", prefix, "cmd", "/c", "exit"], cwd=work, check=False,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                log(f"bench: {n} {key} run {rep + 1}")
                exit_s, durable_s, peak, code, err = timed(tools["bench_spawn"],
                                                           [wine_run, "--headless", prefix, *program], target_dir)
                if code != 0:
                    problems = [f"exit code {code}"] + ([err.strip()] if err.strip() else [])
                else:
                    problems = check_installed(target_dir, files, STALE_MTIME if over else None)
                space.release()
                if problems:
                    raise RuntimeError(f"{labels[key]} on {n} did not install the files: " + "; ".join(problems))
                results.setdefault((n, key), []).append((exit_s, durable_s, peak))
    return installers


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


def medians(results, name, key):
    """(exit, durable) medians of a contender on a workload, or (None, None)."""
    runs = results.get((name, key))
    return (median([r[0] for r in runs]), median([r[1] for r in runs])) if runs else (None, None)


def windows_lines(results, specs, names):
    """The table of plfsetup.exe against NSIS and the chart's rows for it."""
    names = [n for n in names if any((n, k) in results for k, _ in WINDOWS_CONTENDERS)]
    if not names:
        return [], []
    lines = ["", "Under Wine, in one prefix: plfsetup.exe against an NSIS installer of the same files (zlib, not "
             "solid). Medians; the ratios are plfsetup.exe / NSIS.", "",
             "| workload | runs | plfsetup.exe exit (s) | NSIS exit (s) | exit ratio | plfsetup.exe durable (s) | "
             "NSIS durable (s) | durable ratio |",
             "|---|---:|---:|---:|---:|---:|---:|---:|"]
    rows = []
    for name in names:
        pe, pd = medians(results, name, "plfsetup.exe")
        ne, nd = medians(results, name, "nsis")
        re = pe / ne if pe is not None and ne else None
        rd = pd / nd if pd is not None and nd else None
        runs = " / ".join(str(len(results.get((name, k), []))) for k, _ in WINDOWS_CONTENDERS)
        lines.append(f"| {specs[name]['label']} | {runs} | {fmt(pe)} | {fmt(ne)} | {fmt(re)} | {fmt(pd)} | "
                     f"{fmt(nd)} | {fmt(rd)} |")
        tic = f"{name}: {fmt(re)} × exit, {fmt(rd)} × durable" if re and rd else name
        rows.append([f'"{tic}"'] + [fmt(v, 3) if v is not None else "?" for v in (pe, pd, ne, nd)])
    lines += ["", "They do different work: plfsetup.exe flushes each file before it exits and, in (c), keeps every "
              "replaced file as a backup; the NSIS installer checks its own CRC at start, then writes over what "
              "stands there and leaves the files in the cache, which its durable time then counts."]
    return lines, rows


def report(results, specs, names, setting, sizes, out_dir, notes):
    labels = dict(CONTENDERS)
    labels.update(WINDOWS_CONTENDERS)
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
        native = [k for k, _ in CONTENDERS]
        for key in native + [k for k, _ in WINDOWS_CONTENDERS]:
            runs = results.get((name, key))
            if not runs:
                if key in native:
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
            if key in native:
                row.append(fmt(re, 3) if re else "?")
        if any((name, k) in results for k in native):
            chart_rows.append(row)
    windows_table, windows_rows = windows_lines(results, specs, names)
    lines += windows_table
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
    chart(chart_rows, windows_rows, out_dir)


def chart(rows, windows_rows, out_dir):
    """bench.png: the native contenders against the floor, and beside them the Windows ones in seconds."""
    if not shutil.which("gnuplot"):
        log("bench: gnuplot is missing (scripts/deps.sh bench installs it): no chart")
        return
    if not rows and not windows_rows:
        return
    panels = []
    if rows:
        dat = os.path.join(out_dir, "bench.dat")
        with open(dat, "w") as f:
            f.write("workload " + " ".join(f'"{label}"' for _, label in CONTENDERS) + "\n")
            for row in rows:
                f.write(" ".join(row) + "\n")
        panels.append(f"""
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
""")
    if windows_rows:
        dat = os.path.join(out_dir, "bench-windows.dat")
        with open(dat, "w") as f:
            f.write('workload "plfsetup.exe, exit" "plfsetup.exe, durable" "NSIS, exit" "NSIS, durable"\n')
            for row in windows_rows:
                f.write(" ".join(row) + "\n")
        panels.append(f"""
reset
set title "Under Wine: seconds to exit and until on disk (durable); plfsetup.exe / NSIS under each workload"
set datafile missing "?"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set yrange [0:*]
set grid ytics
set ylabel "seconds"
set key top left
plot "{dat}" using 2:xtic(1) title columnheader(2) lc rgb "#1b7837", "" using 3 title columnheader(3) lc rgb "#a6dba0", \\
     "" using 4 title columnheader(4) lc rgb "#2166ac", "" using 5 title columnheader(5) lc rgb "#92c5de"
""")
    width = 1100 * len(panels)
    script = (f'set terminal pngcairo size {width},600 font ",10"\n'
              f'set output "{os.path.join(out_dir, "bench.png")}"\n'
              f"set multiplot layout 1,{len(panels)}\n" + "".join(panels) + "unset multiplot\n")
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
    all_keys = [k for k, _ in CONTENDERS + WINDOWS_CONTENDERS]
    ap.add_argument("--contenders", help=f"comma-separated contenders (default: all of {','.join(all_keys)})")
    ap.add_argument("--windows-exe", help="plfsetup.exe to run under Wine on (b) and (c), against an NSIS installer "
                                          "built for the same architecture")
    ap.add_argument("--no-wine", action="store_true", help="no Windows contenders")
    args = ap.parse_args()

    for tool in ("zip", "unzip", "tar", "gzip"):
        if not shutil.which(tool):
            sys.exit(f"bench: {tool} is missing (scripts/deps.sh bench installs it)")
    specs = TINY if args.tiny else FULL
    names = args.only.split(",") if args.only else list(specs) + ["dir"]
    for n in names:
        if n not in specs and n != "dir":
            sys.exit(f"bench: no workload {n}")
    contenders = args.contenders.split(",") if args.contenders else all_keys
    for k in contenders:
        if k not in all_keys:
            sys.exit(f"bench: no contender {k} (there are {', '.join(all_keys)})")
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
    native = [k for k, _ in CONTENDERS if k in contenders]
    windows = [k for k, _ in WINDOWS_CONTENDERS if k in contenders]
    windows_names = [n for n in names if n in WINDOWS_WORKLOADS]
    exe = os.path.abspath(args.windows_exe or os.path.join(os.path.dirname(work), "windows", "src", "driver",
                                                           "plfsetup.exe"))
    installers = {}
    try:
        for n in names:
            if native:
                run_workload(n, specs[n], data[n], tools, space, results, native)
        if windows and windows_names:
            installers = run_windows(windows_names, specs, data, tools, space, work, exe, windows, args, results,
                                     notes)
    finally:
        space.close()

    notes.append(f"Whole benchmark: {time.perf_counter() - started:.0f} s on {os.cpu_count()} cores.")
    sizes = [("plfsetup (native, Release)", file_size(tools["plfsetup"], "strip"))]
    if os.path.exists(exe):
        bits, strip = {"x86-unicode": (32, "i686"), "amd64-unicode": (64, "x86_64")}[nsis.pe_target(exe)]
        sizes.append((f"plfsetup.exe ({bits}-bit Windows, {os.path.relpath(exe)})",
                      file_size(exe, f"{strip}-w64-mingw32-strip")))
    else:
        sizes.append(("plfsetup.exe", (None, None)))
    for folder, installer in installers.items():
        name = os.path.basename(folder)
        sizes.append((f"Install.PLF of {name}", file_size(os.path.join(folder, "Install.PLF"), None)))
        sizes.append((f"NSIS installer of {name} ({os.path.basename(installer)})", file_size(installer, None)))
    report(results, specs, names, setting, sizes, out_dir, notes)


if __name__ == "__main__":
    main()
