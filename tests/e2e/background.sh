#!/bin/bash
# Background mode: the lock file, and the move onto a second terminal that a
# tmux pane provides (its first process gives the terminal up and waits).
RAVLET=$1
RELEASE=$3
. "$(dirname "$0")/lib.sh"
require_root
net_up
IF=bg$$
LOCK=/var/run/ravlet-$IF.pid
ip -n "$NS" link add "$IF" type veth peer name "${IF}p"
ip -n "$NS" addr add 10.80.0.1/24 brd 10.80.0.255 dev "$IF"
ip -n "$NS" link set "$IF" up
cleanup_lock() { rm -f "$LOCK" "/var/run/ravlet-${IF}p.pid"; cleanup; }
trap cleanup_lock EXIT

# A fresh target terminal for each start, 80x24 or COLS LINES; sets TTY,
# and SESSION for the screen helpers.
TN=0
target() {
	TN=$((TN + 1))
	SESSION=tgt$TN
	tmux_up
	tm new-session -d -s "$SESSION" -x "${1:-80}" -y "${2:-24}" "$RELEASE"
	TTY=$(tm display -p -t "$SESSION" '#{pane_tty}')
	sleep 0.3
}
# bg [ENV...] -- ARGS: start from a process without a terminal; sets BSTATUS
bg() {
	local envs=()
	while [ "$1" != -- ]; do envs+=("$1"); shift; done
	shift
	env -i PATH="$PATH" "${envs[@]}" setsid -w ip netns exec "$NS" "$RAVLET" "$@" \
		< /dev/null > "$T/bgout" 2> "$T/bgerr"
	BSTATUS=$?
}
ended() { [ ! -d "/proc/$1" ] || grep -q '^State:.*Z' "/proc/$1/status"; }
wait_ended() { within 5 ended "$1"; }
lockpid() { cat "$LOCK" 2>/dev/null; }
child_env() { tr '\0' '\n' < "/proc/$(child_of "$1")/environ" | grep '^TERM='; }

target
s0=$(date +%s%N)
bg -- -b -r "$TTY" -t vt220 -i "$IF"
s1=$(date +%s%N)
check "the starting command ends with 0 at once" test "$BSTATUS" = 0 -a $(( (s1 - s0) / 1000000 )) -lt 1000
check "the detached monitor shows its screen on the target terminal" wait_for "ravlet \(1\.4\) -+ $IF -"
PID=$(lockpid)
check "the lock file holds the detached process's id, without a line end" \
	bash -c '[[ "$0" =~ ^[0-9]+$ ]] && [ "$(stat -c %s "$1")" = "${#0}" ]' "$PID" "$LOCK"
check "... which runs on the target terminal" test "$(readlink "/proc/$PID/fd/0")" = "$TTY"
check "TERM unset: the terminal type from -t" test "$(child_env "$PID")" = TERM=vt220
check "the lock file is not world-writable" test -z "$(find "$LOCK" -perm -002)"

cp "$LOCK" "$T/lock.before"
target
bg -- -b -r "$TTY" -t vt220 -i "$IF"
check "a second start is refused with status 1" test "$BSTATUS" = 1
check "... and the exact message, no line end" \
	test "$(cat "$T/bgerr"; echo .)" = "ERROR, another daemon is already running, pid = $PID, terminating!."
check "... the lock file untouched" cmp -s "$LOCK" "$T/lock.before"
check "... the first monitor still runs" test -d "/proc/$PID"

kill "$PID"
check "SIGTERM ends the background monitor" wait_ended "$PID"
check "... removes the lock file" test ! -e "$LOCK"
check "... leaves no capture process" ns_empty

target
bg TERM=xterm -- -b -r "$TTY" -t vt220 -i "$IF"
wait_for "ravlet \(1\.4\)"
PID=$(lockpid)
check "TERM=xterm in the environment wins over -t" test "$(child_env "$PID")" = TERM=xterm
keys C-c
check "a quit key on the target terminal ends it" wait_ended "$PID"
check "... and removes the lock file" test ! -e "$LOCK"
check "... leaves no capture process" ns_empty
check "... gives the target terminal back in its normal modes" \
	bash -c 'stty -a -F "$0" | grep -qE "(^| )icanon( |$)"' "$TTY"

sh -c 'exit 0' & gone=$!
wait "$gone"
printf '%s' "$gone" > "$LOCK"
target
bg -- -b -r "$TTY" -t vt220 -i "$IF"
wait_for "ravlet \(1\.4\)"
PID=$(lockpid)
check "a stale lock file (its process ended) is replaced" test -n "$PID" -a "$PID" != "$gone" -a -d "/proc/$PID"
kill "$PID"; wait_ended "$PID"

# Nobody holds the lock: stale, whatever the file says, even a live pid.
for content in "not a number" "" 1; do
	printf '%s' "$content" > "$LOCK"
	target
	bg -- -b -r "$TTY" -t vt220 -i "$IF"
	wait_for "ravlet \(1\.4\)"
	PID=$(lockpid)
	check "an unlocked lock file holding '$content' is stale: replaced by the new pid" \
		test -n "$PID" -a "$PID" != 1 -a -d "/proc/$PID"
	kill "$PID"; wait_ended "$PID"
