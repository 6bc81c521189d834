#!/usr/bin/env bash
# The worker alone, on virtual boards: a board farm with four boards (USB 2.0
# link timing on), a sample image built with zelimg, the zelreport listener
# standing in for the console window, and one ZelBurner per board started
# with the console's command line. Ends with a per-board summary.
set -euo pipefail
. "$(dirname "$0")/sample_image.sh"
cd "$(dirname "$0")/.."
top=$PWD

scripts/install-deps.sh
scripts/build.sh normal ZelBurner zelimg zelreport vboard-farm vusb >/dev/null

bin=$top/build
run=$top/demo-worker-run
rm -rf "$run"
mkdir -p "$run"
cd "$run"

# Reports and boards of this demo stay private to it.
export XDG_RUNTIME_DIR=$run/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export ZEL_VBOARD_FARM=$run/runtime/farm.sock
farm=$bin/vboard/vboard-farm
boards=(1:1 1:2 1:3 1:4)

cleanup() {
  "$farm" stop >/dev/null 2>&1 || true
  [ -n "${listener:-}" ] && kill "$listener" 2>/dev/null || true
}
trap cleanup EXIT

"$farm" start --log "$run/farm.log" $(printf -- '--board %s ' "${boards[@]}") link=1 restart_delay=500 >/dev/null

# Sample image: two loader stages, a kernel, the environment, a root file system.
sample_image "$bin/tools/zelimg/zelimg" "$run/sample.img" $((16 * 1024 * 1024)) $((40 * 1024 * 1024 + 12345))
"$bin/tools/zelimg/zelimg" print "$run/sample.img" | sed -n '1,8p'

# The console passes the image path percent-encoded.
percent_encode() {
  local LC_ALL=C s=$1 out= c i
  for ((i = 0; i < ${#s}; i++)); do
    c=${s:i:1}
    case "$c" in
      [A-Za-z0-9._~-]) out+=$c ;;
      *) out+=$(printf '%%%02X' "'$c") ;;
    esac
  done
  printf '%s' "$out"
}
encoded=$(percent_encode "$run/sample.img")

"$bin/tools/report_listener/zelreport" --results ${#boards[@]} > reports.txt &
listener=$!
until grep -q listening reports.txt 2>/dev/null; do sleep 0.05; done

echo "Burning ${#boards[@]} virtual boards..."
declare -A started pids
for i in "${!boards[@]}"; do
  t=$(date +%s)
  started[$i]=$(date +%s%N)
  LD_LIBRARY_PATH=$bin/vboard/libusb "$bin/bin/ZelBurner" -i "$i" -f "$encoded" -d "${boards[$i]}" -t "$t" \
    > "worker-$i.out" 2>&1 &
  pids[$i]=$!
done
declare -A seconds
for i in "${!boards[@]}"; do
  wait "${pids[$i]}"
  ms=$((($(date +%s%N) - ${started[$i]}) / 1000000))
  seconds[$i]=$(printf '%d.%02d' $((ms / 1000)) $((ms % 1000 / 10)))
done
wait "$listener" || true
listener=

printf '\n%-6s %-6s %-10s %12s %8s\n' slot port result bytes seconds
failed=0
for i in "${!boards[@]}"; do
  result=$(awk -v s="$i" '$1 == "slot" && $2 == s && $3 == "result" { print $4 }' reports.txt | tail -n 1)
  bytes=$(awk -v s="$i" '$1 == "slot" && $2 == s && $3 == "progress" { v = $4 } END { print v + 0 }' reports.txt)
  case "$result" in
    1) text=succeeded ;;
    0) text=FAILED; failed=1 ;;
    *) text="no result"; failed=1 ;;
  esac
  printf '%-6s %-6s %-10s %12s %8s\n' "$i" "${boards[$i]}" "$text" "$bytes" "${seconds[$i]}"
done
echo
echo "Burn logs: $run/log/$(date +%Y-%m-%d)/<port with ':' as '#'>/<start seconds>.log"
echo "Reports:   $run/reports.txt"
exit $failed
