#!/usr/bin/env bash
# Builds and runs the worker benchmarks against the board farm and prints
# their tables (Markdown). Arguments go to burn_bench, e.g. --runs 3 or
# --in-process (only the in-process harness). --quick measures once what the
# headline ratios need and adds the console under its workers' reports.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
targets=(burn_bench Veldmark ZelBurner zelflash vboard-farm vusb)
quick=0
for a in "$@"; do [ "$a" = --quick ] && quick=1; done
[ "$quick" = 1 ] && targets+=(console_report_bench)
scripts/build.sh normal "${targets[@]}" >/dev/null
build/bench/burn_bench "$@"
if [ "$quick" = 1 ]; then
  echo "### Console under 16 workers' reports (2 s per rate)"
  echo
  build/bench/console_report_bench 2
fi
