#!/bin/sh
# Starts the console in the user's data folder, where it keeps "Veldmark.ini",
# "data.db" and the "log" tree, instead of wherever the menu was started from.
set -e
data="${XDG_DATA_HOME:-$HOME/.local/share}/veldmark"
mkdir -p "$data"
cd "$data"
here=$(dirname "$(readlink -f "$0")")
exec "$here/../lib/veldmark/Veldmark" "$@"
