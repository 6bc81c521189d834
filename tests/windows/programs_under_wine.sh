#!/usr/bin/env bash
# The Windows programs as a line PC runs them, under wine on the X display of
# the caller (xvfb-run), against the Linux build's board farm:
#   programs_under_wine.sh SCENARIO WIN_BUILD LINUX_BUILD OUT VERSION
# SCENARIO:
#   console    the console starts, shows its burn page (OUT/burn_page.png),
#              writes its log (which says the central history is not
#              supported) and creates data.db; a second start is refused
#   burn       4 farm boards plugged after the console started are burned by
#              Windows workers: 4 history rows, counters 4/4, a log per burn
#   zelflash   zelflash.exe burns a farm board over USB
#   zelflash_serial  zelflash.exe burns the virtual serial board over the COM
#              port wine maps to its pseudo-terminal
#   installer  VeldmarkSetup-VERSION.exe installs silently, the installed
#              console starts, the uninstaller removes the programs and keeps
#              the user's data
# The programs run from OUT/app with the libusb test library beside them.
set -euo pipefail
scenario=$1 win=$2 linux=$3 out=$4 version=$5
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEDEBUG=${WINEDEBUG:--all}
# No menu entries of the installer's shortcuts on the build machine's desktop.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=};winemenubuilder.exe=d"
# The Chinese ANSI code page (936), as on the line PCs.
export LC_ALL=zh_CN.UTF-8
title_pattern=" v$version"

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$out"
mkdir -p "$out/app" "$out/work"
farm_socket=$out/farm.sock
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  [ -S "$farm_socket" ] && "$linux/vboard/vboard-farm" --socket "$farm_socket" stop >/dev/null 2>&1 || true
}
trap cleanup EXIT

# Without the SDK only the tools are built.
cp "$win"/bin/*.exe "$out/app/"
cp "$win/vusb/libusb-1.0.dll" "$out/app/"

start_farm() {  # start_farm [farm options]: ZEL_VBOARD_FARM for the Windows side
  local said
  said=$("$linux/vboard/vboard-farm" start --socket "$farm_socket" --tcp 0 --log "$out/farm.log" "$@")
  local port=${said##*127.0.0.1:}
  [ -n "$port" ] && [ "$port" != "$said" ] || fail "the farm names no TCP port: $said"
  export ZEL_VBOARD_FARM=tcp:127.0.0.1:$port
}
farm() { "$linux/vboard/vboard-farm" --socket "$farm_socket" "$@"; }

holds_whole_image() {  # holds_whole_image PORT: every component the farm board at PORT took is whole
  farm received "$1" > "$out/received-$1.txt"
  fwcs=$(grep -c ' size=' "$out/received-$1.txt" || true)
  local whole
  whole=$(grep ' size=' "$out/received-$1.txt" | grep -c ' complete' || true)
  [ "$fwcs" -gt 0 ] && [ "$fwcs" = "$whole" ] || fail "the board at $1 holds $whole whole components of $fwcs"
}

windows_path() { echo "Z:${1//\//\\}"; }

# wait_for SECONDS COMMAND...: true once COMMAND succeeds.
wait_for() {
  local limit=$1 i=0
  shift
  until "$@"; do
    i=$((i + 1))
    [ $i -ge $((limit * 5)) ] && return 1
    sleep 0.2
  done
}
console_window() { xwininfo -root -tree 2>/dev/null | grep -q -- "$title_pattern"; }

start_console() {  # start_console FOLDER PROGRAM: the console working in FOLDER
  (cd "$1" && exec "$wine" "$2" > "$out/console.out" 2>&1) &
  console_pid=$!
  if ! wait_for 180 console_window; then
    cat "$out/console.out" >&2
    xwininfo -root -tree >&2 || true
    fail "no console window within 180 s"
  fi
}

screenshot() { QT_QPA_PLATFORM=xcb "$linux/tools/console_probe/console_probe" screenshot "$1"; }

# shellcheck source=../../scripts/sample_image.sh
. "$(dirname "$0")/../../scripts/sample_image.sh"
sample() {  # sample KERNEL ROOTFS: OUT/image/sample.img with parts of these sizes
  sample_image "$linux/tools/zelimg/zelimg" "$out/image/sample.img" "$1" "$2" >/dev/null
}

case "$scenario" in
console)
  start_farm  # no boards: a line PC before the first one is plugged
  # A site's central history, which this build cannot reach: said in the log.
  printf '[central]\r\nurl=postgresql://history.example.invalid/line\r\n' > "$out/work/Veldmark.ini"
  start_console "$out/work" "$out/app/Veldmark.exe"
  sleep 2
  screenshot "$out/burn_page.png"
  wait_for 30 test -f "$out/work/data.db" || fail "no data.db in the working folder"
  ls "$out"/work/log/*/main.log >/dev/null 2>&1 || fail "no main.log under log/"
  grep -q . "$out"/work/log/*/main.log || fail "the console's log is empty"
  grep -q 'Central history: "not supported on this build"' "$out"/work/log/*/main.log ||
    fail "the log does not say that the central history is not supported"
  # A second console, even in another folder, is refused and touches nothing.
  mkdir -p "$out/second"
  (cd "$out/second" && exec "$wine" "$out/app/Veldmark.exe" > "$out/second.out" 2>&1) &
  second=$!
  refused() { grep -q 'another console already runs' "$out/second.out"; }
  wait_for 60 refused || { cat "$out/second.out" >&2; fail "the second console was not refused"; }
  sleep 1
  screenshot "$out/second_start.png"
  kill "$second" 2>/dev/null || true   # it waits on its notice until someone reads it
  [ -z "$(ls -A "$out/second")" ] || fail "the refused console wrote into its folder: $(ls -A "$out/second")"
  kill -0 "$console_pid" || fail "the first console ended"
  echo "console: window, $(du -h "$out/burn_page.png" | cut -f1) screenshot, log and data.db in place; a second start refused"
  ;;

