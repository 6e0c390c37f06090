#!/bin/bash
# Every figure as the kernel has it: interfaces without IPv4, a labelled
# address, a tun without a peer, an interface made again under the same
# index, a router advertisement, and steps of the wall clock.
RAVLET=$1
. "$(dirname "$0")/lib.sh"
require_root
command -v python3 >/dev/null || skip "needs python3"
net_up

kernel() { in_ns cat "/sys/class/net/$1/statistics/$2"; }
# bytes in on the screen, as a bare number, equals the kernel's
bytes_in_is_kernels() { [ "$(row 3 12 20 | awk '{print $1}')" = "$(kernel "$1" rx_bytes)" ]; }

# An IPv6-only veth: its link-local address, no name, and its counters.
ip -n "$NS" link add v6a type veth peer name v6b netns "$NSB"
ip -n "$NS" link set v6a up
ip -n "$NSB" link set v6b up
start 80x24 -i v6a -e icmp
check "IPv6 only: the link-local address across the address row" \
	wait_for '^addr: fe80::[0-9a-f:]+ +brc:$' 5
ip netns exec "$NSB" ping -q -c 3 -i 0.2 ff02::1%v6b > /dev/null 2>&1
check "... and bytes in as the kernel counts them" within 4 bytes_in_is_kernels v6a
kill "$RPID"; wait_exit

# A bridge port: no address at all, counters all the same.
ip -n "$NS" link add br7 type bridge
ip -n "$NS" link set v6a master br7
no_ipv6 "$NS" v6a
ip -n "$NS" link set br7 up
start 80x24 -i v6a -e icmp
check "a bridge port: a dash for its address" wait_for '^addr: - ' 3
ip netns exec "$NSB" ping -q -c 3 -i 0.2 ff02::1%v6b > /dev/null 2>&1
check "... bytes in as the kernel counts them" within 4 bytes_in_is_kernels v6a

# Made again under the same index: the figures start again, nothing wraps.
idx=$(in_ns cat /sys/class/net/v6a/ifindex)
within 2 figure_is 3 12 20 -gt 0
ip -n "$NS" link del v6a
ip -n "$NS" link add v6a index "$idx" type veth peer name v6b netns "$NSB"
ip -n "$NS" link set v6a up
ip -n "$NSB" link set v6b up
sleep 2.5
check "made again at index $idx: no wrapped difference" bash -c '! grep -q 18446744 <<< "$0"' "$(screen)"
check "... every label of rows 5 to 8 whole" \
	test "$(row 6 0 11)$(row 7 0 11)$(row 8 0 11)" = "outbytes/h:  inpkts/h: outpkts/h:"
check "... and bytes in counted from the new interface" within 3 bytes_in_is_kernels v6a
kill "$RPID"; wait_exit

# The only IPv4 address carries a label: found by index all the same.
ip -n "$NS" link add pbv0 type veth peer name pbv1 netns "$NSB"
ip -n "$NS" addr add 10.201.0.1/24 brd 10.201.0.255 dev pbv0 label pbv0:1
ip -n "$NS" link set pbv0 up
start 80x24 -i pbv0 -e icmp
check "a labelled address is the interface's address" wait_for '^addr: 10\.201\.0\.1 .*brc: 10\.201\.0\.255' 3
# taken away: shown gone at once
ip -n "$NS" addr del 10.201.0.1/24 dev pbv0
check "... and shown gone as soon as it is removed" within 0.5 bash -c '! grep -q 10.201.0.1 <<< "$(tmux -S '"$T"'/tmux.sock capture-pane -p -t '"$SESSION"')"'
kill "$RPID"; wait_exit

# A tun with an address and no peer, as OpenVPN's "topology subnet" sets it up.
if [ -c /dev/net/tun ]; then
	ip -n "$NS" tuntap add dev tn7 mode tun
	ip -n "$NS" addr add 10.201.8.1/24 dev tn7
	ip -n "$NS" link set tn7 up
	start 80x24 -i tn7 -e icmp
	wait_for '^addr: 10\.201\.8\.1 ' 3
	check "a tun without a peer: nothing after its address, no dst: of its own" \
		test -z "$(row 1 59 | tr -d ' ')"
	kill "$RPID"; wait_exit
fi

