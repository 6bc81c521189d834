#!/bin/sh
# Starts the console in the user's data folder, where it keeps "Veldmark.ini",
# "data.db" and the "log" tree, instead of wherever the menu was started from.
# The folder and all the console writes are its user's alone: they name a
# factory's products, images and stations.
set -e
umask 077
data="${XDG_DATA_HOME:-$HOME/.local/share}/veldmark"
mkdir -p "$data"
chmod 700 "$data"
cd "$data"
here=$(dirname "$(readlink -f "$0")")
exec "$here/../lib/veldmark/Veldmark" "$@"
