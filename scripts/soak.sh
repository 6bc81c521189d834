#!/usr/bin/env bash
# Soak: many burns through one console (offscreen) on 16 virtual boards that
# are replaced after every round, as an operator does: in one round all are
# pulled out and new ones plugged in after a pause, in the next each board is
# swapped for another at its port at once, so that the console often sees the
# removal and the arrival in one listing. Prints the console's memory, open
# descriptors and child processes every 100 burns, and checks that every
# board was burned exactly once, that every burn has one history row and
# that the counters add up.
#   scripts/soak.sh [BURNS]   (default 1000)
set -euo pipefail
. "$(dirname "$0")/sample_image.sh"
. "$(dirname "$0")/farm_run.sh"
cd "$(dirname "$0")/.."
top=$PWD
burns=${1:-1000}

scripts/install-deps.sh
scripts/build.sh normal Veldmark ZelBurner zelimg vboard-farm vusb console_probe >/dev/null

# Reports and boards of this run stay private to it.
farm_run_start "$top/build" "$top/soak-run"

sample_image "$bin/tools/zelimg/zelimg" "$run/soak.img" 300000 200000
cat > Veldmark.ini <<INI
[common]
image_path=$run/soak.img
max_dev_count=16
dev_column_count=2
INI

QT_QPA_PLATFORM=offscreen LD_LIBRARY_PATH=$bin/vboard/libusb "$bin/bin/Veldmark" > console.out 2>&1 &
console=$!
sleep 2

children() {
  { ps --no-headers --ppid "$console" || true; } | wc -l
}
stats() {
  local rss fds
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$console/status")
  fds=$(ls "/proc/$console/fd" | wc -l)
  printf '%6s %10s %6s %9s\n' "$1" "$rss" "$fds" "$(children)"
}
printf '%6s %10s %6s %9s\n' burns rss_kib fds children
stats 0

# Components each board receives from one burn of the image.
components=5
done_burns=0
next_report=100
rounds=0
while [ "$done_burns" -lt "$burns" ]; do
  round=$((burns - done_burns < 16 ? burns - done_burns : 16))
  if [ $((rounds % 2)) -eq 0 ]; then
    if [ "$rounds" -gt 0 ]; then
      "$farm" remove all >/dev/null
      sleep 0.5
    fi
    for k in $(seq "$round"); do
      "$farm" plug board "1:$k" restart_delay=100 >/dev/null
    done
  else
    # Boards left at ports past this round's last one stay, burned already.
    for k in $(seq "$round"); do
      "$farm" remove "1:$k" >/dev/null
      "$farm" plug board "1:$k" restart_delay=100 >/dev/null
    done
  fi
  rounds=$((rounds + 1))
  target=$((done_burns + round))
  for _ in $(seq 1200); do
    [ "$("$probe" count)" -ge "$target" ] && break
    sleep 0.25
  done
  done_burns=$("$probe" count)
  [ "$done_burns" -ge "$target" ] || { echo "soak: stuck at $done_burns burns" >&2; exit 1; }
  # Every worker must have ended before its board is pulled.
  for _ in $(seq 200); do
    [ "$(children)" -eq 0 ] && break
    sleep 0.1
  done
  # A board burned twice got its components twice; one left out got none.
  wrong=$("$farm" list | grep ' board ' | grep -cv " fwcs=$components " || true)
  if [ "$wrong" -ne 0 ]; then
    echo "soak: $wrong board(s) not burned exactly once after $done_burns burns:" >&2
    "$farm" list | grep ' board ' | grep -v " fwcs=$components " >&2
    exit 1
  fi
  while [ "$done_burns" -ge "$next_report" ]; do
    stats "$done_burns"
    next_report=$((next_report + 100))
  done
done

echo
"$probe" summary > summary.txt || true
rows=$("$probe" count)
failed=$(grep -c FAILED summary.txt || true)
tail -n 1 summary.txt
echo "history rows: $rows for $burns burns, $failed failed"
grep -q "counters: total $burns, succeeded $burns, failed 0" summary.txt && [ "$rows" -eq "$burns" ]
