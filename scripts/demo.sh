#!/usr/bin/env bash
# The main job. Installs what is missing, builds, and runs the worker the way
# the console starts it, in demo-run/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh normal ZelBurner >/dev/null

run=demo-run
mkdir -p "$run"
start=$(date +%s)
(cd "$run" && ../build/burner/ZelBurner -i 0 -f "sample.img" -d 1:1 -t "$start")
echo "log: $run/log/$(date +%Y-%m-%d)/1#1/$start.log"
