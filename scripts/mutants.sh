#!/usr/bin/env bash
# Mutation sample of src/ against the native tests (not part of the test
# command: each mutant is a rebuild and a test run, about half a minute).
#
#   scripts/mutants.sh [N] [SEED] [--survivors-of LOG]
#       N mutants (default 60) drawn with SEED (default 1); LOG: an earlier
#       run's output, whose survivors are not run again
#
# Prints killed, survived (file:line and the mutated line) and the kill rate.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh native
exec python3 scripts/mutants.py "$@"
