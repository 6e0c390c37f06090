#!/bin/bash
# pane.sh DIR [--stderr-on-screen] CMD...
# Runs CMD on this terminal and records, in DIR, its pid, its standard error,
# its exit status and the terminal's modes after it ended; then stays, so
# that the screen it left can still be read.
dir=$1
shift
err="$dir/err"
if [ "$1" = --stderr-on-screen ]; then
	err=/dev/tty
	shift
fi
sh -c 'd=$1 e=$2; shift 2; echo $$ > "$d/pid.new" && mv "$d/pid.new" "$d/pid"; exec "$@" 2>"$e"' \
	sh "$dir" "$err" "$@"
echo $? > "$dir/status.new"
stty -a > "$dir/stty" 2>&1
mv "$dir/status.new" "$dir/status"
exec sleep 3600
