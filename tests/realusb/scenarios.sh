#!/bin/sh
# The scenarios of the real-USB-stack guest, run by its /init as root. Each
# check prints "RESULT name PASS|FAIL detail"; the run ends with "GUEST DONE"
# and a power-off.
export PATH=/bin:/sbin
image=/data/sample.img
encoded_image=%2Fdata%2Fsample.img
report=/run/boards.txt

result() { # name, condition status, detail
  if [ "$2" = 0 ]; then echo "RESULT $1 PASS $3"; else echo "RESULT $1 FAIL $3"; fi
}
finish() {
  echo "GUEST DONE at $(cut -d' ' -f1 /proc/uptime)s"
  poweroff -f
}
echo "PLAN burn-root permission-denied permission-rule discovery-plugged discovery-rearrived stall-next-burn zelflash-burn console-burn"

# Host bus of each dummy_hcd instance: its board is at port 1 there.
bus_of() { basename "$(ls -d /sys/devices/platform/dummy_hcd.$1/usb* 2>/dev/null | head -n1)" | sed 's/^usb//'; }
bus1=$(bus_of 0)
bus2=$(bus_of 1)
[ -n "$bus1" ] && [ -n "$bus2" ] || { echo "GUEST no dummy_hcd buses"; finish; }
board1=$bus1:1
board2=$bus2:1

control=/run/vboard-ffs.ctl
/bin/vboard-ffs --report $report --control $control --board "$board1" dummy_udc.0 restart_delay=500 \
  --board "$board2" dummy_udc.1 restart_delay=500 > /run/vboard-ffs.log 2>&1 &
ffs=$!

# Waits until the board at bus:port is configured by the host; 0 when it is.
configured() {
  d=/sys/bus/usb/devices/$(echo "$1" | tr : -)
  i=0
  while [ $i -lt 100 ]; do
    [ "$(cat $d/idVendor 2>/dev/null):$(cat $d/bConfigurationValue 2>/dev/null)" = "33c3:1" ] && return 0
    sleep 0.1
    i=$((i + 1))
  done
  return 1
}
devnum() { cat /sys/bus/usb/devices/$(echo "$1" | tr : -)/devnum 2>/dev/null; }
devnode() { printf '/dev/bus/usb/%03d/%03d' "${1%%:*}" "$(devnum "$1")"; }

configured "$board1" && configured "$board2"
result boards-enumerated $? "boards at $board1 and $board2"
udevadm settle -t 10
sed 's/^/LOG vboard-ffs: /' /run/vboard-ffs.log

# What the board at a position received, from the front end's report.
board_report() {
  rm -f $report
  kill -USR1 $ffs
  i=0
  while [ ! -f $report ] && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
  awk -v pos="$1" '/^#/ { on = ($3 == pos) } on' $report
}
# 0 when every FWC of the image arrived whole, with the image's CRC.
fwcs_whole() {
  echo "$1" | awk '/^  fwc / { n++; crc = meta = ""
      for (i = 1; i <= NF; i++) { if ($i ~ /^crc=/) crc = substr($i, 5); if ($i ~ /^meta_crc=/) meta = substr($i, 10) }
      if (crc != meta || $0 !~ / complete/) bad++ }
    END { exit !(n == 5 && bad == 0) }'
}

# One burn as USER of the board at PORT, in its own working folder, with
# zelreport standing in for the console window. Leaves WORK.
burn() { # user, slot, port, name
  work=/tmp/$4
  mkdir -p $work/runtime
  chmod 700 $work/runtime
  chown -R "$1" $work
  cat > $work/run.sh <<EOF
cd $work
export HOME=$work XDG_RUNTIME_DIR=$work/runtime
zelreport --results 1 > reports.txt 2>&1 &
listener=\$!
i=0
until grep -q listening reports.txt 2>/dev/null || [ \$i -ge 100 ]; do sleep 0.1; i=\$((i + 1)); done
timeout 180 ZelBurner -i $2 -f $encoded_image -d $3 -t \$(date +%s) > worker.out 2>&1
echo \$? > worker.rc
i=0
while kill -0 \$listener 2>/dev/null && [ \$i -lt 50 ]; do sleep 0.1; i=\$((i + 1)); done
kill \$listener 2>/dev/null
EOF
  if [ "$1" = root ]; then
    sh $work/run.sh
  else
    # A path, since the shell prefers its own applets to programs of the same name.
    /bin/setpriv --reuid=1000 --regid=1000 --groups=46 sh $work/run.sh
  fi
  work_result=$(awk '$3 == "result" { print $4 }' $work/reports.txt | tail -n1)
}
show_logs() { # work folder
  sed 's/^/LOG worker: /' $1/worker.out
  sed 's/^/LOG reports: /' $1/reports.txt
  find $1/log -name '*.log' -exec sed 's/^/LOG worker log: /' {} \;
}

