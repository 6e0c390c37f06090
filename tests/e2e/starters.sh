#!/bin/bash
# Nothing that ravlet starts can end it, and nothing a starter leaves
# behind can break it: the watcher killed, SIGCHLD ignored, a pids limit
# hit and lifted, a stop and fg under a shell, a fault sent from outside,
# descriptors and relative paths in background mode, unquoted expressions,
# too few descriptors.
RAVLET=$(realpath "$1")
RELEASE=$3
. "$(dirname "$0")/lib.sh"
require_root
command -v tcpdump >/dev/null || [ -x /usr/sbin/tcpdump ] || skip "needs tcpdump"
command -v python3 >/dev/null || skip "needs python3"
net_up

CG=
cleanup_all() {
	if [ -n "$CG" ] && [ -d "$CG" ]; then
		for p in $(cat "$CG/cgroup.procs" 2>/dev/null); do echo "$p" > "$CG/../cgroup.procs"; done
		rmdir "$CG"
	fi
	cleanup
}
trap cleanup_all EXIT

watcher() { pgrep -P "$RPID" -x ravlet-watcher; }
# tcpdump runs under ravlet itself (not under a starter that is still starting it)
capture_up() { [ "$(readlink "/proc/$RPID/exe")" = "$RAVLET" ] && [ -n "$(child_of "$RPID")" ]; }
running() { [ ! -e "$RUN/status" ]; }

# The watcher: its own name, killed and replaced; a write to it never ends us.
start 80x24 -i vt0 -e icmp
wait_for 'alpha\.test'
within 5 capture_up
w=$(watcher)
check "the watcher goes by its own name in ps" test "$(ps -o args= -p "$w")" = ravlet-watcher
kill -KILL "$w"
new_watcher() { [ -n "$(watcher)" ] && [ "$(watcher)" != "$w" ]; }
check "the watcher killed: another one starts" within 2 new_watcher
kill -KILL "$(child_of "$RPID")"
check "... then tcpdump killed: the pane names the signal, not its banner" \
	wait_for '^\[tcpdump has ended by signal 9: Killed\]$' 3
sleep 1
check "... and ravlet runs on" running
ip -n "$NS" link set vt0 down
ip -n "$NS" link set vt0 up
within 5 capture_up
kill -KILL "$RPID"
check "... a SIGKILL of ravlet later still leaves no tcpdump" within 1 ns_empty

# SIGCHLD ignored by whoever started us: an ended tcpdump is still seen.
PY=$(python3 -c 'import sys; print(sys.executable)')
WRAP=("$PY" -c 'import os, signal, sys; signal.signal(signal.SIGCHLD, signal.SIG_IGN); os.execvp(sys.argv[1], sys.argv[1:])')
start 80x24 -i vt0 -e icmp
within 5 capture_up
kill "$(child_of "$RPID")"
check "SIGCHLD ignored by the starter: tcpdump's end is seen" wait_for 'tcpdump has ended' 3
kill "$RPID"; wait_exit
WRAP=()

# A pids limit (a cgroup's pids.max): the name and the capture come back once it is lifted.
for d in /sys/fs/cgroup/pids /sys/fs/cgroup; do
	if [ -e "$d/cgroup.procs" ] && { [ -e "$d/pids.max" ] || [ "$d" = /sys/fs/cgroup/pids ] ||
		grep -qw pids "$d/cgroup.subtree_control" 2>/dev/null; }; then
		CG=$d/ravlet-test$$
		mkdir "$CG" 2>/dev/null && [ -e "$CG/pids.max" ] && break
		rmdir "$CG" 2>/dev/null
		CG=
	fi
done
if [ -n "$CG" ]; then
	start 80x24 -i vt0 -e icmp
	wait_for 'alpha\.test'
	within 5 capture_up
	echo "$RPID" > "$CG/cgroup.procs"
	echo 1 > "$CG/pids.max"
	ip -n "$NS" addr add 10.79.5.1/24 dev vt0
	ip -n "$NS" addr del 10.77.0.1/24 dev vt0
	check "no process to be had: the pane says why the look-up could not start" \
		wait_for '^\[name look-up could not start: Resource temporarily unavailable; again in [0-9]+ s\]' 3
	ip -n "$NS" link del vt0
	make_vt0
	check "... and why tcpdump could not, and that it is tried again" \
		wait_for '^\[tcpdump could not start: Resource temporarily unavailable; again in [0-9]+ s\]' 4
	echo max > "$CG/pids.max"
	check "limit lifted: the host name comes" wait_for 'addr: 10\.77\.0\.1 +alpha\.test' 10
	check "... and tcpdump starts again" wait_for 'tcpdump started again on vt0' 70
	kill "$RPID"; wait_exit
else
	echo "# no pids controller here: the limit is not checked"
fi

