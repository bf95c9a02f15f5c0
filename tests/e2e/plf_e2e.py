"""Helpers for end-to-end runs of the installer.

A `Target` is one build of plfsetup (native, or a Windows build run under
Wine). `target.run(program, cwd)` starts a copy of the program as a user
would and returns a `RunResult`: the exit code and the message boxes shown.
`scratch_folder()` gives a temporary folder; `place_program()` copies the
installer into it under any name. Install cases build on these: put a package
and files into the folder, run, then look at the files and the boxes.
"""

from __future__ import annotations

import contextlib
import dataclasses
import os
import pathlib
import shutil
import subprocess
import tempfile
import time
from typing import Iterator, List, Optional

REPO = pathlib.Path(__file__).resolve().parents[2]
WINE_RUN = REPO / "scripts" / "wine-run.sh"

CAPTION_ERROR = "Nastala chyba:"
CAPTION_WARNING = "Upozornění"
CAPTION_INFO = "Informace"
CAPTION_QUESTION = "Souhlasíte?"
CAPTIONS = (CAPTION_ERROR, CAPTION_WARNING, CAPTION_INFO, CAPTION_QUESTION)

RUN_TIMEOUT = 300  # seconds; a fresh Wine prefix takes a while


@dataclasses.dataclass
class Box:
    """One message box: its title, its text and (under Wine) its style."""

    caption: str
    text: str
    style: Optional[int] = None


@dataclasses.dataclass
class RunResult:
    exit_code: int
    boxes: List[Box]
    stdout: bytes
    stderr: bytes

    def describe(self) -> str:
        return f"exit code {self.exit_code}, boxes {self.boxes!r}"


# --- Reading the boxes ---------------------------------------------------------


def parse_native_boxes(stderr: bytes) -> List[Box]:
    """The native build writes each box as one line on stderr: the caption,
    then ": " (or one space after a caption that ends in ":"), then the text."""
    boxes = []
    for line in stderr.decode("utf-8", "replace").splitlines():
        for caption in CAPTIONS:
            sep = " " if caption.endswith(":") else ": "
            if line.startswith(caption + sep):
                boxes.append(Box(caption, line[len(caption) + len(sep):]))
                break
        else:
            boxes.append(Box("", line))
    return boxes


_SIMPLE_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}


def _read_wide_literal(s: str, i: int):
    """Reads a Wine debug string (L"..." with \\n, \\", \\\\ and \\XXXX or
    \\xXXXX escapes for UTF-16 units) starting at s[i]; returns the text
    and the index after it. "(null)" stands for a missing string."""
    if s.startswith("(null)", i):
        return None, i + len("(null)")
    if not s.startswith('L"', i):
        raise ValueError(f"no string at {s[i:i + 20]!r}")
    i += 2
    units = []
    while i < len(s) and s[i] != '"':
        c = s[i]
        if c != "\\":
            units.append(ord(c))
            i += 1
            continue
        nxt = s[i + 1]
        if nxt in _SIMPLE_ESCAPES:
            units.append(ord(_SIMPLE_ESCAPES[nxt]))
            i += 2
            continue
        j = i + 2 if nxt == "x" else i + 1
        units.append(int(s[j:j + 4], 16))
        i = j + 4
    i += 1  # the closing quote
    if s.startswith("...", i):  # Wine cut a long text
        i += 3
    raw = b"".join(u.to_bytes(2, "little") for u in units)
    return raw.decode("utf-16-le", "surrogatepass"), i


def parse_relay_boxes(trace: bytes) -> List[Box]:
    """Boxes from a Wine relay trace of user32.MessageBoxW: each call is one
    line  Call user32.MessageBoxW(owner,addr L"text",addr L"caption",style)."""
    marker = "Call user32.MessageBoxW("
    boxes = []
    for line in trace.decode("utf-8", "replace").splitlines():
        at = line.find(marker)
        if at < 0:
            continue
        i = at + len(marker)
        i = line.index(",", i) + 1  # owner window
        values = []
        for _ in range(2):
            i = line.index(" ", i) + 1  # the string's address
            text, i = _read_wide_literal(line, i)
            values.append(text)
            i = line.index(",", i) + 1
        style = int(line[i:line.index(")", i)], 16)
        boxes.append(Box(values[1] or "", values[0] or "", style))
    return boxes


