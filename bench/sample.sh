#!/bin/bash
# Cost of one idle sample on a small and on a large host: CPU from
# /proc/PID/schedstat (nanoseconds) and system calls from strace -c, with a
# veth among 3 and among 1000 other interfaces (bridges with an IPv4 and an
# IPv6 address each).  As root:  bench/sample.sh build/ravlet [SECONDS] [BASELINE]
# With a BASELINE binary, both are measured in the same run, side by side.
RAVLET=$(realpath "$1")
MINE=$RAVLET
SECS=${2:-20}
BASE=${3:+$(realpath "$3")}
. "$(dirname "$0")/../tests/e2e/lib.sh"
require_root
command -v strace >/dev/null || skip "needs strace"
net_up

cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
# measure BINARY LABEL: microseconds of CPU and system calls per sample
measure() {
	local c0 c1 calls
	RAVLET=$1
	start 80x24 -i vt0 -e icmp
	wait_for 'ravlet \(1' 10 > /dev/null || { echo "$2: no screen"; return; }
	shows 'alpha\.test' || within 5 shows 'alpha\.test' || echo "$2: the interface is not found"
	sleep 2
	c0=$(cpu_ns "$RPID"); sleep "$SECS"; c1=$(cpu_ns "$RPID")
	timeout -s INT "$SECS" strace -c -f -p "$RPID" -o "$T/strace" 2>/dev/null
	calls=$(awk '$NF == "total" {print $4}' "$T/strace")
	printf '%-28s %8.1f us CPU   %5.1f system calls per sample\n' "$2" \
		"$(echo "($c1 - $c0) / $SECS / 1000" | bc -l)" "$(echo "$calls / $SECS" | bc -l)"
	kill "$RPID"; wait_exit 5
}
both() {
	measure "$MINE" "ravlet, $1"
	[ -n "$BASE" ] && measure "$BASE" "baseline, $1"
}

both "3 other interfaces"
many_interfaces 1000
both "1000 other interfaces"
