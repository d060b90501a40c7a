#!/bin/sh
# Switches TAVO's log to debug lines for the user who runs this script: the
# setting file in the user's TAVO folder turns them on at the next start.
set -eu
folder="$HOME/.local/share/Oskavelle/TAVO"
mkdir -p -- "$folder"
: > "$folder/.debug.ini"
echo "TAVO writes debug lines from its next start on."