# Stopped and continued under an interactive shell.
tmux_up
SESSION=sh
tm new-session -d -s sh -x 80 -y 24 "bash --norc --noprofile -i"
TTY=$(tm display -p -t sh '#{pane_tty}')
sleep 0.5
keys "ip netns exec $NS $RAVLET -i vt0 -e icmp" Enter
wait_for 'alpha\.test'
rp=$(pgrep -f "^$RAVLET -i vt0 -e icmp" | head -1)
kill -STOP "$rp"
sleep 0.5
keys fg Enter
raw_again() { stty -F "$TTY" -a | grep -qE '(^| )-icanon( |$)' && stty -F "$TTY" -a | grep -qE '(^| )-echo( |$)'; }
check "STOP, then fg: the terminal back in ravlet's modes" within 2 raw_again
check "... and the whole screen back" wait_for '^----- ravlet \(1\.4\)' 2
keys C-c
sleep 0.5
keys 'echo "status=$?"' Enter
check "... control-C is a key again: status 0" wait_for '^status=0' 3
tm kill-session -t sh

# A fault sent from outside: the shell gets its screen and cursor back.
start 80x24 -i vt0 -e icmp
wait_for 'alpha\.test'
on_alt=$(tm display -p -t "$SESSION" '#{alternate_on}')
kill -ABRT "$RPID"
wait_exit 5
check "SIGABRT: off the alternate screen (was $on_alt), the cursor shown" \
	test "$on_alt" = 1 -a "$(tm display -p -t "$SESSION" '#{alternate_on}#{cursor_flag}')" = 01
check "... the terminal's modes restored" restored
WRAP=(env TERM=linux)
start 80x24 -i vt0 -e icmp
WRAP=()
wait_for 'alpha\.test'
kill -ABRT "$RPID"
wait_exit 5
read -r x y <<< "$(tm display -p -t "$SESSION" '#{cursor_x} #{cursor_y}')"
check "SIGABRT without an alternate screen: the cursor at the start of a clean line ($x $y)" \
	test "$x" = 0 -a -z "$(row "$y")" -a "$y" -ge 23

# Background mode: the starter's other descriptors, and a relative -r.
target() {
	tmux_up
	SESSION=tgt$1
	tm new-session -d -s "$SESSION" -x 80 -y 24 "$RELEASE"
	TTY=$(tm display -p -t "$SESSION" '#{pane_tty}')
	sleep 0.3
}
target 1
t0=$(date +%s%N)
timeout 5 bash -c 'setsid -w ip netns exec "$0" "$1" -b -r "$2" -t vt220 -i vt0 7>&1 < /dev/null 2>/dev/null | cat > /dev/null' \
	"$NS" "$RAVLET" "$TTY"
ms=$(( ($(date +%s%N) - t0) / 1000000 ))
check "background mode: a pipe on the starter's descriptor 7 ends at once ($ms ms)" test "$ms" -lt 2000
wait_for 'ravlet \(1\.4\)' 5
bgpid=$(cat /var/run/ravlet-vt0.pid)
kill "$bgpid"
within 5 test ! -e "/proc/$bgpid"
target 2
(cd /dev && setsid -w ip netns exec "$NS" "$RAVLET" -b -r "${TTY#/dev/}" -t vt220 -i vt0 < /dev/null > /dev/null 2>&1)
check "a device relative to the starter's directory (${TTY#/dev/} in /dev)" wait_for 'ravlet \(1\.4\)' 5
bgpid=$(cat /var/run/ravlet-vt0.pid 2>/dev/null)
[ -n "$bgpid" ] && kill "$bgpid"
within 5 test ! -e /var/run/ravlet-vt0.pid

# Words after the options: an unquoted expression is refused.
in_ns "$RAVLET" -e not port 22 -i vt0 < /dev/null > /dev/null 2> "$T/err"
st=$?
check "an unquoted expression: status 1 and the usage text" \
	bash -c '[ "$0" = 1 ] && grep -q "^ravlet -b -e <expr>" "$1"' "$st" "$T/err"

# A starter that leaves descriptors 3 to 1100 open: ours lie beyond any select() set.
WRAP=("$PY" -c 'import os, resource, sys
resource.setrlimit(resource.RLIMIT_NOFILE, (4096, 4096))
fd = os.open("/dev/null", os.O_RDONLY)
os.set_inheritable(fd, True)
for n in range(fd + 1, 1101): os.dup2(fd, n)
os.execvp(sys.argv[1], sys.argv[1:])')
start 80x24 -i vt0 -e icmp
WRAP=()
highest() { ls "/proc/$RPID/fd" | sort -n | tail -1; }
check "1100 descriptors inherited: figures come" within 3 figure_is 5 70 9 != -
check "... ravlet's own descriptors above 1100 ($(highest))" test "$(highest)" -gt 1100
check "... capture lines" ping_until 'ICMP echo request'
t0=$(ticks "$RPID")
sleep 3
spent=$(( $(ticks "$RPID") - t0 ))
check "... an idle wait, not a busy loop ($spent ticks in 3 s)" test "$spent" -le 5
keys Enter
check "... the menu opens" wait_for 'Command' 2
keys Escape
keys C-c
wait_exit 5
check "... control-C ends it with status 0" test "$STATUS" = 0

# Too few descriptors: the message names the cause.
start 80x24 -i vt0 -e icmp
kill "$RPID"; wait_exit
WRAP=(prlimit --nofile=6)
start 80x24 -i vt0 -e icmp
wait_exit 5
check "six descriptors: status 1, and the cause named ($(cat "$RUN/err"))" \
	bash -c '[ "$0" = 1 ] && grep -q "Too many open files" "$1"' "$STATUS" "$RUN/err"
WRAP=()
finish
