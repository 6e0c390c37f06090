#!/bin/bash
# What an idle second costs, beside the floor: a bare one-second wake-up
# from select() on a terminal (bench/wake.c, built here), and the same with
# the one kernel query of an idle second (bench/query.c), run at the same
# time on terminals of their own.  CPU from /proc/PID/schedstat, system calls
# from strace -c, with a veth among 3 and among 1000 other interfaces
# (bridges with an IPv4 and an IPv6 address each).  Then the time from an
# address change to the screen, and ravlet's CPU while 1000 other
# interfaces are made and deleted.
# As root:  bench/sample.sh build/ravlet [SECONDS]
RAVLET=$(realpath "$1")
SECS=${2:-20}
. "$(dirname "$0")/../tests/e2e/lib.sh"
require_root
command -v strace >/dev/null || skip "needs strace"
command -v cc >/dev/null || skip "needs a C compiler"
cc -O2 -o "$T/wake" "$(dirname "$0")/wake.c" || exit 1
cc -O2 -o "$T/query" "$(dirname "$0")/query.c" || exit 1
net_up
# An idle second is one in which no figure changes: vt0 without IPv6 sends
# nothing of its own (no solicitations or reports) and its far end is quiet.
no_ipv6 "$NS" vt0
sleep 2

. "$(dirname "$0")/lib.sh"

# idle LABEL: ravlet, the bare wake-up and the query loop side by side
idle() {
	local r w q r0 r1 w0 w1 q0 q1 rc wc
	start 80x24 -i vt0 -e icmp
	r=$RPID
	wait_for 'alpha\.test' 10 > /dev/null || echo "$1: the interface is not found"
	tm new-session -d -s wake -x 80 -y 24 "ip netns exec $NS $T/wake"
	tm new-session -d -s query -x 80 -y 24 "ip netns exec $NS $T/query $(in_ns cat /sys/class/net/vt0/ifindex)"
	w=$(within 3 pgrep -f "^$T/wake" > /dev/null && pgrep -f "^$T/wake")
	q=$(within 3 pgrep -f "^$T/query" > /dev/null && pgrep -f "^$T/query")
	sleep 3
	r0=$(cpu_ns "$r"); w0=$(cpu_ns "$w"); q0=$(cpu_ns "$q")
	sleep "$SECS"
	r1=$(cpu_ns "$r"); w1=$(cpu_ns "$w"); q1=$(cpu_ns "$q")
	rc=$(calls "$r"); wc=$(calls "$w")
	awk -v l="$1" -v r=$(( (r1 - r0) / SECS )) -v w=$(( (w1 - w0) / SECS )) -v q=$(( (q1 - q0) / SECS )) \
		-v rc="$rc" -v wc="$wc" \
		'BEGIN { printf "%-22s ravlet %5.1f us, %s calls; bare wake-up %5.1f us, %s call; ratio %.2f; wake-up and query %5.1f us, ratio %.2f\n",
		         l, r / 1000, rc, w / 1000, wc, r / w, q / 1000, q / w }'
	tm kill-session -t wake
	tm kill-session -t query
	kill "$r"; wait_exit 5
}

# From an address change to the screen: median and max over N changes.
latency() {
	local i t0 t1 a prev=10.77.0.1/24 ms=()
	start 80x24 -i vt0 -e icmp
	wait_for 'alpha\.test' 10 > /dev/null
	for i in $(seq 10); do
		a=10.$((200 + i)).0.1
		t0=$(date +%s%N)
		ip -n "$NS" addr replace "$a/24" dev vt0
		ip -n "$NS" addr del "$prev" dev vt0
		until screen | grep -q "addr: $a "; do :; done
		t1=$(date +%s%N)
		ms+=($(( (t1 - t0) / 1000000 )))
		prev=$a/24
		sleep 0.3
	done
	printf '%s\n' "${ms[@]}" | sort -n | awk '{ v[NR] = $1 } END {
		printf "address change to screen: median %d ms, max %d ms (%d changes)\n",
		       (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2, v[NR], NR }'
	kill "$RPID"; wait_exit 5
	ip -n "$NS" addr flush dev vt0
	ip -n "$NS" addr add 10.77.0.1/24 brd 10.77.0.255 dev vt0
}

# ravlet's CPU while 1000 other interfaces are made and deleted
storm() {
	local c0 c1 t0 t1
	start 80x24 -i vt0 -e icmp
	wait_for 'alpha\.test' 10 > /dev/null
	sleep 2
	c0=$(cpu_ns "$RPID"); t0=$(date +%s%N)
	for i in $(seq 1000); do echo "link add st$i type bridge"; done > "$T/mk"
	for i in $(seq 1000); do echo "link del st$i"; done > "$T/rm"
	ip -n "$NS" -batch "$T/mk"; ip -n "$NS" -batch "$T/rm"
	t1=$(date +%s%N)
	sleep 1
	c1=$(cpu_ns "$RPID")
	printf 'storm of 1000 interfaces made and deleted in %d ms: ravlet %.1f ms of CPU, %s\n' \
		$(( (t1 - t0) / 1000000 )) "$(echo "($c1 - $c0) / 1000000" | bc -l)" \
		"$(test ! -e "$RUN/status" && echo "still running" || echo "ENDED")"
	kill "$RPID"; wait_exit 5
}

idle "3 other interfaces"
latency
storm
many_interfaces 1000
idle "1000 other interfaces"