# A router advertisement with a Retrans Timer, from the far end: no change.
ip netns exec "$NSB" sh -c 'echo 0 > /proc/sys/net/ipv6/conf/vt1/disable_ipv6'
sleep 2.5	# vt1's link-local address through duplicate detection
start 80x24 -i vt0 -e icmp
wait_for 'alpha\.test'
within 2 shows '^chg: [A-Z]'
before=$(row 2)
ip netns exec "$NSB" python3 -c '
import socket, struct
s = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_ICMPV6)
s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_MULTICAST_HOPS, 255)
# type 134, code, checksum (the kernel), hop limit, flags, lifetime 0, reachable 0, retrans 1000 ms
ra = struct.pack("!BBHBBHII", 134, 0, 0, 64, 0, 0, 0, 1000)
for _ in range(3):
    s.sendto(ra, ("ff02::1", 0, 0, socket.if_nametoindex("vt1")))'
sleep 2
check "a router advertisement moves no change time" test "$(row 2)" = "$before"
kill "$RPID"; wait_exit
no_ipv6 "$NSB" vt1

# A carrier lost and back (the far end down and up) is no change; a down
# and an up in one burst are two: the up shown, the down at the right.
start 80x24 -i vt0 -e icmp
wait_for 'alpha\.test'
within 2 shows '^chg: [A-Z]'
before=$(row 2)
ip -n "$NSB" link set vt1 down
sleep 1.2
ip -n "$NSB" link set vt1 up
sleep 1.2
check "the carrier lost and back: no change" test "$(row 2)" = "$before"
printf 'link set vt0 down\nlink set vt0 up\n' | ip -n "$NS" -batch -
prev_shown() { [ -n "$(row 2 44 | tr -d ' ')" ]; }
check "a down and an up in one burst: a change, and the one before it at the right" \
	within 3 prev_shown
check "... both of the burst's moment" test "$(row 2 5 24)" = "$(row 2 44 24)"

# Thousands of address changes while the monitor is stopped, a down and an
# up among them: the notice socket holds them all, so the two still count.
sleep 1.2
before=$(row 2)
for i in $(seq 2000); do
	echo "addr add 10.90.$((i / 250)).$((i % 250 + 1))/32 dev vt0"
	[ "$i" = 1000 ] && printf 'link set vt0 down\nlink set vt0 up\n'
done > "$T/flood"
sed 's/^addr add/addr del/' "$T/flood" | grep '^addr' >> "$T/flood"
kill -STOP "$RPID"
ip -n "$NS" -batch "$T/flood"
kill -CONT "$RPID"
changed() { [ "$(row 2 5 24)" != "${before:5:24}" ] && prev_shown; }
check "4000 address changes while stopped: a down and an up among them still count" within 3 changed
kill "$RPID"; wait_exit

# Steps of the wall clock (libfaketime, the monotonic clock left alone).
FT=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
if [ -z "$FT" ]; then
	skip "needs libfaketime (faketime)"
fi
echo "+0" > "$T/offset"
# (a sanitizer build would refuse a library preloaded before its own)
WRAP=(env LD_PRELOAD="$FT" FAKETIME_TIMESTAMP_FILE="$T/offset" FAKETIME_NO_CACHE=1 DONT_FAKE_MONOTONIC=1
	ASAN_OPTIONS=verify_asan_link_order=0)
start 80x24 -i vt0 -e "no such expression"
wait_for 'tcpdump has ended' 5
within 2 shows '^chg: [A-Z]'
echo "-600" > "$T/offset"
sleep 2
ip netns exec "$NSB" ping -q -c 2 -i 0.3 10.77.0.1 > /dev/null 2>&1
check "clock ten minutes back: the per-second figures go on" within 2 figure_is 5 70 9 -gt 0
check "... no phantom previous change" test -z "$(row 2 44 | tr -d ' ')"
echo "+7200" > "$T/offset"
sleep 2.5
check "two hours forward: no minute or hour window yet" test "$(row 5 12 1)$(row 5 42 1)" = "--"
check "... still no previous change" test -z "$(row 2 44 | tr -d ' ')"
check "... and a step is no return of the interface: tcpdump not started again" \
	bash -c '! grep -q "started again" <<< "$0"' "$(pane)"
kill "$RPID"; wait_exit
WRAP=()
finish
