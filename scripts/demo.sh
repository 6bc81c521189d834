#!/usr/bin/env bash
# The main job, in the console, on virtual boards: builds what is needed,
# starts a board farm (USB 2.0 link timing on), starts Veldmark in a scratch
# folder with a sample image selected (a real window when there is a display,
# Xvfb otherwise), plugs virtual boards in a few waves and lets the console
# burn them. Ends with a per-slot summary read from the console's own history
# database, and screenshots of the burn page: idle, mid-burn and after.
#   scripts/demo.sh [--boards N]   (1 to 16, default 8)
set -euo pipefail
. "$(dirname "$0")/sample_image.sh"
. "$(dirname "$0")/farm_run.sh"
cd "$(dirname "$0")/.."
top=$PWD

boards=8
if [ "${1:-}" = --boards ]; then
  boards=${2:?--boards needs a number}
fi
if ! [ "$boards" -ge 1 ] 2>/dev/null || [ "$boards" -gt 16 ]; then
  echo "demo.sh: --boards takes 1 to 16" >&2
  exit 2
fi

if [ -z "${DEMO_UNDER_XVFB:-}" ]; then
  scripts/install-deps.sh
  scripts/build.sh normal Veldmark ZelBurner zelimg vboard-farm vusb console_probe >/dev/null
  # Without a display the console gets a virtual one.
  if [ -z "${DISPLAY:-}" ]; then
    exec env DEMO_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1024x600x24" "$0" "$@"
  fi
fi

# Reports and boards of this run stay private to it.
farm_run_start "$top/build" "$top/demo-run"

# Sample image: two loader stages, a kernel, the environment, a root file system.
sample_image "$bin/tools/zelimg/zelimg" "$run/sample.img" $((16 * 1024 * 1024)) $((40 * 1024 * 1024 + 12345))

# The console loads the image selected last time; select the sample for it.
slots=8
[ "$boards" -gt 8 ] && slots=16
cat > Veldmark.ini <<INI
[common]
image_path=$run/sample.img
max_dev_count=$slots
dev_column_count=2
INI

echo "Starting Veldmark in $run ..."
LD_LIBRARY_PATH=$bin/vboard/libusb "$bin/bin/Veldmark" > console.out 2>&1 &
console=$!
log=$run/log/$(date +%Y-%m-%d)/main.log
for _ in $(seq 100); do
  grep -q "Meta count:" "$log" 2>/dev/null && break
  sleep 0.1
done
grep -q "Meta count:" "$log" || { echo "demo.sh: the console did not load the image" >&2; exit 1; }
sleep 2
"$probe" screenshot "$run/burn_idle.png"

# The console's CPU time (user and system) in clock ticks.
console_ticks() {
  awk '{ print $14 + $15 }' "/proc/$console/stat"
}
ticks_before=$(console_ticks)
burn_start=$(date +%s%N)

# Boards in waves of up to three, a second apart, as an operator plugs them.
port=0
while [ "$port" -lt "$boards" ]; do
  for _ in 1 2 3; do
    [ "$port" -lt "$boards" ] || break
    port=$((port + 1))
    "$farm" plug board "1:$port" link=1 restart_delay=500 >/dev/null
  done
  echo "plugged boards up to 1:$port"
  sleep 1
done
sleep 1
"$probe" screenshot "$run/burn_mid.png"

echo "Burning..."
for _ in $(seq 600); do
  [ "$("$probe" count)" -ge "$boards" ] && break
  sleep 0.5
done
cpu_ticks=$(($(console_ticks) - ticks_before))
burn_ms=$((($(date +%s%N) - burn_start) / 1000000))
sleep 1.5
"$probe" screenshot "$run/burn_after.png"

echo
status=0
"$probe" summary || status=1
awk -v t="$cpu_ticks" -v hz="$(getconf CLK_TCK)" -v ms="$burn_ms" 'BEGIN {
  printf "console CPU while burning: %.2f s in %.1f s (%.1f %% of one core)\n", t / hz, ms / 1000, 100 * t / hz / (ms / 1000) }'
echo
echo "Screenshots: $run/burn_idle.png, burn_mid.png, burn_after.png"
echo "Burn logs:   $run/log/$(date +%Y-%m-%d)/<port with ':' as '#'>/<start seconds>.log"
exit $status
