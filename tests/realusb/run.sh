#!/usr/bin/env bash
# Runs the shipped programs over the real Linux USB stack: builds the guest
# machine (build_guest.sh), boots it in QEMU (software emulation: no KVM, no
# network) with a time limit and turns its serial output into test results.
#
#   tests/realusb/run.sh [BUILD_DIR]      (default: build)
#
# Exit status 0 when every planned scenario check passed. The guest's whole
# serial output stays in BUILD_DIR/realusb/console.txt. REALUSB_TIMEOUT
# (seconds, default 900) bounds the boot; KVER picks the kernel.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
out=$build/realusb
mkdir -p "$out"

"$here/build_guest.sh" "$build" "$out"

started=$(date +%s)
status=0
timeout --foreground -k 10 "${REALUSB_TIMEOUT:-900}" \
  qemu-system-x86_64 -accel tcg -m 1024 -smp 1 -nographic -no-reboot -nic none \
  -kernel "$out/vmlinuz" -initrd "$out/initrd.gz" \
  -append "console=ttyS0 quiet panic=-1" </dev/null > "$out/console.log" 2>&1 || status=$?
tr -d '\r' < "$out/console.log" > "$out/console.txt"
echo "realusb: guest ran $(($(date +%s) - started)) s (qemu status $status)"

grep '^NOTE ' "$out/console.txt" | sed 's/^NOTE /realusb: note: /' || true
planned=$(awk '/^PLAN / { for (i = 2; i <= NF; i++) print $i }' "$out/console.txt")
failed=0
for name in $planned; do
  if ! grep -q "^RESULT $name " "$out/console.txt"; then
    echo "realusb: $name did not run"
    failed=1
  fi
done
passes=$(grep -c '^RESULT .* PASS' "$out/console.txt" || true)
fails=$(grep -c '^RESULT .* FAIL' "$out/console.txt" || true)
grep '^RESULT ' "$out/console.txt" | sed 's/^RESULT /realusb: /'
if ! grep -q '^GUEST DONE' "$out/console.txt"; then
  echo "realusb: the guest did not finish (time limit or crash); see $out/console.txt"
  failed=1
fi
[ -n "$planned" ] || failed=1
if [ "$fails" != 0 ] || [ "$failed" != 0 ]; then
  grep -E '^(GUEST|LOG)' "$out/console.txt" | sed 's/^/  /' || true
fi
echo "realusb: $passes passed, $fails failed"
[ "$fails" = 0 ] && [ "$failed" = 0 ]