# 1. A whole burn: loader stages, the restart, the board found again at its
# port with a new address, the target parts.
before=$(devnum "$board1")
start=$(cut -d' ' -f1 /proc/uptime)
burn root 0 "$board1" burn-root
echo "GUEST burn-root took $(awk -v a="$start" -v b="$(cut -d' ' -f1 /proc/uptime)" 'BEGIN { print b - a }')s"
after=$(devnum "$board1")
state=$(board_report "$board1")
echo "$state" | sed 's/^/LOG board: /'
[ "$(cat /tmp/burn-root/worker.rc)" = 0 ] && [ "$work_result" = 1 ]
result burn-root $? "worker exit $(cat /tmp/burn-root/worker.rc), result report '$work_result'"
grep -q ' waiting ' /tmp/burn-root/reports.txt && grep -q ' resumed ' /tmp/burn-root/reports.txt
result burn-root-restart-reported $? "waiting and resumed reports"
echo "$state" | grep -q ' restarts=1 ' && [ -n "$before" ] && [ -n "$after" ] && [ "$before" != "$after" ]
result burn-root-new-address $? "address $before before, $after after the restart, at $board1"
fwcs_whole "$state"
result burn-root-data $? "every FWC arrived whole with the image's CRC"
[ "$work_result" = 1 ] || show_logs /tmp/burn-root

# 2. An operator without the udev rule: the device node is not theirs.
ls -l "$(devnode "$board2")" | sed 's/^/LOG node: /'
burn operator 1 "$board2" permission-denied
grep -rq 'no permission to open it: install the udev rule 70-veldmark.rules' /tmp/permission-denied/log
message=$?
[ "$work_result" = 0 ] && [ $message = 0 ]
result permission-denied $? "result report '$work_result', permission message $([ $message = 0 ] && echo found || echo missing)"
[ $message = 0 ] || show_logs /tmp/permission-denied

# 3. The same operator once the package's rule is installed.
cp /rules/70-veldmark.rules /etc/udev/rules.d/
udevadm control --reload
udevadm trigger --action=add --subsystem-match=usb
udevadm settle -t 10
ls -l "$(devnode "$board2")" | sed 's/^/LOG node: /'
burn operator 1 "$board2" permission-rule
state=$(board_report "$board2")
echo "$state" | sed 's/^/LOG board: /'
[ "$work_result" = 1 ] && fwcs_whole "$state"
result permission-rule $? "result report '$work_result', image whole on the board"
[ "$work_result" = 1 ] || show_logs /tmp/permission-rule

# 4. The console's discovery (device monitor and board listing) started with
# no board plugged: boards bound afterwards are found through real hotplug,
# and again each time they come back with a new address.
ctl() { echo "$1" > $control; }
gone() {
  d=/sys/bus/usb/devices/$(echo "$1" | tr : -)
  i=0
  while [ -e $d ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  [ ! -e $d ]
}
# Waits until the board at bus:port is back with another address than $2.
back() {
  i=0
  while [ "$(devnum "$1")" = "$2" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  configured "$1"
}
# Counts in $missed the boards missing from the first listing made after a
# device arrival that came after line $1 of the probe's output. A listing
# printed before the boards came back does not count: a monitor that stops
# hearing arrivals must fail here.
check_relisted() {
  from=$1
  last=
  i=0
  while [ $i -lt 50 ]; do
    last=$(tail -n +$((from + 1)) /tmp/discovery.txt |
      awk '/^change arrival/ { arrived = 1; l = "" } arrived && /^listed/ { l = $0 } END { print l }')
    case "$last " in *" $board1 "*) case "$last " in *" $board2 "*) break ;; esac ;; esac
    sleep 0.1
    i=$((i + 1))
  done
  for b in "$board1" "$board2"; do
    case "$last " in
      *" $b "*) ;;
      *) missed=$((missed + 1)); echo "LOG discovery: $b missing from the listing after the arrival: '$last'" ;;
    esac
  done
}
lines() { wc -l < /tmp/discovery.txt; }
ctl "unplug $board1"
ctl "unplug $board2"
gone "$board1" && gone "$board2"
realusb-discovery 300 > /tmp/discovery.txt 2>&1 &
probe=$!
i=0
until grep -q watching /tmp/discovery.txt || [ $i -ge 100 ]; do sleep 0.1; i=$((i + 1)); done
from=$(lines)
ctl "plug $board1"
ctl "plug $board2"
configured "$board1" && configured "$board2"
missed=0
check_relisted "$from"
result discovery-plugged $missed "boards plugged after the console started: $missed missing from its listing"
missed=0
cycles=6
for cycle in $(seq $cycles); do
  old1=$(devnum "$board1")
  old2=$(devnum "$board2")
  from=$(lines)
  ctl "restart $board1 mode=1"
  ctl "restart $board2 mode=1"
  back "$board1" "$old1" && back "$board2" "$old2"
  check_relisted "$from"
