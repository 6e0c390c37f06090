#!/bin/bash
# The overview (i) against `ip link` and known traffic: interfaces made,
# deleted and renamed while it is open, 300 of them, the highlight kept on
# its interface as the list reorders; then taking another interface:
# tcpdump on it and none left on the one before, the figures and the graph
# afresh, and back again.
RAVLET=$1
. "$(dirname "$0")/lib.sh"
require_root
command -v python3 >/dev/null || skip "needs python3"
net_up
udp_sink

# the overview's rows (row 11 on): name, state, address, in, out
listed() { screen | sed -n '12,$p' | cut -c3- | awk 'NF >= 5 { print $1, $2, $3 }'; }
# what ip says of NS: name, up or down, first IPv4 address or "-"
truth() {
	in_ns ip -o link | awk -F': ' '{ sub(/@.*/, "", $2); print $2 }' | LC_ALL=C sort | while read -r n; do
		a=$(in_ns ip -o -4 addr show dev "$n" | awk '{ sub(/\/.*/, "", $4); print $4; exit }')
		f=$(in_ns ip -o link show dev "$n" | grep -q '[<,]UP[,>]' && echo up || echo down)
		echo "$n $f ${a:--}"
	done
}
same_as_ip() { [ "$(listed)" = "$(truth)" ]; }
# the highlighted row's name (standout, shown as reverse video by tmux)
highlighted() { screen_e | sed -n '12,$p' | grep -a $'\e\[7m' | sed 's/\x1b\[[0-9;]*m//g' | cut -c3- | awk '{ print $1; exit }'; }
is_highlighted() { [ "$(highlighted)" = "$1" ]; }
row_of() { screen | sed -n '12,$p' | cut -c3- | awk -v n="$1" '$1 == n'; }
in_rate_of() { row_of "$1" | awk '{ print $4 }'; }
rate_near() { local v; v=$(in_rate_of "$1"); [ -n "$v" ] && [ "$v" != - ] && [ "$v" -ge "$2" ] && [ "$v" -le "$3" ]; }

start 100x60 -i vt0
wait_for 'alpha\.test'
keys i
check "i: the overview, titled with its keys" \
	wait_for '^----- every interface \(Enter: take it, s: by traffic, i: close\) -'
check "... every interface as ip lists it, with its state and first address" within 3 same_as_ip
marked() { [ "$(screen | grep -c '^\* ')" = 1 ] && screen | grep -q "^\* $1 "; }
check "... the one followed marked" within 2 marked vt0
check "... and highlighted" within 2 is_highlighted vt0

send 100 60 1042
check "... vt0's traffic in bytes a second (100 x 1042)" within 4 rate_near vt0 98000 110000
keys u
check "u: in bits a second" within 3 rate_near vt0 784000 880000
keys u

ip link add vn0 netns "$NS" type veth peer name vn1 netns "$NSB"
ip -n "$NS" addr add 10.79.0.1/24 dev vn0
check "an interface made while open is listed" within 3 same_as_ip
ip -n "$NS" link set vn0 name vr0
check "... renamed" within 3 same_as_ip
ip -n "$NS" link set vr0 up
check "... set up" within 3 same_as_ip
ip -n "$NS" link del vr0
check "... and deleted" within 3 same_as_ip

# by traffic: vt0 first; the highlight stays on tn0 wherever it goes
keys k k
check "k k: the highlight two up, on lo" within 2 is_highlighted lo
keys j
check "j: one down, on tn0" within 2 is_highlighted tn0
keys s
first_is() { [ "$(screen | sed -n 12p | cut -c3- | awk '{ print $1 }')" = "$1" ]; }
check "s: by traffic, vt0 first" within 3 first_is vt0
check "... the highlight still on tn0" within 2 is_highlighted tn0
keys s

many_interfaces 300
rows_shown() { [ "$(screen | sed -n '12,$p' | cut -c3- | awk 'NF >= 5' | wc -l)" = "$1" ]; }
check "300 more interfaces: the window full of them" within 4 rows_shown 49
for i in $(seq 8); do keys NPage; done
check "... page down to the last of them" within 3 is_highlighted vt0
scrolled() { [ -n "$(row_of vt0)" ] && [ -z "$(row_of br1)" ]; }
check "... which the window scrolled to" scrolled
for i in $(seq 8); do keys PPage; done
check "... and page up to the first" within 3 is_highlighted br1
tm set -t "$SESSION" status off 2>/dev/null
keys Escape
check "Escape: closed, the tcpdump pane again" wait_for '^----- tcpdump output -'
in_ns ip -batch <(for i in $(seq 300); do echo "link del br$i"; done)

# taking another interface: va1 with its own traffic, from the graph view
ip link add va1 netns "$NS" type veth peer name vb1 netns "$NSB"
ip -n "$NS" addr add 10.77.1.1/24 brd 10.77.1.255 dev va1
ip -n "$NSB" addr add 10.77.1.2/24 dev vb1
ip -n "$NS" link set va1 up
ip -n "$NSB" link set vb1 up
no_ipv6 "$NS" va1
no_ipv6 "$NSB" vb1
within 5 capture_listening
old=$(child_of "$RPID")
keys g
wait_for '^----- traffic graph'
sleep 2
keys i
wait_for '^----- every interface'
take() {
	local n
	for n in $(seq 30); do is_highlighted "$1" && break; keys j; sleep 0.05; done
	for n in $(seq 30); do is_highlighted "$1" && break; keys k; sleep 0.05; done
	keys Enter
}
take va1
check "Enter: the title names va1" wait_for '^----- ravlet \([0-9.]+\) -+ va1 -'
check "... its address" wait_for '^addr: 10\.77\.1\.1 '
check "... its broadcast address" wait_for 'brc: 10\.77\.1\.255'
check "... back on the graph the overview was opened over" wait_for '^----- traffic graph'
bars() { screen | sed -n '12,30p' | grep -c '[#█▇▆▅▄▃▂▁]'; }
no_bars() { [ "$(bars)" = 0 ]; }
check "... whose bars of vt0's traffic are gone" within 2 no_bars
new=$(child_of "$RPID")
check "... the old tcpdump ended and reaped" bash -c '! kill -0 "$0" 2>/dev/null' "$old"
check "... a new one on va1" bash -c 'tr "\0" " " < "/proc/$0/cmdline" | grep -q -- "-li va1 "' "$new"
one_capture() { [ "$(child_of "$RPID" | wc -l)" = 1 ]; }
check "... and only that one" one_capture
ping_va1() { ip netns exec "$NSB" ping -c 3 -i 0.2 -q 10.77.1.1 >/dev/null 2>&1; }
ping_va1
check "... the counters are va1's" wait_for '^packets in: [1-9]'
keys i
wait_for '^----- every interface'
take vt0
check "and back to vt0" wait_for '^----- ravlet \([0-9.]+\) -+ vt0 -'
check "... its host name looked up again" wait_for 'alpha\.test'
within 3 capture_listening
check "... tcpdump on vt0 again" bash -c 'tr "\0" " " < "/proc/$0/cmdline" | grep -q -- "-li vt0 "' "$(child_of "$RPID")"
has_bars() { [ "$(bars)" -gt 0 ]; }
check "... the bars of its traffic drawn afresh" within 4 has_bars

keys C-c
wait_exit
left() { ip netns pids "$NS" | xargs -r ps -o comm= -p | grep -E 'tcpdump|ravlet'; }
check "control-C: status 0, and no tcpdump or ravlet left in the namespace" \
	test "$STATUS" = 0 -a -z "$(left)"
finish
