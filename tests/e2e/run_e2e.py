#!/usr/bin/env python3
# Runs the end-to-end cases (every test_*.py beside this file) against the
# builds named on the command line. A Windows build that has not been built is
# left out with a note, so the native suite runs on its own too.
#   run_e2e.py --native PATH [--windows PATH] [--windows-x64 PATH] [--plf PATH] [--version X.Y.Z] [-k PATTERN]
import argparse
import pathlib
import sys
import unittest

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import plf_e2e as e2e  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--native", type=pathlib.Path, help="the native plfsetup")
parser.add_argument("--windows", type=pathlib.Path, help="the 32-bit plfsetup.exe")
parser.add_argument("--windows-x64", type=pathlib.Path, help="the 64-bit plfsetup.exe")
parser.add_argument("--version", default="0.0.0", help="the project version the resources carry")
parser.add_argument("--plf", type=pathlib.Path, help="the native package tool, for the cases that pack")
parser.add_argument("-k", dest="patterns", action="append", help="only cases whose name contains this")
args = parser.parse_args()
targets = []
if args.native:
    if not args.native.is_file():
        parser.error(f"no native program at {args.native}")
    targets.append(e2e.NativeTarget(args.native))
for name, path in (("windows", args.windows), ("windows-x64", args.windows_x64)):
    if path is None:
        continue
    if not path.is_file():
        print(f"e2e: {name} left out: {path} has not been built", file=sys.stderr)
    elif name == "windows" and not e2e.can_run_32_bit():
        print(f"e2e: {name} left out: this machine runs no 32-bit programs", file=sys.stderr)
    else:
        targets.append(e2e.WineTarget(name, path))
if not targets:
    parser.error("no program to test")
e2e.configure(targets, args.version, args.plf)
print("e2e: testing " + ", ".join(repr(t) for t in targets), file=sys.stderr)
loader = unittest.TestLoader()
loader.testNamePatterns = [f"*{p}*" for p in args.patterns or []] or None
suite = loader.discover(str(HERE), pattern="test_*.py", top_level_dir=str(HERE))
sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