done
result discovery-rearrived $missed "$cycles restarts of both boards: $missed times a board missing from the listing"
grep -E '^(watching|listed)' /tmp/discovery.txt | sed 's/^/LOG discovery: /'
kill $probe

# 5. A board that refused a command (a stall) has its endpoints halted on a
# real bus until the host clears them: the next burn must still work.
ctl "fault $board2 stall cmd=0x11"
burn root 1 "$board2" stalled
first=$work_result
burn root 1 "$board2" after-stall
[ "$first" = 0 ] && [ "$work_result" = 1 ]
result stall-next-burn $? "burn with a refused block-size query: result '$first'; the next burn: '$work_result'"
[ "$work_result" = 1 ] || show_logs /tmp/after-stall

# 6. The command-line burner: the same image into one board, its loader
# restart followed by the library's own rescan at the same port.
timeout 300 zelflash burn -p "$board1" $image > /tmp/zelflash.out 2>&1
rc=$?
result zelflash-burn $rc "zelflash exit $rc"
[ $rc = 0 ] || sed 's/^/LOG zelflash: /' /tmp/zelflash.out

# 7. The console itself: started with no board, an image chosen, both boards
# plugged afterwards; it finds them through real hotplug, starts a worker for
# each and records both burns.
ctl "unplug $board1"
ctl "unplug $board2"
gone "$board1" && gone "$board2"
console=/tmp/console
mkdir -p $console/runtime
chmod 700 $console/runtime
printf '[common]\nimage_path=%s\n' "$image" > $console/Veldmark.ini
(cd $console && HOME=$console XDG_RUNTIME_DIR=$console/runtime QT_QPA_PLATFORM=offscreen \
  Veldmark --verbose > $console/console.out 2>&1) &
veldmark=$!
# The console takes no look at the bus when it starts: boards count from
# its first device change on. Its report socket appears just before it
# starts watching the bus.
i=0
until [ -n "$(find $console/runtime -type s 2>/dev/null)" ] || [ $i -ge 600 ]; do
  sleep 0.1
  i=$((i + 1))
done
sleep 2
ctl "plug $board1"
ctl "plug $board2"
i=0
until [ "$(cd $console && QT_QPA_PLATFORM=offscreen console_probe count 2>/dev/null)" = 2 ] || [ $i -ge 180 ]; do
  sleep 1
  i=$((i + 1))
done
(cd $console && QT_QPA_PLATFORM=offscreen console_probe summary) > $console/summary.txt 2>&1
rc=$?
# Both boards recorded once each, and the counters saying the same.
rows=$(cd $console && QT_QPA_PLATFORM=offscreen console_probe count 2>/dev/null)
[ "$rows" = 2 ] || { echo "LOG console: $rows history rows, 2 expected"; rc=1; }
grep -q "counters: total 2, succeeded 2, failed 0" $console/summary.txt || rc=1
for b in "$board1" "$board2"; do
  [ "$(awk -v b="$b" '$2 == b && $3 == "succeeded"' $console/summary.txt | wc -l)" = 1 ] ||
    { echo "LOG console: not one successful row for $b"; rc=1; }
done
sed 's/^/LOG console summary: /' $console/summary.txt
result console-burn $rc "two boards plugged after the console started, burned and recorded"
if [ $rc != 0 ]; then
  sed 's/^/LOG console: /' $console/console.out
  cat $console/log/*/main.log 2>/dev/null | tail -n 40 | sed 's/^/LOG console log: /'
fi
kill $veldmark 2>/dev/null

kill $ffs
finish
