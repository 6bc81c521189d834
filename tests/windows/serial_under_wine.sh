#!/usr/bin/env bash
# Runs the Windows serial tests under wine against a virtual serial board:
# the board's pseudo-terminal becomes COM7 through wine's port registry key.
# Wine points COM ports without a key at /dev/ttyS*, which on build machines
# is the kernel console, so the mapping is checked before the test opens it.
#   serial_under_wine.sh VBOARD_SERIAL TEST_EXE
set -euo pipefail
board_tool=$1
test_exe=$2
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
port=COM7

coproc BOARD { "$board_tool"; }
read -r word path <&"${BOARD[0]}"
[ "$word" = path ] || { echo "serial_under_wine: no board ($word $path)" >&2; exit 1; }

"$wine" reg add 'HKLM\Software\Wine\Ports' /v "$port" /t REG_SZ /d "$path" /f >/dev/null
# The port keys are read when wine starts.
"$wineserver" -k || true
"$wineserver" -w
"$wine" reg query 'HKLM\Software\Wine\Ports' /v "$port" >/dev/null
device=$(readlink "$WINEPREFIX/dosdevices/${port,,}" || true)
if [ "$device" != "$path" ]; then
  echo "serial_under_wine: $port leads to '$device', not the board's $path" >&2
  exit 1
fi

status=0
"$wine" "$test_exe" "$port" || status=$?
exec {BOARD[1]}>&-
read -r line <&"${BOARD[0]}" || true
echo "board side: $line"
"$wine" reg delete 'HKLM\Software\Wine\Ports' /v "$port" /f >/dev/null || true
exit "$status"
