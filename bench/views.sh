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
	WRAP=(env LC_ALL=C.UTF-8)
	SIZE=$1 side_by_side "$2" pane -i vt0 -e icmp -- view "$3" -i vt0 -e icmp
}

pair 80x24 "graph, 80x24, no traffic" -g
pair 80x24 "every counter, 80x24, no traffic" -d
varying $((2 * SECS + 40))
pair 200x60 "graph, 200x60, ~100 kB/s changing each s" -g
pair 200x60 "every counter, 200x60, same traffic" -d
kill "$SENDER"
