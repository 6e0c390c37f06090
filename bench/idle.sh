#!/bin/bash
# Idle cost of a running monitor: wake-ups, system calls per sample, CPU, and
# heap allocations after start-up.  As root:  bench/idle.sh build/ravlet [SECONDS]
# A veth with no traffic and the capture pane quiet (filter "icmp").
RAVLET=$(realpath "$1")
SECS=${2:-60}
. "$(dirname "$0")/../tests/e2e/lib.sh"
require_root
command -v strace >/dev/null || skip "needs strace"
net_up
sleep 2	# let IPv6 address set-up noise pass

start 80x24 -i vt0 -e icmp
wait_for alpha
t0=$(ticks "$RPID")
timeout -s INT "$SECS" strace -c -p "$RPID" -o "$T/strace" 2>/dev/null
t1=$(ticks "$RPID")
kill "$RPID"; wait_exit
hz=$(getconf CLK_TCK)
waits=$(awk '$NF == "ppoll" {print $4}' "$T/strace")
total=$(awk '$1 == "100.00" {print $4}' "$T/strace")
echo "over $SECS s idle:"
echo "  wake-ups (ppoll calls): $waits, $(echo "scale=2; $waits / $SECS" | bc) per second"
echo "  system calls: $total, $(echo "scale=1; $total / $SECS" | bc) per second, one sample a second"
echo "  CPU: $(echo "scale=3; ($t1 - $t0) / $hz" | bc) s"
sed 's/^/  | /' "$T/strace"

# After the capture program has ended (here: it rejects the expression).
start 80x24 -i vt0 -e "no such expression"
wait_for alpha
sleep 2
t0=$(ticks "$RPID")
sleep "$SECS"
t1=$(ticks "$RPID")
kill "$RPID"; wait_exit
echo "  CPU over $SECS s after tcpdump ended: $(echo "scale=3; ($t1 - $t0) / $hz" | bc) s"

if command -v valgrind >/dev/null; then
	# Heap: the allocation count at exit is the same for a short and a long run.
	for secs in 3 13; do
		WRAP=(valgrind --log-file="$T/vg$secs.%p")
		start 80x24 -i vt0 -e icmp
		wait_for alpha 30
		sleep "$secs"
		kill "$RPID"; wait_exit 30
		echo "  heap after ${secs}s: $(grep -ho "total heap usage: [0-9,]* allocs" "$T/vg$secs.$RPID")"
	done
fi
