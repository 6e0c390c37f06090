#!/bin/bash
# A ping flood across a veth: does ravlet keep up with tcpdump, and what does
# it cost next to tcpdump itself?  As root:  bench/flood.sh build/ravlet [COUNT]
RAVLET=$(realpath "$1")
COUNT=${2:-20000}
. "$(dirname "$0")/../tests/e2e/lib.sh"
require_root
net_up
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

start 80x24 -i vt0 -e icmp
wait_for alpha
sleep 1
cap=$(awk '{print $1}' "/proc/$RPID/task/$RPID/children")
r0=$(ticks "$RPID"); c0=$(ticks "$cap")
s0=$(date +%s.%N)
# paced a little, so that the kernel does not drop packets before tcpdump
ip netns exec "$NSB" ping -q -i 0.0002 -c "$COUNT" 10.77.0.1 > /dev/null
s1=$(date +%s.%N)
# the last reply's line: how long after the flood ended is it on the screen?
for ((i = 0; i < 500; i++)); do
	screen | grep -q "echo reply.*seq $COUNT," && break
	sleep 0.02
done
s2=$(date +%s.%N)
r1=$(ticks "$RPID"); c1=$(ticks "$cap")
hz=$(getconf CLK_TCK)
echo "$COUNT requests and replies ($((2 * COUNT)) lines) in $(echo "$s1 - $s0" | bc) s"
if [ "$i" -lt 500 ]; then
	echo "last line on the screen $(echo "$s2 - $s1" | bc) s after the flood ended"
else
	echo "last line NOT on the screen within 10 s (dropped by the kernel before tcpdump saw it?)"
fi
echo "CPU: ravlet $(echo "scale=2; ($r1 - $r0) / $hz" | bc) s, tcpdump $(echo "scale=2; ($c1 - $c0) / $hz" | bc) s"
kill "$RPID"; wait_exit
