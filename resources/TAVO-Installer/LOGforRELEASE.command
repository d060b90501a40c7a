#!/bin/sh
# Switches TAVO's log back to its normal lines for the user who runs this
# script: the setting file in the user's TAVO folder is removed.
set -eu
rm -f -- "$HOME/.local/share/Oskavelle/TAVO/.debug.ini"
echo "TAVO writes its normal lines from its next start on."
