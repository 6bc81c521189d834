#!/usr/bin/env bash
# Installs what is missing, builds from scratch where needed and runs the whole
# suite twice: a normal build and an AddressSanitizer + UBSan build. The fuzz
# targets run first, for a bounded time each, when the fuzz build exists.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# The Windows SDK (Qt and libusb cross-built from Debian's sources) takes half
# an hour of a fresh machine's two cores: it builds beside the Linux builds
# and tests, and the Windows step waits for it. Present, it is reused at once.
# Should a Linux step fail, it goes on alone, and a later run picks it up.
mkdir -p build
sdk_log=build/windows_sdk.log
scripts/windows_sdk.sh >"$sdk_log" 2>&1 &
sdk_pid=$!

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

if [ -f fuzz/run.sh ]; then
  scripts/build.sh fuzz fuzz_image_readers fuzz_partition fuzz_report fuzz_command_answers fuzz_worker_args fuzz_port_map fuzz_uart fuzz_seeds >/dev/null
  fuzz/run.sh build-fuzz 20
fi

for variant in normal asan; do
  dir=build; [ "$variant" = asan ] && dir=build-asan
  echo "== $variant build =="
  scripts/build.sh "$variant" >/dev/null
  (cd "$dir" && ctest --output-on-failure -j2 --timeout 300)
done

echo "== windows build under wine =="
if ! wait "$sdk_pid"; then
  tail -30 "$sdk_log" >&2
  echo "test.sh: building the Windows SDK failed (above, and $sdk_log): no Windows programs to test" >&2
  exit 1
fi
sdk=$(tail -1 "$sdk_log")
echo "Windows SDK $sdk: $(cat "$sdk/.complete")"
scripts/build.sh win >/dev/null
(cd build-win && xvfb-run -a ctest --output-on-failure --timeout 600)

echo "== real USB stack (guest machine) =="
tests/realusb/run.sh build

echo "== package =="
scripts/package.sh --check
