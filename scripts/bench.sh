#!/usr/bin/env bash
# Builds and runs the worker benchmarks against the board farm and prints
# their tables (Markdown). Arguments go to burn_bench, e.g. --runs 3 or
# --in-process (only the in-process harness). --quick measures once what the
# headline ratios need.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
targets=(burn_bench Veldmark ZelBurner zelflash vboard-farm vusb)
scripts/build.sh normal "${targets[@]}" >/dev/null
build/bench/burn_bench "$@"
