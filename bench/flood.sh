#!/bin/bash
# A ping flood across a veth: does ravlet keep up with tcpdump, and what does
# it cost next to tcpdump itself?  As root:  bench/flood.sh build/ravlet [COUNT]
RAVLET=$(realpath "$1")
COUNT=${2:-20000}
. "$(dirname "$0")/../tests/e2e/lib.sh"
require_root
net_up

start 80x24 -i vt0 -e icmp
wait_for alpha
sleep 1
cap=$(child_of "$RPID")
r0=$(ticks "$RPID"); c0=$(ticks "$cap")
s0=$(date +%s.%N)
ip netns exec "$NSB" ping -f -q -c "$COUNT" 10.77.0.1 > /dev/null
s1=$(date +%s.%N)
# When does the pane settle after the flood?  (A large flood loses packets in
# the kernel before tcpdump sees them, so the last request need not appear.)
last=$(pane); changed=$s1
for ((i = 0; i < 500; i++)); do
	sleep 0.02
	now=$(pane)
	if [ "$now" != "$last" ]; then last=$now; changed=$(date +%s.%N); fi
	[ "$(echo "$(date +%s.%N) - $changed > 2" | bc)" = 1 ] && break
done
r1=$(ticks "$RPID"); c1=$(ticks "$cap")
hz=$(getconf CLK_TCK)
echo "$COUNT requests and replies ($((2 * COUNT)) lines) in $(echo "$s1 - $s0" | bc) s"
echo "the pane settled $(echo "$changed - $s1" | bc) s after the flood ended, on"
echo "$last" | tail -1
echo "CPU: ravlet $(echo "scale=2; ($r1 - $r0) / $hz" | bc) s, tcpdump $(echo "scale=2; ($c1 - $c0) / $hz" | bc) s"
kill "$RPID"; wait_exit
