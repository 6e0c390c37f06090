#!/bin/bash
# Errors, drops, peaks and averages against the kernel: a VXLAN device over
# the veth made to count errors and drops in and out at known rates, read
# by the lines (no tcpdump, so an unhandled frame is a drop) and by the
# table of every counter; a burst on vt0 gives the peak and its time.
RAVLET=$1
. "$(dirname "$0")/lib.sh"
require_root
command -v python3 >/dev/null || skip "needs python3"
net_up
udp_sink
OUT=$T/out

# vx0 over vt0, VNI 42, with no default forwarding entry: a frame for
# 02::02 has none (a drop out), one for 02::03 is sent towards an address
# with no route (an error out).
ip -n "$NS" link add vx0 type vxlan id 42 local 10.77.0.1 dev vt0 dstport 4789 nolearning ||
	skip "no VXLAN in this kernel"
no_ipv6 "$NS" vx0
ip -n "$NS" addr add 10.99.0.1/24 dev vx0
ip -n "$NS" link set vx0 up
ip -n "$NS" neigh add 10.99.0.2 lladdr 02:00:00:00:00:02 dev vx0 nud permanent
ip -n "$NS" neigh add 10.99.0.3 lladdr 02:00:00:00:00:03 dev vx0 nud permanent
ip netns exec "$NS" bridge fdb add 02:00:00:00:00:03 dev vx0 dst 192.0.2.1
MAC=$(in_ns cat /sys/class/net/vx0/address)

# trouble SECONDS: each second 20 frames in whose inner IPv4 header is cut
# short (errors in), 10 of an ethertype nothing takes (drops in), 30 out
# towards no route (errors out), 10 out with no forwarding entry (drops out)
trouble() {
	ip netns exec "$NSB" timeout $(($1 + 5)) python3 -c '
import socket, sys, time
secs, mac = int(sys.argv[1]), bytes.fromhex(sys.argv[2].replace(":", ""))
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
vx = bytes([8, 0, 0, 0, 0, 0, 42, 0]) + mac + bytes.fromhex("020000000009")
t0 = time.monotonic()
for i in range(10 * secs):
    time.sleep(max(0, t0 + i / 10 - time.monotonic()))
    for k in range(2):
        s.sendto(vx + b"\x08\x00\x45\x00\x00", ("10.77.0.1", 4789))
    s.sendto(vx + b"\x88\xb5" + b"x" * 50, ("10.77.0.1", 4789))' "$1" "$MAC" &
	OWN_PIDS+=($!)
	ip netns exec "$NS" timeout $(($1 + 5)) python3 -c '
import socket, sys, time
secs = int(sys.argv[1])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
t0 = time.monotonic()
for i in range(10 * secs):
    time.sleep(max(0, t0 + i / 10 - time.monotonic()))
    for k in range(3):
        try:
            s.sendto(b"x", ("10.99.0.3", 9))
        except OSError:
            pass
    s.sendto(b"x", ("10.99.0.2", 9))' "$1" &
	TROUBLE=$!
	OWN_PIDS+=($TROUBLE)
}
# the kernel's counters of vx0 as /proc/net/dev has them: errors and drops in and out
kernel() { in_ns awk '$1 == "vx0:" { print $4, $12, $5, $13 }' /proc/net/dev; }

trouble 4
sleep 0.3
ip netns exec "$NS" setpriv --reuid=nobody --regid=nogroup --clear-groups \
	"$RAVLET" -o json -i vx0 -c 7 > "$OUT"
