#!/bin/bash
# Two builds' idle second in the pane view, side by side at 80x24 on the
# same quiet veth: what a change costs the default screen.  CPU from
# /proc/PID/schedstat, system calls from strace -c.
# As root:  bench/compare.sh build/ravlet OTHER/ravlet [SECONDS]
RAVLET=$(realpath "$1")
OTHER=$(realpath "$2")
SECS=${3:-20}
. "$(dirname "$0")/../tests/e2e/lib.sh"
require_root
command -v strace >/dev/null || skip "needs strace"
net_up
no_ipv6 "$NS" vt0
sleep 2

. "$(dirname "$0")/lib.sh"

start 80x24 -i vt0 -e icmp
a=$RPID
SESSION=none
RAVLET=$OTHER start 80x24 -i vt0 -e icmp
b=$RPID
sleep 4
a0=$(cpu_ns "$a"); b0=$(cpu_ns "$b")
sleep "$SECS"
a1=$(cpu_ns "$a"); b1=$(cpu_ns "$b")
ac=$(calls "$a"); bc=$(calls "$b")
awk -v a=$(( (a1 - a0) / SECS )) -v b=$(( (b1 - b0) / SECS )) -v ac="$ac" -v bc="$bc" 'BEGIN {
	printf "this build %6.1f us, %s calls a second; the other %6.1f us, %s calls; ratio %.2f\n",
	       a / 1000, ac, b / 1000, bc, a / b }'
kill "$a" "$b"
wait_exit 5
