#!/bin/bash
# The FreeBSD rc.d script of the lines of figures, filled in as an install
# fills it, against stand-ins for rc.subr and daemon(8): two interfaces,
# status, a rotation as newsyslog does it from the installed entry (the
# lines go on in the new file, none lost or doubled, and it holds only
# JSON), a monitor killed and started again, and stop.
RAVLET=$(realpath "$1")
. "$(dirname "$0")/lib.sh"
require_root
command -v python3 >/dev/null || skip "needs python3"
net_up
no_ipv6 "$NS" vt0
LOG=$T/log/ravlet
RUNDIR=$T/run
mkdir -p "$RUNDIR"
DIST=$E2E_DIR/../../dist

# The script and the rotation's helper as an install writes them, with the
# stand-ins and the test's own folders.
sed -e "s|@SBINDIR@|$(dirname "$RAVLET")|" -e "s|^\. /etc/rc.subr$|. $E2E_DIR/stub-rc.subr|" \
	-e "s|^daemon=\"/usr/sbin/daemon\"$|daemon=\"$E2E_DIR/stub-daemon\"|" \
	-e "s|^logdir=\"/var/log/ravlet\"$|logdir=\"$LOG\"|" -e "s|^rundir=\"/var/run\"$|rundir=\"$RUNDIR\"|" \
	"$DIST/ravlet_lines.in" > "$T/ravlet_lines"
sed -e "s|/var/run/|$RUNDIR/|" "$DIST/ravlet_lines_reopen" > "$T/reopen"
chmod 755 "$T/ravlet_lines" "$T/reopen"
check "the script as an install fills it: no placeholder left" \
	bash -c '! grep -q "@" "$0" && grep -q "^daemon=.*stub-daemon" "$0"' "$T/ravlet_lines"

# rc ACTION [VAR=VALUE...]: as service(8) runs it, with an empty environment
rc() {
	local action=$1
	shift
	printf '%s\n' ravlet_lines_enable=YES 'ravlet_lines_interfaces="vt0 tn0"' \
		ravlet_lines_interval=1 "$@" > "$T/rc.conf"
	env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin RC_CONF="$T/rc.conf" \
		ip netns exec "$NS" "$T/ravlet_lines" "$action" > "$T/out" 2>&1
}
supervisor() { read -r p < "$RUNDIR/ravlet_lines.$1.pid" 2>/dev/null && echo "$p"; }
# the monitor under the supervisor of interface $1
monitor() { local s; s=$(supervisor "$1") && cat "/proc/$s/task/$s/children" 2>/dev/null | awk '{print $1}'; }
has_lines() { [ "$(grep -c '^{' "$LOG/$1.json" 2>/dev/null)" -ge "$2" ]; }
both_have() { has_lines vt0 "$1" && has_lines tn0 "$1"; }

ip netns exec "$NSB" ping -q -i 0.2 -s 1000 -c 150 10.77.0.1 > /dev/null 2>&1 &
OWN_PIDS+=($!)
rc start
check "start: status 0, a start for each interface" \
	bash -c '[ "$0" = 0 ] && grep -qx "Starting ravlet_lines vt0\." "$1" && grep -qx "Starting ravlet_lines tn0\." "$1"' \
	"$?" "$T/out"
check "... lines of both into /var/log/ravlet/IF.json" within 10 both_have 3
check "... the log folder of mode 750" test "$(stat -c %a "$LOG")" = 750
m=$(monitor vt0)
check "... each monitor as nobody, its supervisor as root ($m)" \
	bash -c '[ "$(stat -c %U "/proc/$0")" = nobody ] && [ "$(stat -c %U "/proc/$1")" = root ]' "$m" "$(supervisor vt0)"
rc status
check "status: both running, status 0" \
	bash -c '[ "$0" = 0 ] && [ "$(grep -c "is running as pid" "$1")" = 2 ]' "$?" "$T/out"
rc start
check "start again: each already running, status 1" \
	bash -c '[ "$0" = 1 ] && [ "$(grep -c "already running" "$1")" = 2 ]' "$?" "$T/out"

# newsyslog, as the installed entry tells it: the files rotated, the new
# ones made empty with the entry's mode, a note written into them unless
# B, the helper run with the signal number (R), then the old compressed (Z).
read -r pattern owner mode count size when flags cmd <<< "$(grep '^/' "$DIST/ravlet_lines.conf.in")"
check "the newsyslog entry: a pattern of the log folder, flags B, G and R, the helper" \
	bash -c '[ "$0" = "/var/log/ravlet/*.json" ] && [[ "$1" == *B* && "$1" == *G* && "$1" == *R* ]] &&
		[ "$2" = "@LIBEXECDIR@/ravlet_lines_reopen" ]' "$pattern" "$flags" "$cmd"
sleep 2
for f in "$LOG"/*.json; do
	mv "$f" "$f.0"
	install -m "$mode" /dev/null "$f"
	[[ "$flags" == *B* ]] || echo "$(date) logfile turned over" >> "$f"
done
sh -c "$T/reopen 1"
sleep 4
[[ "$flags" == *Z* ]] && gzip "$LOG"/*.json.0
check "after the rotation: lines in the new files" both_have 3
check "... which hold only JSON lines" bash -c 'for f in "$0"/*.json; do
	python3 -c "import json, sys; [json.loads(l) for l in open(sys.argv[1])]" "$f" || exit 1; done' "$LOG"
# none lost or doubled: each line's bytes are the one before's and its own
# second's (rate times interval), across the two files
verdict=$(zcat "$LOG/vt0.json.0.gz" | cat - "$LOG/vt0.json" | python3 -c '
import json, sys
rows = [json.loads(l) for l in sys.stdin]
bad = [i for i in range(1, len(rows))
       if abs(rows[i]["in_bytes"] - rows[i - 1]["in_bytes"] - rows[i]["in_bytes_per_s"] * rows[i]["interval"]) > 60]
print(len(rows), "lines", "broken at %s" % bad if bad else "whole")')
check "... none lost or doubled across the two files of vt0 ($verdict)" bash -c '[[ "$0" == *whole ]]' "$verdict"

old=$(monitor vt0)
kill -KILL "$old"
again() { local m; m=$(monitor vt0); [ -n "$m" ] && [ "$m" != "$old" ]; }
check "a monitor killed: its daemon starts it again" within 10 again
n=$(grep -c . "$LOG/vt0.json")
check "... and its lines go on" within 10 has_lines vt0 $((n + 2))

sups="$(supervisor vt0) $(supervisor tn0)"
rc stop ravlet_lines_interfaces=vt0
check "stop: both stopped, also one no longer named in rc.conf, status 0" \
	bash -c '[ "$0" = 0 ] && [ "$(grep -c "^Stopping" "$1")" = 2 ]' "$?" "$T/out"
# no supervisor, no monitor in the namespace, no pid file
gone() {
	local p
	for p in $sups; do [ ! -d "/proc/$p" ] || return 1; done
	for p in $(ip netns pids "$NS"); do [ "$(readlink "/proc/$p/exe")" != "$RAVLET" ] || return 1; done
	! ls "$RUNDIR"/*.pid > /dev/null 2>&1
}
check "... no daemon or monitor left, no pid file" within 5 gone
rc status
check "status then: not running, status 1" \
	bash -c '[ "$0" = 1 ] && [ "$(grep -c "is not running" "$1")" = 2 ]' "$?" "$T/out"
rc start ravlet_lines_interval=soon
check "an interval that is no number: refused with its reason, status 1" \
	bash -c '[ "$0" = 1 ] && grep -q "whole number of seconds" "$1"' "$?" "$T/out"
finish
