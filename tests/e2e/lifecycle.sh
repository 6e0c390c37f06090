#!/bin/bash
# Whatever ends ravlet leaves nothing behind: hangups, a terminal that stops
# reading, any signal, SIGKILL, a stopped capture child, a resolver that
# does not answer, and descriptors that must not reach tcpdump.
RAVLET=$1
HOLD_PTY=$4
. "$(dirname "$0")/lib.sh"
require_root
net_up
command -v tcpdump >/dev/null || [ -x /usr/sbin/tcpdump ] || skip "needs tcpdump"
command -v perl >/dev/null || skip "needs perl"

# a second of CPU ticks used, sampled over one second
capture_up() { test -n "$(child_of "$RPID")"; }

# The terminal goes away: ravlet as the pane's own process, and under a shell.
tmux_up
tm new-session -d -s own -x 80 -y 24 "ip netns exec $NS $RAVLET -i vt0"
within 5 test -n "$(monitors)"
within 5 test -n "$(child_of "$(monitors)")"
tm kill-session -t own
check "the terminal closes under ravlet: nothing is left within 3 s" within 3 ns_empty
tm new-session -d -s shell -x 80 -y 24 "bash --norc --noprofile -i"
sleep 0.3
tm send-keys -t shell "ip netns exec $NS $RAVLET -i vt0" Enter
within 5 test -n "$(monitors)"
within 5 test -n "$(child_of "$(monitors)")"
tm kill-session -t shell
check "the terminal closes under a shell that runs ravlet: nothing left within 3 s" within 3 ns_empty

# Standard input at its end: a hangup, not a busy loop.
WRAP=(sh -c 'exec "$0" "$@" < /dev/null')
start 80x24 -i vt0
check "standard input at end of file: ravlet ends with status 1" eval 'wait_exit 3 && [ "$STATUS" = 1 ]'
check "... the terminal restored" restored
check "... nothing left" ns_empty
WRAP=()

# A terminal whose output is stopped and never read: SIGTERM still ends it.
"$HOLD_PTY" "$T/held.pid" 2 env TERM=xterm ip netns exec "$NS" "$RAVLET" -i vt0 > "$T/held.status" &
OWN_PIDS+=($!)
within 5 test -s "$T/held.pid"
held=$(cat "$T/held.pid")
sleep 2.5
# a ping flood fills the pane, and with it the terminal's stopped output
ip netns exec "$NSB" ping -q -c 300 -i 0.002 10.77.0.1 > /dev/null 2>&1
sleep 1
echo "# ravlet waits in: $(cat "/proc/$held/wchan" 2>/dev/null)"
t0=$(date +%s%N)
kill -TERM "$held"
within 3 test -s "$T/held.status"
t1=$(date +%s%N)
check "SIGTERM ends it within 2 s though the terminal takes no output ($(( (t1 - t0) / 1000000 )) ms)" \
	test -s "$T/held.status" -a $(( (t1 - t0) / 1000000 )) -lt 2000
check "... with status 15" test "$(( $(cat "$T/held.status") >> 8 ))" = 15
check "... and no capture process left" ns_empty

# Other signals that end a process: the orderly exit, then the parent sees the signal.
WRAP=(perl -e 'my $f = shift; system { $ARGV[0] } @ARGV; open my $o, ">", $f; print $o ($? & 127), "\n"; exit 0' "$T/signal")
for pair in PIPE:13 ALRM:14 XCPU:24; do
	sig=${pair%:*}
	rm -f "$T/signal"
	start 80x24 -i vt0
	wait_for 'alpha\.test'
	rv=$(child_of "$RPID")	# perl is ravlet's parent here
	within 5 test -n "$(child_of "$rv")"
	kill -s "$sig" "$rv"
	wait_exit 3
	check "SIG$sig: the parent sees ravlet ended by SIG$sig" test "$(cat "$T/signal" 2>/dev/null)" = "${pair#*:}"
	check "SIG$sig: the terminal restored" restored
	check "SIG$sig: no capture process" ns_empty
done
WRAP=()

# SIGKILL: the kernel ends tcpdump with it.
start 80x24 -i vt0
within 5 capture_up
kill -KILL "$RPID"
check "SIGKILL of ravlet: no tcpdump within a second" within 1 ns_empty

# A stopped capture child does not hold up the exit.
start 80x24 -i vt0
wait_for 'alpha\.test'
within 5 capture_up
kill -STOP "$(child_of "$RPID")"
keys C-c
check "a stopped tcpdump, then control-C: status 0 within 3 s" eval 'wait_exit 3 && [ "$STATUS" = 0 ]'
check "... the terminal restored" restored
check "... nothing left" ns_empty

# Descriptors: the capture program gets its standard input and the pipe only.
WRAP=(bash -c 'exec 10</dev/null 251</dev/null; exec "$0" "$@"')
start 80x24 -i vt0
within 5 capture_up
cap=$(child_of "$RPID")
ls -l "/proc/$cap/fd" > "$T/capfds"
mine=$(for f in /proc/$RPID/fd/*; do readlink "$f"; done | sort -u)
theirs=$(for f in /proc/$cap/fd/*; do [ "${f##*/}" -gt 2 ] && readlink "$f"; done | sort -u)
check "tcpdump inherits neither the starter's descriptors 10 and 251" \
	test ! -e "/proc/$cap/fd/10" -a ! -e "/proc/$cap/fd/251"
check "... nor any of ravlet's beyond its input and output" \
	test -z "$(comm -12 <(echo "$mine") <(echo "$theirs"))"
check "... its output is the pipe" bash -c '[[ "$(readlink /proc/$0/fd/1)" == pipe:* ]]' "$cap"
check "... its standard error a pipe of ravlet's, never the terminal" \
	bash -c '[[ "$(readlink /proc/$0/fd/2)" == pipe:* ]] && [ "$(readlink /proc/$0/fd/2)" != "$(readlink /proc/$0/fd/1)" ]' "$cap"
kill "$RPID"; wait_exit
WRAP=()

# A name server that never answers: SIGTERM ends the wait for it at once.
ip -n "$NS" link add rs0 type veth peer name rs1
ip -n "$NS" addr add 10.81.0.1/24 dev rs0
ip -n "$NS" link set rs0 up
ip -n "$NS" link set rs1 up
echo "nameserver 10.81.0.99" > "/etc/netns/$NS/resolv.conf"
start 80x24 -i rs0 -e icmp
wait_for 'ravlet \(1\.4\)'
sleep 1.5
check "the monitor waits for the resolver (no host name yet)" test -z "$(row 1 22 8 | tr -d ' ')"
t0=$(date +%s%N)
kill -TERM "$RPID"
wait_exit 3
t1=$(date +%s%N)
check "SIGTERM during a host name look-up: ended within a second ($(( (t1 - t0) / 1000000 )) ms)" \
	test "$STATUS" = 15 -a $(( (t1 - t0) / 1000000 )) -lt 1000
check "... the resolver child is gone too" ns_empty

# Nothing that has already ended keeps the CPU busy.
start 80x24 -i vt0 -e "no such expression"
wait_for 'alpha\.test'
sleep 1
# CPU time is charged by the tick (100 a second): a sleeper caught by one now
# and then shows a tick or two, a busy loop hundreds.
t0=$(ticks "$RPID"); sleep 3; n=$(( $(ticks "$RPID") - t0 ))
check "after tcpdump ended: asleep ($n ticks in 3 s)" test "$n" -le 3
kill "$RPID"; wait_exit
finish