# --- Targets -------------------------------------------------------------------


class Target:
    """One build of the installer."""

    name = "?"
    exe_suffix = ""

    def __init__(self, program: pathlib.Path):
        self.program = pathlib.Path(program).resolve()

    def __repr__(self) -> str:
        return f"{self.name}:{self.program}"

    def run(self, program: pathlib.Path, cwd: pathlib.Path, env: Optional[dict] = None) -> RunResult:
        raise NotImplementedError


class NativeTarget(Target):
    name = "native"

    def run(self, program, cwd, env=None):
        proc = subprocess.run([str(program)], cwd=str(cwd), env=_environment(env), capture_output=True,
                              timeout=RUN_TIMEOUT, stdin=subprocess.DEVNULL)
        return RunResult(proc.returncode, parse_native_boxes(proc.stderr), proc.stdout, proc.stderr)


class WineTarget(Target):
    """A Windows build, run under Wine without a display, so that a message
    box returns at once; the boxes are read from a relay trace of
    MessageBoxW. Texts longer than about 290 characters come cut short."""

    exe_suffix = ".exe"
    _relay_ready = set()
    _last_run = {}  # prefix -> time.monotonic() of the last run ending there

    def __init__(self, name: str, program: pathlib.Path, prefix: Optional[pathlib.Path] = None):
        super().__init__(program)
        self.name = name
        self.prefix = pathlib.Path(prefix) if prefix else find_wine_prefix(self.program)

    def _wine(self, args, cwd, env=None, debug="-all", quiet=False):
        run_env = _environment(env)
        run_env["WINEDEBUG"] = debug
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
        run_env = _environment(None)
        run_env["WINEPREFIX"] = str(self.prefix)
        subprocess.run([str(WINE_RUN), "--init", str(self.prefix)], check=True, timeout=RUN_TIMEOUT)
        subprocess.run(["wineserver", "-p5"], env=run_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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
    env = dict(os.environ)
    for key in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(key, None)
    env.update(extra or {})
    return env


def can_run_32_bit() -> bool:
    """False on a kernel that runs no 32-bit programs (ia32_emulation off),
    where Wine cannot start a 32-bit Windows program either."""
    return subprocess.run([str(WINE_RUN), "--can-run-32-bit"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def find_wine_prefix(program: pathlib.Path) -> pathlib.Path:
    """The Wine prefix of the build that made the program (the folder with
    CMakeCache.txt above it), so that no second prefix has to be created."""
    for folder in program.parents:
        if (folder / "CMakeCache.txt").exists():
            return folder / "wineprefix"
    return program.parent / "wineprefix"


# --- Folders -------------------------------------------------------------------


@contextlib.contextmanager
def scratch_folder() -> Iterator[pathlib.Path]:
    """A temporary folder, removed afterwards even when files in it were made
    read-only."""
    path = pathlib.Path(tempfile.mkdtemp(prefix="plf-e2e-"))
    try:
        yield path
    finally:
        for root, dirs, files in os.walk(path):
            for name in dirs + files:
                with contextlib.suppress(OSError):
                    os.chmod(os.path.join(root, name), 0o755)
        shutil.rmtree(path, ignore_errors=True)


def place_program(target: Target, folder: pathlib.Path, name: str = "plfsetup") -> pathlib.Path:
    """Copies the target's installer into the folder as name (plus .exe for
    Windows) and returns the copy's path."""
    folder.mkdir(parents=True, exist_ok=True)
    copy = folder / (name + target.exe_suffix)
    shutil.copy2(target.program, copy)
    return copy


def write_file(path: pathlib.Path, data: bytes = b"") -> pathlib.Path:
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)
    return path


# --- What this run tests -------------------------------------------------------

_targets: List[Target] = []
project_version = ""
plf_tool: Optional[pathlib.Path] = None


def configure(targets: List[Target], version: str, tool: Optional[pathlib.Path] = None) -> None:
    global project_version, plf_tool
    _targets[:] = targets
    project_version = version
    plf_tool = tool


def targets() -> List[Target]:
    """Every build under test; cases loop over them with subTest."""
    return list(_targets)


def windows_targets() -> List[WineTarget]:
    return [t for t in _targets if isinstance(t, WineTarget)]
