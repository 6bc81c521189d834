#!/usr/bin/env bash
# Builds and runs the worker benchmarks against the board farm and prints
# their tables (Markdown). Arguments go to burn_bench, e.g. --runs 3 or
# --in-process (only the in-process harness).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh normal burn_bench ZelBurner zelflash vboard-farm vusb >/dev/null
exec build/bench/burn_bench "$@"
