#!/bin/bash
# What a second of the text mode costs, beside the floor that the
# one-request loop (bench/query.c) sets, all three at the same time: with
# -w 60 (a second without a line: the sampler alone) and with -w 1 (a line
# every second, into a file: one more system call, a write).  CPU from
# /proc/PID/schedstat, system calls from strace -c.
# As root:  bench/text.sh build/ravlet [SECONDS]
RAVLET=$(realpath "$1")
SECS=${2:-20}
. "$(dirname "$0")/../tests/e2e/lib.sh"
require_root
command -v strace >/dev/null || skip "needs strace"
command -v cc >/dev/null || skip "needs a C compiler"
cc -O2 -o "$T/query" "$(dirname "$0")/query.c" || exit 1
net_up
no_ipv6 "$NS" vt0
sleep 2

. "$(dirname "$0")/lib.sh"

ip netns exec "$NS" "$RAVLET" -o text -i vt0 -w 60 > "$T/lines60" &
w60=$!
ip netns exec "$NS" "$RAVLET" -o text -i vt0 -w 1 > "$T/lines1" &
w1=$!
OWN_PIDS+=($w60 $w1)
tmux_up
tm new-session -d -s query -x 80 -y 24 "ip netns exec $NS $T/query $(in_ns cat /sys/class/net/vt0/ifindex)"
q=$(within 3 pgrep -f "^$T/query" > /dev/null && pgrep -f "^$T/query")
sleep 3
a0=$(cpu_ns "$w60"); b0=$(cpu_ns "$w1"); q0=$(cpu_ns "$q")
sleep "$SECS"
a1=$(cpu_ns "$w60"); b1=$(cpu_ns "$w1"); q1=$(cpu_ns "$q")
ac=$(calls "$w60") bc=$(calls "$w1") qc=$(calls "$q")
awk -v a=$(( (a1 - a0) / SECS )) -v b=$(( (b1 - b0) / SECS )) -v q=$(( (q1 - q0) / SECS )) \
	-v ac="$ac" -v bc="$bc" -v qc="$qc" 'BEGIN {
	printf "one-request loop %5.1f us, %s calls a second\n", q / 1000, qc
	printf "-w 60, no line   %5.1f us, %s calls a second, ratio %.2f\n", a / 1000, ac, a / q
	printf "-w 1, a line     %5.1f us, %s calls a second, ratio %.2f\n", b / 1000, bc, b / q }'
