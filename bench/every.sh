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

n=$(in_ns ls /sys/class/net | wc -l)
start 80x24 -i vt0 -e icmp
closed=$RPID
SESSION=none
start 80x60 -i vt0 -e icmp
keys i
wait_for '^----- every interface'
measure "screen, $n interfaces" closed "$closed" "list open" "$RPID"
kill "$closed" "$RPID"
wait_exit 5

ip netns exec "$NS" "$RAVLET" -o json -i vt0 > /dev/null &
one=$!
OWN_PIDS+=($one)
ip netns exec "$NS" "$RAVLET" -o json -a > /dev/null &
all=$!
OWN_PIDS+=($all)
measure "lines, $n interfaces" "-i vt0" "$one" "-a" "$all"
kill "$one" "$all"