done
check "... and removed at the end" test ! -e "$LOCK"

mkfifo "$LOCK"
target
s0=$(date +%s%N)
bg -- -b -r "$TTY" -t vt220 -i "$IF"
s1=$(date +%s%N)
check "a FIFO at the lock path: refused at once, not waited on" \
	test "$BSTATUS" = 1 -a $(( (s1 - s0) / 1000000 )) -lt 1000 -a -p "$LOCK"
check "... with a message naming it" \
	test "$(cat "$T/bgerr")" = "ERROR, lockfile $LOCK is not a regular file, terminating!"
rm -f "$LOCK"
ln -s "$T/elsewhere" "$LOCK"
bg -- -b -r "$TTY" -t vt220 -i "$IF"
check "a symbolic link at the lock path is not followed" \
	test "$BSTATUS" = 1 -a ! -e "$T/elsewhere"
check "... and the start is refused with a message" grep -q 'not a regular file' "$T/bgerr"
rm -f "$LOCK"

target
(umask 0; bg -- -b -r "$TTY" -t vt220 -i "$IF")
wait_for "ravlet \(1\.4\)"
PID=$(lockpid)
check "umask 0: the lock file is still mode 0644" test "$(stat -c %a "$LOCK")" = 644
kill "$PID"; wait_ended "$PID"

# Starts that fail once the monitor has its terminal and lock: the starter
# still hears of it, and nothing is written on the device.
target
bg TERM=nonsense -- -b -r "$TTY" -t vt220 -i "$IF"
check "an unknown terminal type: status 1 and the reason, to the starter" \
	bash -c '[ "$0" = 1 ] && [ "$(cat "$1")" = "ERROR, unknown terminal type nonsense, terminating!" ]' \
	"$BSTATUS" "$T/bgerr"
check "... nothing on the device" bash -c '! grep -q ERROR <<< "$0"' "$(screen)"
check "... and no lock file is left" within 2 test ! -e "$LOCK"
check "... nor any process" within 2 ns_empty
target 60 20
bg -- -b -r "$TTY" -t vt220 -i "$IF"
check "a device smaller than 80x24: status 1 and the reason, to the starter" \
	bash -c '[ "$0" = 1 ] && grep -q "^ERROR, minimal screensize must be 80x24, is 60x20" "$1"' \
	"$BSTATUS" "$T/bgerr"
check "... and no monitor left" within 2 test -z "$(monitors)"

# A starter that left 0, 1 and 2 closed (a cron-like launcher): the lock
# file must not land on one of them and be lost with it.
closed() { # closed FDS-TO-CLOSE ARGS...
	local c=$1
	shift
	timeout 10 env -i PATH="$PATH" setsid -w ip netns exec "$NS" bash -c "exec $c; exec \"\$0\" \"\$@\"" \
		"$RAVLET" "$@" < /dev/null > /dev/null 2> /dev/null
	BSTATUS=$?
}
target
closed '0<&- 1>&- 2>&-' -b -r "$TTY" -t vt220 -i "$IF"
check "descriptors 0-2 closed: the start succeeds" test "$BSTATUS" = 0
wait_for "ravlet \(1\.4\) -+ $IF -"
PID=$(lockpid)
target
closed '0<&- 1>&- 2>&-' -b -r "$TTY" -t vt220 -i "$IF"
check "... a second start on the interface is refused, status 1" test "$BSTATUS" = 1
check "... one monitor runs, holding the lock" \
	test "$(monitors)" = "$PID" -a "$(lockpid)" = "$PID"
kill "$PID"; wait_ended "$PID"
s0=$(date +%s%N)
closed '0<&- 1>&-' -b -r "$TTY" -t vt220 -i "$IF"
s1=$(date +%s%N)
check "0 and 1 closed: the starter returns once the monitor runs" \
	test "$BSTATUS" = 0 -a $(( (s1 - s0) / 1000000 )) -lt 2000
PID=$(lockpid)
kill "$PID"; wait_ended "$PID"
closed '0<&- 2>&-' -b -r /dev/nonexistent -t vt220 -i "$IF"
check "0 and 2 closed, no such device: status 1" test "$BSTATUS" = 1

# A start that fails says so to its starter, with status 1.
bg -- -b -r "$T/nodevice" -t vt220 -i "$IF"
check "-r naming nothing: status 1 and the reason, to the starter" \
	bash -c '[ "$0" = 1 ] && grep -q "^ERROR, cannot open redirected device: No such file or directory$" "$1"' \
	"$BSTATUS" "$T/bgerr"
touch "$T/plain"
bg -- -b -r "$T/plain" -t vt220 -i "$IF"
check "-r naming a regular file: status 1 and the reason, to the starter" \
	bash -c '[ "$0" = 1 ] && grep -q "^ERROR, device is not a tty!: " "$1"' "$BSTATUS" "$T/bgerr"
