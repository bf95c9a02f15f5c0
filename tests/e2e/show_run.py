#!/usr/bin/env python3
# Runs one installer the way the end-to-end tests do and tells what it
# showed: each message box on a line of its own, then the exit code, which is
# also this program's exit code.
#   show_run.py [--wine PREFIX] PROGRAM CWD
import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import plf_e2e as e2e  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--wine", type=pathlib.Path, metavar="PREFIX", help="run under Wine in this prefix")
parser.add_argument("program", type=pathlib.Path)
parser.add_argument("cwd", type=pathlib.Path)
args = parser.parse_args()
target = e2e.WineTarget("windows", args.program, args.wine) if args.wine else e2e.NativeTarget(args.program)
result = target.run(args.program.resolve(), args.cwd)
print("\n".join(f"message box  [{box.caption}]  {box.text}" for box in result.boxes) or "no message box")
print(f"exit code    {result.exit_code}")
sys.exit(result.exit_code)
