"""The NSIS contender of the installer benchmark: an NSIS installer of the
same files as a workload's package, laid out as the package's targets are,
built with makensis and run under Wine beside plfsetup.exe.

The installer is what a plain NSIS update would be: zlib per file (not
solid, so each file inflates on its own as a package entry does), silent,
no elevation, overwriting what stands there. The installer's own CRC check
at start stays on, as NSIS ships it.
"""

import hashlib
import os
import subprocess

# The PE machine of plfsetup.exe picks the stubs, so that both run under the
# same Wine loader.
STUBS = {0x014C: "x86-unicode", 0x8664: "amd64-unicode"}


def pe_target(exe):
    """The NSIS target ("x86-unicode", "amd64-unicode") matching a Windows program."""
    with open(exe, "rb") as f:
        head = f.read(4096)
    if head[:2] != b"MZ" or len(head) < 64:
        raise ValueError(f"{exe} is not a Windows program")
    pe = int.from_bytes(head[60:64], "little")
    if head[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{exe} is not a Windows program")
    machine = int.from_bytes(head[pe + 4:pe + 6], "little")
    if machine not in STUBS:
        raise ValueError(f"{exe} is for machine {machine:#x}, which the benchmark has no NSIS stubs for")
    return STUBS[machine]


def quote(text, variable=""):
    """An NSIS string of `variable` (taken as NSIS code) and `text` (taken as it is)."""
    # Inside NSIS strings "$" starts a variable and $\" is a quote.
    return '"' + variable + text.replace("$", "$$").replace('"', '$\\"') + '"'


def script(src, files, out_exe, target):
    """The .nsi text installing `files` (paths relative to `src`) under $INSTDIR."""
    lines = [
        "Unicode true",
        f"Target {target}",
        "SetCompressor zlib",
        f"Name {quote('plf benchmark')}",
        f"OutFile {quote(out_exe)}",
        # The command line's /D= names the fresh target of each run; this is
        # only where a run without it would go.
        "InstallDir " + quote("\\target", "$EXEDIR"),
        "SilentInstall silent",
        "RequestExecutionLevel user",
        # (c) installs over a copy of the same files: replace each, as
        # plfsetup does, whatever its date.
        "SetOverwrite on",
        "Section",
    ]
    folder = None
    # Grouped by folder, so that each folder gets one SetOutPath.
    for rel in sorted(files, key=lambda p: (os.path.dirname(p).split(os.sep), p)):
        here = os.path.dirname(rel).replace(os.sep, "\\")
        if here != folder:
            lines.append("SetOutPath " + quote("\\" + here if here else "", "$INSTDIR"))
            folder = here
        lines.append("File " + quote(os.path.join(src, rel)))
    lines += ["SectionEnd", ""]
    return "\n".join(lines)


def build(src, files, out_exe, target):
    """Builds the installer unless the one at out_exe came from the same script."""
    text = script(src, files, out_exe, target)
    version = subprocess.run(["makensis", "-VERSION"], capture_output=True, text=True, check=False).stdout.strip()
    wanted = hashlib.sha256((version + "\n" + text).encode()).hexdigest()
    stamp = out_exe + ".stamp"
    if os.path.exists(out_exe) and os.path.exists(stamp) and open(stamp).read() == wanted:
        return out_exe
    nsi = os.path.splitext(out_exe)[0] + ".nsi"
    with open(nsi, "w", encoding="utf-8-sig") as f:
        f.write(text)
    if os.path.exists(stamp):
        os.remove(stamp)
    # -V2: warnings and errors only; 20,000 File lines would otherwise print
    # a line each.
    p = subprocess.run(["makensis", "-V2", "-NOCD", nsi], capture_output=True, text=True, check=False)
    if p.returncode != 0 or not os.path.exists(out_exe):
        raise RuntimeError(f"makensis failed on {nsi} (exit code {p.returncode}): {(p.stdout + p.stderr).strip()}")
    with open(stamp, "w") as f:
        f.write(wanted)
    return out_exe


def wine_path(path, prefix):
    """The path as Windows programs in the prefix see it, through drive Z:."""
    z = os.path.join(prefix, "dosdevices", "z:")
    if not os.path.islink(z) or os.readlink(z) != "/":
        raise RuntimeError(f"{z} does not lead to /, so the target has no Windows path")
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def arguments(target, prefix):
    """The installer's command line for a run into `target`."""
    where = wine_path(target, prefix)
    # NSIS takes /D= as the rest of the command line, unquoted; a blank would
    # make Wine quote the argument and NSIS take the quote as part of it.
    if " " in where or '"' in where:
        raise RuntimeError(f"the target {target} has a blank; NSIS cannot be given it with /D=")
    return ["/S", "/D=" + where]
