#!/usr/bin/env bash
# Builds the console, starts its window under Xvfb (or Qt's offscreen platform
# when Xvfb is missing), selects each menu row in turn and writes a screenshot
# of every page, of the about box, of the history page on a day without burns,
# of its calendar and of one burn log.
#   scripts/screenshots.sh [output folder]   (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-build/screenshots}
scripts/build.sh normal veldmark_screenshots >/dev/null
mkdir -p "$out"
# The console writes its log and settings into the working directory.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tool=$PWD/build/console/veldmark_screenshots
out=$(cd "$out" && pwd)

cd "$work"
if command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1280x800x24" "$tool" "$out"
else
  QT_QPA_PLATFORM=offscreen "$tool" "$out"
fi
