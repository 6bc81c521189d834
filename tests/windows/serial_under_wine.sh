#!/usr/bin/env bash
# Runs a Windows program under wine against a virtual serial board:
# the board's pseudo-terminal becomes COM7 through wine's port registry key.
# Wine points COM ports without a key at /dev/ttyS*, which on build machines
# is the kernel console, so the mapping is checked before the test opens it.
#   serial_under_wine.sh VBOARD_SERIAL PROGRAM [ARGS...]
# An argument "{port}" becomes the port's name (COM7). Prints the board's
# closing line ("board side: frames ... complete N") after the program ends.
set -euo pipefail
board_tool=$1
shift
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
# The server this starts keeps its stderr, where it dumps its objects when the
# line's terminal hangs up: not the program's output.
"$wine" reg query 'HKLM\Software\Wine\Ports' /v "$port" >/dev/null 2>&1
device=$(readlink "$WINEPREFIX/dosdevices/${port,,}" || true)
if [ "$device" != "$path" ]; then
  echo "serial_under_wine: $port leads to '$device', not the board's $path" >&2
  exit 1
fi

args=("${@//\{port\}/$port}")
status=0
"$wine" "${args[@]}" || status=$?
exec {BOARD[1]}>&-
read -r line <&"${BOARD[0]}" || true
echo "board side: $line"
"$wine" reg delete 'HKLM\Software\Wine\Ports' /v "$port" /f >/dev/null || true
exit "$status"
