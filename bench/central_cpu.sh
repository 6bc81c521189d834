#!/usr/bin/env bash
# The console's CPU while 16 virtual boards burn, with the central history off
# and on (twice each, alternating), against a PostgreSQL server started here;
# then how long after each burn's end (whole seconds) its row arrived.
#   bench/central_cpu.sh      (needs a normal build; see README.md, "Benchmarks")
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build
. "$top/scripts/sample_image.sh"
"$top/scripts/build.sh" normal Veldmark ZelBurner zelimg vboard-farm vusb console_probe >/dev/null
run=$(mktemp -d /tmp/central_cpu.XXXXXX)
chmod 755 "$run"
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
mkdir "$run/pg"
as=()
# The server refuses to run as root.
if [ "$(id -u)" -eq 0 ]; then chown postgres "$run/pg"; as=(runuser -u postgres --); fi
"${as[@]}" "$pgbin/initdb" -D "$run/pg/data" -U veldmark -A trust --no-sync >/dev/null
"${as[@]}" "$pgbin/pg_ctl" start -w -D "$run/pg/data" -l "$run/pg/log" -o "-k $run/pg -p 5432 -c listen_addresses=''" >/dev/null
trap '"${as[@]}" "$pgbin/pg_ctl" stop -w -D "$run/pg/data" -m fast >/dev/null 2>&1; rm -rf "$run"' EXIT
url="host=$run/pg port=5432 dbname=postgres user=veldmark"
sample_image "$bin/tools/zelimg/zelimg" "$run/sample.img" $((16 * 1024 * 1024)) $((40 * 1024 * 1024 + 12345))
for mode in off on off on; do
  dir=$run/$mode-$RANDOM; mkdir -p "$dir/rt"; chmod 700 "$dir/rt"; cd "$dir"
  export XDG_RUNTIME_DIR=$dir/rt ZEL_VBOARD_FARM=$dir/rt/farm.sock
  "$bin/vboard/vboard-farm" start >/dev/null
  { echo "[common]"; echo "image_path=$run/sample.img"; echo "max_dev_count=16"; echo "dev_column_count=2"
    if [ $mode = on ]; then echo "[central]"; echo "url=\"$url\""; fi; } > Veldmark.ini
  QT_QPA_PLATFORM=offscreen LD_LIBRARY_PATH=$bin/vboard/libusb "$bin/bin/Veldmark" > console.out 2>&1 &
  console=$!
  for _ in $(seq 100); do ls rt | grep -qv farm.sock && break; sleep 0.1; done
  sleep 1
  t0=$(awk '{ print $14 + $15 }' /proc/$console/stat); s0=$(date +%s%N)
  for p in $(seq 16); do "$bin/vboard/vboard-farm" plug board "1:$p" link=1 restart_delay=500 >/dev/null; done
  for _ in $(seq 1200); do [ "$("$bin/tools/console_probe/console_probe" count)" -ge 16 ] && break; sleep 0.25; done
  # Until the central rows are in (or 5 s when off), so shipping is counted whole.
  for _ in $(seq 50); do
    [ $mode = off ] && break
    n=$(psql -At "$url" -c "select count(*) from veldmark_burn" 2>/dev/null || echo 0)
    [ "$n" -ge $(( $(ls -d $run/on-* | wc -l) * 16 )) ] && break; sleep 0.1; done
  t1=$(awk '{ print $14 + $15 }' /proc/$console/stat); s1=$(date +%s%N)
  echo "$mode: console CPU $(( (t1 - t0) * 1000 / $(getconf CLK_TCK) )) ms in $(( (s1 - s0) / 1000000 )) ms; load $(cut -d' ' -f1 /proc/loadavg)"
  kill $console; wait $console || true
  "$bin/vboard/vboard-farm" stop >/dev/null
done
# end_time holds whole seconds: each figure is up to 1 s above the true delay.
psql -At "$url" -c "select count(*) || ' rows arrived, on average ' ||
  round(avg(extract(epoch from received_at - end_time))::numeric, 3) || ' s after the second their burn ended, at most ' ||
  round(max(extract(epoch from received_at - end_time))::numeric, 3) || ' s' from veldmark_burn"
