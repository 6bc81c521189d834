#!/usr/bin/env bash
# Runs each libFuzzer target for a bounded time (30 s by default) on a seed
# corpus written by fuzz_seeds, plus the regression inputs kept in
# fuzz/regressions/<target>/. A fault fails the run and names the input to keep.
#   fuzz/run.sh BUILDDIR [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:?usage: fuzz/run.sh BUILDDIR [SECONDS]}
seconds=${2:-30}
work=$build/fuzz-work
rm -rf "$work/seeds"
mkdir -p "$work"
"$build/fuzz/fuzz_seeds" "$work/seeds"

status=0
summary=()
for target in image_readers partition report command_answers worker_args port_map uart; do
  corpus=$work/corpus/$target
  artifacts=$work/artifacts/$target/
  log=$work/$target.log
  mkdir -p "$corpus" "$artifacts" "fuzz/regressions/$target"
  if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts" \
      "$corpus" "$work/seeds/$target" "fuzz/regressions/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    summary+=("$target: ${runs:-?} runs in ${seconds} s, corpus $(find "$corpus" -type f | wc -l) inputs, no fault")
  else
    status=1
    tail -n 40 "$log" >&2
    crash=$(ls -t "$artifacts" 2>/dev/null | head -n 1)
    summary+=("$target: FAULT; keep $artifacts$crash in fuzz/regressions/$target/ (log: $log)")
  fi
done
printf 'fuzz: %s\n' "${summary[@]}"
exit "$status"