check "... and no lock file" test ! -e "$LOCK"

# Aimed at a terminal where another monitor runs (another interface, so
# another lock): refused to the starter, nothing written on that screen.
target
bg -- -b -r "$TTY" -t vt220 -i "$IF"
wait_for "ravlet \(1\.4\) -+ $IF -"
PID=$(lockpid)
bg -- -b -r "$TTY" -t vt220 -i "${IF}p"
check "a terminal another monitor holds: status 1 and the reason, to the starter" \
	bash -c '[ "$0" = 1 ] && grep -q "^ERROR, cannot setup tty as controlling terminal: " "$1"' \
	"$BSTATUS" "$T/bgerr"
sleep 0.5
check "... nothing of it on the running monitor's screen" bash -c '! grep -q ERROR <<< "$0"' "$(screen)"
check "... no lock file of its own" test ! -e "/var/run/ravlet-${IF}p.pid"
kill "$PID"; wait_ended "$PID"

# A start that hangs (the device's open held up 8 s): given up after 5 s.
if command -v strace > /dev/null; then
	target
	s0=$(date +%s%N)
	env -i PATH="$PATH" setsid -w ip netns exec "$NS" strace -f -qq -o /dev/null -P "$TTY" -e trace=openat \
		-e inject=openat:delay_enter=8000000 "$RAVLET" -b -r "$TTY" -t vt220 -i "$IF" \
		< /dev/null > /dev/null 2> "$T/bgerr"
	BSTATUS=$?
	check "a start held up: status 1 and the bound named" \
		bash -c '[ "$0" = 1 ] && grep -q "^ERROR, background monitor did not start within 5 s" "$1"' \
		"$BSTATUS" "$T/bgerr"
	check "... and no monitor left" within 2 test -z "$(monitors)"
	check "... nor a lock file" test ! -e "$LOCK"

	# The starter killed while the device's open is held up 1.5 s: the
	# monitor comes up all the same and holds its lock.
	target
	env -i PATH="$PATH" setsid ip netns exec "$NS" strace -f -qq -o /dev/null -P "$TTY" -e trace=openat \
		-e inject=openat:delay_enter=1500000 "$RAVLET" -b -r "$TTY" -t vt220 -i "$IF" \
		< /dev/null > /dev/null 2>&1 &
	OWN_PIDS+=($!)
	starter_of() { cat "/proc/$1/task/$1/children" 2>/dev/null; }
	has_starter() { [ -n "$(starter_of "$1")" ]; }
	within 2 has_starter $!
	sleep 0.3	# the monitor forked, in its open
	kill -KILL $(starter_of $!)
	check "a starter killed during the start: the monitor comes up" \
		wait_for "ravlet \(1\.4\) -+ $IF -"
	PID=$(lockpid)
	sleep 0.5
	check "... runs on, and the lock file names it" test -n "$PID" -a -d "/proc/$PID" -a "$(monitors)" = "$PID"
	kill "$PID"; wait_ended "$PID"

	# The device hung up (its terminal closed) while the start is held up
	# in its first socket: the starter hears which signal ended it.
	target
	env -i PATH="$PATH" setsid -w ip netns exec "$NS" strace -f -qq -o /dev/null -e trace=socket \
		-e inject=socket:delay_enter=2000000:when=1 "$RAVLET" -b -r "$TTY" -t vt220 -i "$IF" \
		< /dev/null > /dev/null 2> "$T/bgerr" &
	starter=$!
	sleep 1
	tm kill-session -t "$SESSION"
	wait "$starter"
	BSTATUS=$?
	check "a hangup during the start: status 1, the signal named" \
		bash -c '[ "$0" = 1 ] && grep -q "ended by signal 1 before it ran" "$1"' "$BSTATUS" "$T/bgerr"
	check "... and no monitor nor lock file left" within 3 test -z "$(monitors)" -a ! -e "$LOCK"
fi

# A foreground monitor leaves another monitor's lock file alone.
printf '%s' "$$" > "$LOCK"
start 80x24 -i "$IF"
wait_for 'ravlet \(1\.4\)'
keys C-c
wait_exit 5
check "a foreground monitor leaves the lock file in place" test "$(cat "$LOCK")" = "$$"
rm -f "$LOCK"

# Two monitors started at the same moment, over a stale lock file: exactly
# one runs, and the file names it.
printf '%s' "$gone" > "$LOCK"
target
bg -- -b -r "$TTY" -t vt220 -i "$IF" &
bg -- -b -r "$TTY" -t vt220 -i "$IF" &
wait
sleep 1.5
PID=$(lockpid)
live=$(monitors | wc -l)
check "two starts at once: one monitor runs ($live)" test "$live" = 1
check "... and the lock file names it" test -n "$PID" -a -d "/proc/$PID"
kill "$PID"; wait_ended "$PID"
check "... which removes it on its way out" test ! -e "$LOCK"
finish
