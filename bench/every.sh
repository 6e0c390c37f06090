#!/bin/bash
# What every interface costs, on a namespace of 1000 bridges (an IPv4 and an
# IPv6 address each) besides vt0: the screen with the list of every
# interface open (i) beside one with it closed, and lines of every
# interface (-a) beside lines of one (-i vt0).  CPU from
# /proc/PID/schedstat, system calls from strace -c, both at the same time.
# The list closed costs what an idle second did before: bench/compare.sh.
# As root:  bench/every.sh build/ravlet [SECONDS] [INTERFACES]
RAVLET=$(realpath "$1")
SECS=${2:-20}
. "$(dirname "$0")/../tests/e2e/lib.sh"
require_root
command -v strace >/dev/null || skip "needs strace"
net_up
no_ipv6 "$NS" vt0
many_interfaces "${3:-1000}"
sleep 2

. "$(dirname "$0")/lib.sh"

# report LABEL NAME_A PID_A NAME_B PID_B: B's CPU and calls a second over A's
report() {
	local a0 a1 b0 b1 ac bc
	sleep 4
	a0=$(cpu_ns "$3"); b0=$(cpu_ns "$5")
	sleep "$SECS"
	a1=$(cpu_ns "$3"); b1=$(cpu_ns "$5")
	ac=$(calls "$3"); bc=$(calls "$5")
	awk -v l="$1" -v na="$2" -v nb="$4" -v a=$(( (a1 - a0) / SECS )) -v b=$(( (b1 - b0) / SECS )) \
		-v ac="$ac" -v bc="$bc" 'BEGIN {
		printf "%-34s %s %7.1f us, %s calls; %s %7.1f us, %s calls\n",
		       l, na, a / 1000, ac, nb, b / 1000, bc }'
}

n=$(in_ns ls /sys/class/net | wc -l)
start 80x24 -i vt0 -e icmp
closed=$RPID
SESSION=none
start 80x60 -i vt0 -e icmp
keys i
wait_for '^----- every interface'
report "screen, $n interfaces" closed "$closed" "list open" "$RPID"
kill "$closed" "$RPID"
wait_exit 5

in_ns "$RAVLET" -o json -i vt0 > /dev/null &
one=$!
OWN_PIDS+=($one)
in_ns "$RAVLET" -o json -a > /dev/null &
all=$!
OWN_PIDS+=($all)
report "lines, $n interfaces" "-i vt0" "$one" "-a" "$all"
kill "$one" "$all"
