#!/bin/bash
# Real hosts: the interface among a thousand others, and an interface that
# is deleted, made again, renamed, moved away and back, or not there yet.
RAVLET=$1
. "$(dirname "$0")/lib.sh"
require_root
net_up
command -v tcpdump >/dev/null || [ -x /usr/sbin/tcpdump ] || skip "needs tcpdump"

no_zombie() { # no child of ravlet's waits to be reaped
	local c
	for c in $(cat "/proc/$RPID/task/$RPID/children"); do
		grep -q '^State:.*Z' "/proc/$c/status" 2>/dev/null && return 1
	done
	return 0
}
capture_runs() { [ -n "$(child_of "$RPID")" ]; }
# the pane shows a reply again: the capture follows the interface
pane_follows() { ping_until 'ICMP echo reply'; }

# Deleted and made again with the same name and address.
start 80x24 -i vt0 -e icmp
wait_for 'alpha\.test'
within 3 capture_runs
ip -n "$NS" link del vt0
check "interface deleted: the pane says that tcpdump has ended" \
	wait_for '\[tcpdump has ended; it starts again when vt0 comes back\]' 3
check "... and tcpdump is reaped at once (no zombie)" within 2 no_zombie
make_vt0
check "made again: the pane says tcpdump started again" wait_for '\[tcpdump started again on vt0\]' 3
check "... and capture lines come back" pane_follows
check "... and the figures: packets in counts from the new interface" \
	within 3 figure_is 4 12 24 -lt 20

# Renamed away and back.
ip -n "$NS" link set vt0 down
ip -n "$NS" link set vt0 name vtx
sleep 1.5
ip -n "$NS" link set vtx name vt0
ip -n "$NS" link set vt0 up
restarts() { [ "$(screen | grep -c 'tcpdump started again on vt0')" -ge "$1" ]; }
check "renamed and renamed back: tcpdump runs again" within 4 restarts 2
sleep 1
check "... and its lines reach the pane" pane_follows

# Moved to another namespace and back.
ip -n "$NS" link set vt0 netns "$NSB"
sleep 1.5
ip -n "$NSB" link set vt0 netns "$NS"
ip -n "$NS" addr add 10.77.0.1/24 brd 10.77.0.255 dev vt0 2>/dev/null
ip -n "$NS" link set vt0 up
sleep 2
check "moved away and back: figures again" wait_for 'addr: 10\.77\.0\.1 +alpha\.test' 3
check "... and capture lines" pane_follows
check "... still no zombie" no_zombie
kill "$RPID"; wait_exit
check "... and the exit leaves nothing" ns_empty

# A rejected expression is not started again and again.
start 80x24 -i vt0 -e "no such expression"
wait_for 'tcpdump has ended' 3
sleep 3
check "a rejected expression: tcpdump is not restarted while vt0 stays" \
	test "$(screen | grep -c 'started again')" = 0
kill "$RPID"; wait_exit

# Started before the interface exists; a tun that appears with a peer.
start 80x24 -i tn9 -e icmp
wait_for 'ravlet \(1\.4\)'
check "no interface yet: the template, brc:" test "$(row 1 59 4)" = "brc:"
ip -n "$NS" tuntap add dev tn9 mode tun
ip -n "$NS" addr add 10.78.9.1 peer 10.78.9.2 dev tn9
ip -n "$NS" link set tn9 up
check "the tun appears: its peer under dst:" wait_for 'dst: 10\.78\.9\.2' 3
check "... and tcpdump starts on it" wait_for '\[tcpdump started again on tn9\]' 3
kill "$RPID"; wait_exit

# A thousand other interfaces, each with an IPv4 and an IPv6 address.
many_interfaces 1000
t0=$(date +%s%N)
start 80x24 -i vt0 -e icmp
wait_for 'addr: 10\.77\.0\.1 +alpha\.test +brc: 10\.77\.0\.255' 5
t1=$(date +%s%N)
check "among 1000 interfaces: address and figures within 2 s ($(( (t1 - t0) / 1000000 )) ms)" \
	test $(( (t1 - t0) / 1000000 )) -lt 2000
ip netns exec "$NSB" ping -q -c 3 -i 0.2 10.77.0.1 > /dev/null 2>&1
check "... and counting" within 3 figure_is 4 12 24 -ge 3
kill "$RPID"; wait_exit
finish