burn)
  sample 262144 1048576
  start_farm
  # As the console's file dialog stores it: drive letter and forward slashes.
  printf '[common]\r\nimage_path=Z:%s\r\n' "$out/image/sample.img" > "$out/work/Veldmark.ini"
  coproc NOTIFY { exec "$wine" "$win/vusb/vboard-notify.exe" 2> "$out/notify.err"; }
  read -r -t 120 word <&"${NOTIFY[0]}" || true
  word=${word%$'\r'}  # a Windows program's text output ends its lines with CR LF
  [ "$word" = ready ] || { cat "$out/notify.err" >&2; fail "the device-change notifier did not subscribe to the farm"; }
  start_console "$out/work" "$out/app/Veldmark.exe"
  # The console looks at the bus on device changes only: the boards come after it.
  sleep 3
  for port in 1 2 3 4; do farm plug board 1:$port >/dev/null; done
  count() { [ "$("$linux/tools/console_probe/console_probe" count "$out/work" 2>/dev/null)" = 4 ]; }
  if ! wait_for 400 count; then
    screenshot "$out/burn_timeout.png" || true
    "$linux/tools/console_probe/console_probe" summary "$out/work" >&2 || true
    fail "4 burns were not recorded within 400 s"
  fi
  sleep 2
  screenshot "$out/burn_done.png"
  # It exits non-zero when a burn failed: the checks below say which way.
  "$linux/tools/console_probe/console_probe" summary "$out/work" > "$out/summary.txt" || true
  cat "$out/summary.txt"
  grep -q '^counters: total 4, succeeded 4, failed 0$' "$out/summary.txt" || fail "counters are not 4/4/0"
  [ "$(grep -cE '^[0-9]+ +[^ ]+ +succeeded ' "$out/summary.txt")" = 4 ] || fail "not 4 successful history rows"
  logs=$(find "$out/work/log" -name '*.log' ! -name main.log | wc -l)
  [ "$logs" = 4 ] || fail "$logs burn logs instead of 4"
  # What the console reports, the boards hold.
  for port in 1 2 3 4; do holds_whole_image 1:$port; done
  ;;

