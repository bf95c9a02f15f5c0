"""Helpers for end-to-end runs of the installer: a target is one build of
plfsetup (native, or a Windows build run under Wine); `target.run(program,
cwd)` starts a copy of it as a user would and returns the exit code and the
message boxes shown."""

from __future__ import annotations

import collections
import contextlib
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time
from typing import List, Optional

REPO = pathlib.Path(__file__).resolve().parents[2]
WINE_RUN = REPO / "scripts" / "wine-run.sh"

CAPTION_ERROR = "Nastala chyba:"
CAPTION_WARNING = "Upozornění"
CAPTIONS = (CAPTION_ERROR, CAPTION_WARNING, "Informace", "Souhlasíte?")
RUN_TIMEOUT = 300  # seconds; a fresh Wine prefix takes a while

# What this run tests, set by run_e2e.py: every build under test (cases loop
# over them with subTest), the project version and the package tool.
TARGETS: list = []
project_version = ""
plf_tool: Optional[pathlib.Path] = None


Box = collections.namedtuple("Box", "caption text style", defaults=[None])  # the style is known under Wine only
RunResult = collections.namedtuple("RunResult", "exit_code boxes stdout stderr")


# The native build writes each box as one line on stderr: the caption, then
# ": " (or one space after a caption that ends in ":"), then the text.
_NATIVE_BOX = re.compile(f"(?:({CAPTION_ERROR}) |({'|'.join(map(re.escape, CAPTIONS[1:]))}): )?(.*)")


def parse_native_boxes(stderr: bytes) -> List[Box]:
    lines = stderr.decode("utf-8", "replace").splitlines()
    return [Box(m[1] or m[2] or "", m[3]) for m in map(_NATIVE_BOX.fullmatch, lines)]


# A Wine debug string: L"..." with \n, \", \\ and \XXXX or \xXXXX escapes for
# UTF-16 units, "..." after it when Wine cut a long text; (null) for none.
_WIDE = r'(\(null\)|L"(?:[^"\\]|\\.)*")(?:\.\.\.)?'
_RELAY = re.compile(r"Call user32\.MessageBoxW\([^,]*,\S* " + _WIDE + r",\S* " + _WIDE + r",([0-9a-fA-F]+)\)")
_UNIT = re.compile(r"\\x?([0-9a-fA-F]{4})|\\(.)|(.)", re.S)


def _wide_text(literal: str) -> str:
    units = [int(m[1], 16) if m[1] else ord({"n": "\n", "r": "\r", "t": "\t"}.get(m[2], m[2]) if m[2] else m[3])
             for m in _UNIT.finditer(literal[2:-1] if literal.startswith("L") else "")]
    return b"".join(u.to_bytes(2, "little") for u in units).decode("utf-16-le", "surrogatepass")


def parse_relay_boxes(trace: bytes) -> List[Box]:
    # Boxes from a Wine relay trace of each call
    # user32.MessageBoxW(owner,addr L"text",addr L"caption",style).
    return [Box(_wide_text(m[2]), _wide_text(m[1]), int(m[3], 16))
            for m in map(_RELAY.search, trace.decode("utf-8", "replace").splitlines()) if m]


class NativeTarget:
    name, exe_suffix = "native", ""

    def __init__(self, program: pathlib.Path):
        self.program = pathlib.Path(program).resolve()

    def run(self, program, cwd, env=None):
        proc = subprocess.run([str(program)], cwd=str(cwd), env=_environment(env), capture_output=True,
                              timeout=RUN_TIMEOUT, stdin=subprocess.DEVNULL)
        return RunResult(proc.returncode, parse_native_boxes(proc.stderr), proc.stdout, proc.stderr)


class WineTarget(NativeTarget):
    # A Windows build, run under Wine without a display, so that a message
    # box returns at once; the boxes are read from a relay trace of
    # MessageBoxW. Texts longer than about 290 characters come cut short.
    exe_suffix = ".exe"
    _relay_ready = set()
    _last_run = {}  # prefix -> time.monotonic() of the last run ending there

    def __init__(self, name: str, program: pathlib.Path, prefix: Optional[pathlib.Path] = None):
        super().__init__(program)
        self.name = name
        # The prefix of the build that made the program, so that no second
        # prefix has to be created.
        found = [f for f in self.program.parents if (f / "CMakeCache.txt").exists()]
        self.prefix = pathlib.Path(prefix) if prefix else (found[0] if found else self.program.parent) / "wineprefix"

    def _wine(self, args, cwd, env=None, debug="-all", quiet=False):
        run_env = dict(_environment(env), WINEDEBUG=debug)
        output = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL} if quiet else {"capture_output": True}
        return subprocess.run([str(WINE_RUN), "--headless", str(self.prefix)] + [str(a) for a in args],
                              cwd=str(cwd), env=run_env, timeout=RUN_TIMEOUT, stdin=subprocess.DEVNULL, **output)

    def _warm_up(self):
        # Wine's background programs (services, the desktop window) start
        # with the first program of a session, or its first window, and
        # inherit its output: reading that output to the end would wait for
        # them to quit. So they are started here by quiet runs, in a server
        # that outlives each run by a few seconds.
        if time.monotonic() - WineTarget._last_run.get(self.prefix, -1e9) < 2:
            return
        subprocess.run([str(WINE_RUN), "--init", str(self.prefix)], check=True, timeout=RUN_TIMEOUT)
        subprocess.run(["wineserver", "-p5"], env=dict(_environment(None), WINEPREFIX=str(self.prefix)),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.prefix not in WineTarget._relay_ready:
            # The relay trace is limited to MessageBoxW, so that it stays small.
            proc = self._wine(["reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/t", "REG_SZ",
                               "/d", "user32.MessageBoxW", "/f"], cwd=REPO, quiet=True)
            if proc.returncode != 0:
                raise RuntimeError("cannot set up the relay trace of MessageBoxW")
            WineTarget._relay_ready.add(self.prefix)
        with scratch_folder() as folder:  # no package here: one box, then the end
            self._wine([place_program(self, folder, "warm-up")], cwd=folder, quiet=True)

    def run(self, program, cwd, env=None):
        self._warm_up()
        try:
            proc = self._wine([program], cwd, env, debug="-all,trace+relay")
        finally:
            WineTarget._last_run[self.prefix] = time.monotonic()
        return RunResult(proc.returncode, parse_relay_boxes(proc.stderr), proc.stdout, proc.stderr)


def _environment(extra: Optional[dict]) -> dict:
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    env.update(extra or {})
    return env


@contextlib.contextmanager
def scratch_folder():
    # A temporary folder, removed afterwards even when files in it were made
    # read-only.
    path = pathlib.Path(tempfile.mkdtemp(prefix="plf-e2e-"))
    try:
        yield path
    finally:
        for root, dirs, files in os.walk(path):
            for name in dirs + files:
                with contextlib.suppress(OSError):
                    os.chmod(os.path.join(root, name), 0o755)
        shutil.rmtree(path, ignore_errors=True)


def place_program(target, folder: pathlib.Path, name: str = "plfsetup") -> pathlib.Path:
    # Copies the target's installer into the folder as name (plus .exe for
    # Windows) and returns the copy's path.
    folder.mkdir(parents=True, exist_ok=True)
    copy = folder / (name + target.exe_suffix)
    shutil.copy2(target.program, copy)
    return copy


def write_file(path: pathlib.Path, data: bytes = b"") -> pathlib.Path:
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)
    return path
