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

# the other build's monitor first: the ratio is this build's over it
SIZE=80x24
RAVLET_B=$RAVLET
RAVLET=$OTHER
side_by_side "idle pane view, 80x24" other -i vt0 -e icmp -- "this build" -i vt0 -e icmp
