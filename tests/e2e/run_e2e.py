#!/usr/bin/env python3
# Runs the end-to-end cases (every test_*.py beside this file) against the
# builds named on the command line. A Windows build that has not been built is
# left out with a note, so the native suite runs on its own too.
#   run_e2e.py --native PATH [--windows PATH] [--windows-x64 PATH] [--plf PATH] [--version X.Y.Z] [-k PATTERN]
import argparse
import pathlib
import subprocess
import sys
import unittest

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import plf_e2e as e2e  # noqa: E402

parser = argparse.ArgumentParser()
for option in ("--native", "--windows", "--windows-x64", "--plf"):
    parser.add_argument(option, type=pathlib.Path)
parser.add_argument("--version", default="0.0.0", help="the project version the resources carry")
parser.add_argument("-k", dest="patterns", action="append", help="only cases whose name contains this")
args = parser.parse_args()
if args.native:
    e2e.TARGETS.append(e2e.NativeTarget(args.native))
for name, path in (("windows", args.windows), ("windows-x64", args.windows_x64)):
    # A kernel that runs no 32-bit programs (ia32_emulation off) runs no
    # 32-bit Windows program under Wine either.
    if path and not path.is_file():
        print(f"e2e: {name} left out: {path} has not been built", file=sys.stderr)
    elif path and name == "windows" and subprocess.run([str(e2e.WINE_RUN), "--can-run-32-bit"]).returncode:
        print(f"e2e: {name} left out: this machine runs no 32-bit programs", file=sys.stderr)
    elif path:
        e2e.TARGETS.append(e2e.WineTarget(name, path))
if not e2e.TARGETS:
    parser.error("no program to test")
e2e.project_version, e2e.plf_tool = args.version, args.plf
print("e2e: testing " + ", ".join(f"{t.name}:{t.program}" for t in e2e.TARGETS), file=sys.stderr)
loader = unittest.TestLoader()
loader.testNamePatterns = [f"*{p}*" for p in args.patterns or []] or None
suite = loader.discover(str(HERE), pattern="test_*.py", top_level_dir=str(HERE))
sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
