#!/bin/sh
# The desktop window with its settings, log and spool in the user's own folder; a
# --config-dir given on the command line comes later and wins.
set -e
dir="${XDG_CONFIG_HOME:-$HOME/.config}/tarnwick"
mkdir -p -m 0700 "$dir"
exec /usr/bin/tarnwick --config-dir "$dir" "$@"
