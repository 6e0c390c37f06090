#!/bin/bash
# What the graph and the table of every counter cost beside the pane view:
# two monitors on the same veth at the same time, one showing the pane, one
# the graph (-g) or the table (-d), at 80x24 with no traffic and at 200x60
# with about 100 kB/s that changes every second.  The capture expression
# (icmp) keeps the pane quiet, so the difference is the view's.  CPU from
# /proc/PID/schedstat, system calls from strace -c.
# As root:  bench/views.sh build/ravlet [SECONDS]
RAVLET=$(realpath "$1")
SECS=${2:-20}
. "$(dirname "$0")/../tests/e2e/lib.sh"
require_root
command -v strace >/dev/null || skip "needs strace"
locale -a 2>/dev/null | grep -qix 'C.utf-\?8' || skip "needs the C.UTF-8 locale"
net_up
udp_sink
sleep 2

. "$(dirname "$0")/lib.sh"

# varying SECONDS: 100 datagrams a second, their size another each second (200 to 1400 bytes)
varying() {
	ip netns exec "$NSB" timeout $(($1 + 5)) python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
t0 = time.monotonic()
sizes = [1042, 400, 1400, 800, 200, 1200, 1000, 600, 1300, 1100]
for i in range(100 * int(sys.argv[1])):
    time.sleep(max(0, t0 + i / 100 - time.monotonic()))
    s.sendto(b"x" * (sizes[i // 100 % len(sizes)] - 42), ("10.77.0.1", 9))' "$1" &
	SENDER=$!
	OWN_PIDS+=($SENDER)
}

# pair SIZE LABEL OPTION: the pane view and the view of OPTION side by side
pair() {
	local p g p0 p1 g0 g1 pc gc
	WRAP=(env LC_ALL=C.UTF-8)
	start "$1" -i vt0 -e icmp
	p=$RPID
	SESSION=none
	start "$1" "$3" -i vt0 -e icmp
	g=$RPID
	sleep 4
	p0=$(cpu_ns "$p"); g0=$(cpu_ns "$g")
	sleep "$SECS"
	p1=$(cpu_ns "$p"); g1=$(cpu_ns "$g")
	pc=$(calls "$p"); gc=$(calls "$g")
	awk -v l="$2" -v p=$(( (p1 - p0) / SECS )) -v g=$(( (g1 - g0) / SECS )) -v pc="$pc" -v gc="$gc" \
		'BEGIN { printf "%-40s pane %6.1f us, %s calls; view %6.1f us, %s calls; ratio %.2f\n",
		         l, p / 1000, pc, g / 1000, gc, g / p }'
	kill "$p" "$g"
	wait_exit 5
}

pair 80x24 "graph, 80x24, no traffic" -g
pair 80x24 "every counter, 80x24, no traffic" -d
varying $((2 * SECS + 40))
pair 200x60 "graph, 200x60, ~100 kB/s changing each s" -g
pair 200x60 "every counter, 200x60, same traffic" -d
kill "$SENDER"