zelflash)
  sample 262144 1048576
  start_farm --boards 1
  "$wine" "$out/app/zelflash.exe" burn "$(windows_path "$out/image/sample.img")" > "$out/zelflash.out" 2>&1 ||
    { cat "$out/zelflash.out" >&2; fail "zelflash.exe failed"; }
  cat "$out/zelflash.out"
  holds_whole_image 1:1
  echo "zelflash: $fwcs components arrived whole"
  ;;

zelflash_serial)
  # 115200 baud: a small image, burnt by a board already in upgrade mode.
  sample 8192 16384
  start_farm  # the USB side with no boards, as on a bench with only a serial line
  "$(dirname "$0")/serial_under_wine.sh" "$linux/vboard/vboard-serial" \
    "$out/app/zelflash.exe" burn -p '{port}' "$(windows_path "$out/image/sample.img")" \
    > "$out/zelflash.out" 2>&1 || { cat "$out/zelflash.out" >&2; fail "zelflash.exe failed over the COM port"; }
  cat "$out/zelflash.out"
  read -r started whole < <(sed -n 's/^board side: .* components \([0-9]*\) complete \([0-9]*\)$/\1 \2/p' "$out/zelflash.out")
  [ "${started:-0}" -gt 0 ] && [ "$started" = "$whole" ] ||
    fail "the serial board holds ${whole:-no} whole components of ${started:-none}"
  echo "zelflash_serial: $whole components arrived whole over the COM port"
  ;;

installer)
  setup=$win/VeldmarkSetup-$version.exe
  [ -f "$setup" ] || fail "no $setup"
  programs=$("$wine" winepath -u 'C:\Program Files\Veldmark' 2>/dev/null)
  data=$("$wine" winepath -u "$("$wine" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')\\Veldmark" 2>/dev/null)
  # The prefix outlives a run: what an earlier run left proves nothing.
  rm -rf "$data"
  "$wine" "$setup" /S || fail "the silent install failed"
  for f in Veldmark.exe ZelBurner.exe zelflash.exe zelimg.exe libusb-1.0.dll uninstall.exe driver/veldmark-winusb.inf; do
    [ -f "$programs/$f" ] || fail "$f is not installed"
  done
  [ -d "$data" ] || fail "no data folder $data"
  menu=$(find "$WINEPREFIX/drive_c/users" -path '*Start Menu/Programs/Veldmark/Veldmark.lnk' | head -1)
  [ -n "$menu" ] || fail "no Start-menu entry"
  # The entry starts the console in the data folder, not where it cannot write.
  strings -el "$menu" | grep -qF 'AppData\Local\Veldmark' || fail "the Start-menu entry starts elsewhere"
  # The installed console, working in the data folder as the menu entry starts it.
  start_console "$data" "$programs/Veldmark.exe"
  sleep 2
  screenshot "$out/installed_console.png"
  wait_for 30 test -f "$data/data.db" || fail "the installed console made no data.db in $data"
  "$wineserver" -k || true
  "$wineserver" -w
  "$wine" "$programs/uninstall.exe" /S || fail "the silent uninstall failed"
  # The uninstaller copies itself away and returns at once.
  wait_for 60 test ! -e "$programs/Veldmark.exe" || fail "the programs are still installed"
  [ -f "$data/data.db" ] || fail "the uninstaller removed the user's data"
  [ ! -e "$menu" ] || fail "the Start-menu entry is still there"
  echo "installer: installed to $programs, data in $data kept after the uninstall"
  ;;

*)
  fail "unknown scenario $scenario"
  ;;
esac