wait "$TROUBLE"
read -r ie oe id od <<< "$(kernel)"
figs=$(python3 -c '
import json, sys
for l in open(sys.argv[1]):
    j = json.loads(l)
    print("%d/%d/%d/%d" % tuple(j[k + "_per_s"] for k in ("in_errors", "out_errors", "in_drops", "out_drops")), end=" ")' "$OUT")
check "-o json on vx0: errors and drops in and out a second, 20/30/10/10 while they come ($figs)" \
	bash -c 'set -- $0; [ $# = 7 ] || exit 1; for k in 1 2 3; do IFS=/ read -r a b c d <<< "${!k}"
		[ $a -ge 17 ] && [ $a -le 23 ] && [ $b -ge 26 ] && [ $b -le 34 ] &&
		[ $c -ge 8 ] && [ $c -le 12 ] && [ $d -ge 8 ] && [ $d -le 12 ] || exit 1; done
		[ "$7" = 0/0/0/0 ]' "$figs"
last=$(tail -1 "$OUT" | python3 -c '
import json, sys
j = json.load(sys.stdin)
print(j["in_errors"], j["out_errors"], j["in_drops"], j["out_drops"], j["in_multicast"], j["out_multicast"])')
check "... the last line's counters are the kernel's ($last; $ie $oe $id $od)" \
	test "$last" = "$ie $oe $id $od 0 None"
check "... in_multicast_per_s 0, out_multicast_per_s null: Linux counts no multicast sent" \
	grep -q '"in_multicast_per_s":0,"out_multicast_per_s":null,' "$OUT"
ip netns exec "$NS" "$RAVLET" -o text -i vx0 -c 1 > "$OUT"
check "-o text: the header names the error and drop columns, a line under 120 columns" \
	bash -c '[[ "$(head -1 "$0")" == *" ierr/s oerr/s idrop/s odrop/s" ]] &&
		[ "$(awk "{ if (length > m) m = length } END { print m }" "$0")" -lt 120 ]' "$OUT"

# The table of every counter, on the screen: the same figures.
WRAP=(env LC_ALL=C.UTF-8)
start 80x24 -d -i vx0 -e icmp
check "-d: the table of every counter in the lower part" wait_for '^----- every counter \(d: tcpdump output\) -'
trouble 4
sleep 2.5
# the /s column of a row
per_s() { screen | awk -v r="$1" 'index($0, r " ") == 1 { print $(NF - 3) }'; }
rates="$(per_s "errors in") $(per_s "errors out") $(per_s "drops out")"
check "... errors in and out and drops out a second ($rates)" \
	bash -c 'set -- $0; [ $1 -ge 17 ] && [ $1 -le 23 ] && [ $2 -ge 26 ] && [ $2 -le 34 ] && [ $3 -ge 8 ] && [ $3 -le 12 ]' "$rates"
wait "$TROUBLE"
sleep 1.5
read -r ie oe id od <<< "$(kernel)"
totals=$(screen | awk '/^errors in /{a=$3} /^errors out /{b=$3} /^drops out /{c=$3} END {print a, b, c}')
check "... their totals the kernel's after the traffic ($totals; $ie $oe $od)" test "$totals" = "$ie $oe $od"
check "... a counter not kept is a dash, never 0" \
	bash -c '[[ "$(grep "^multicast out" <<< "$0")" =~ ^multicast\ out\ +-\ +-\ +-\ -\ +-$ ]]' "$(screen)"
keys g
check "g from the table: the graph" wait_for '^----- traffic graph'
keys d
check "d from the graph: the table" wait_for '^----- every counter'
keys d
check "d again: the pane" wait_for '^----- tcpdump output'
kill "$RPID"; wait_exit

# A burst of 500 kB/s for 2 s among 50 kB/s: the peak, its time, the average.
start 80x24 -d -i vt0 -e icmp
wait_for 'alpha\.test' > /dev/null
send 50 12 1000
sleep 4
b0=$(date +%s)
send 500 2 1000
burst=$SENDER
wait "$burst"
b1=$(date +%s)
sleep 4
read -r peak at avg total <<< "$(screen | awk '/^bytes in /{ print $5, $6, $7, $3 }')"
# (a sender held up a moment catches up: a second may hold a little more)
check "the peak second of a burst of 500 kB/s over the 50 ($peak at $at)" \
	test "$peak" -ge 520000 -a "$peak" -le 650000
at_s=$(date -d "$at" +%s)
check "... at its time of day ($at, the burst from $(date -d @"$b0" +%T) to $(date -d @"$b1" +%T))" \
	test "$at_s" -ge $((b0 - 1)) -a "$at_s" -le $((b1 + 1))
check "... and the average under it, over the time since start ($avg)" \
	test "$avg" -gt 50000 -a "$avg" -lt 200000
kill "$RPID"; wait_exit
finish
