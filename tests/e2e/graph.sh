#!/bin/bash
# The keys beyond the menu, against known traffic: the graph (g), bits (u),
# the keys' window (?), and the gaps a stop or an interface made again leave.
RAVLET=$1
. "$(dirname "$0")/lib.sh"
require_root
command -v python3 >/dev/null || skip "needs python3"
locale -a 2>/dev/null | grep -qix 'C.utf-\?8' || skip "needs the C.UTF-8 locale"
net_up

# Traffic into vt0 and nothing out of it: datagrams for a socket that never
# reads them (no reply, no ICMP), the far end knowing vt0's address for good.
no_ipv6 "$NS" vt0
quiet_far_end() {
	ip -n "$NSB" neigh replace 10.77.0.1 lladdr "$(in_ns cat /sys/class/net/vt0/address)" dev vt1 nud permanent
}
quiet_far_end
ip netns exec "$NS" timeout 200 python3 -c '
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 9))
time.sleep(200)' &
OWN_PIDS+=($!)
# send RATE SECONDS SIZE: RATE datagrams a second of SIZE bytes on the wire, on a steady schedule
send() {
	ip netns exec "$NSB" timeout $(($2 + 5)) python3 -c '
import socket, sys, time
rate, secs, size = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
t0 = time.monotonic()
for i in range(rate * secs):
    time.sleep(max(0, t0 + i / rate - time.monotonic()))
    s.sendto(b"x" * (size - 42), ("10.77.0.1", 9))' "$@" &
	SENDER=$!
	OWN_PIDS+=($SENDER)
}
# column COL of rows FROM..TO, top to bottom (characters, not bytes)
column() {
	screen | python3 -c '
import sys
rows = sys.stdin.read().split("\n")
c, a, b = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
print("".join((rows[r] + " " * 200)[c] for r in range(a, b + 1)))' "$@"
}
# the in graph's bars (rows 11..16 at 80x24), the same in columns FROM..TO and not empty
steady() {
	local c first
	first=$(column "$1" 11 16)
	[ -n "$(tr -d ' ' <<< "$first")" ] || return 1
	for ((c = $1; c <= $2; c++)); do [ "$(column "$c" 11 16)" = "$first" ] || return 1; done
}
out_flat() { [ -z "$(screen | sed -n '19,24p' | tr -d ' ')" ]; }
gaps() { column "$1" 11 16 | grep -c ':'; screen | sed -n 17p | grep -o ':' | wc -l; }

WRAP=(env LC_ALL=C.UTF-8)
start 80x24 -i vt0 -e udp
wait_for 'alpha\.test'
check "without a key, the lower part is the tcpdump pane" test "$(row 9 0 22)" = "----- tcpdump output -"
send 100 14 1042
sleep 1
keys g
check "g: the graph, its title naming the key back" wait_for '^----- traffic graph \(g: tcpdump output\) -'
sleep 11
check "100 datagrams of 1042 bytes a second: scale 200 kB/s" \
	bash -c '[[ "$0" == "in   scale 200 kB/s"* ]]' "$(row 10)"
check "... the last 10 columns of the in graph of one height" steady 69 78
check "... its bars in eighths: 25 of 48, three cells and an eighth" \
	test "$(column 75 11 16)" = "  ▁███"
check "... and the out graph flat" out_flat
keys g
check "g again: the pane, with the newest capture lines" wait_for 'UDP, length 1000$'
check "... at its bottom" bash -c '[[ "$0" == *"UDP, length 1000" ]]' "$(row 23)"
keys g
tm resize-window -t "$SESSION" -x 100 -y 30
check "a resize in the graph: both graphs laid out again" \
	bash -c '[[ "$0" == "in "* && "$1" == "out"* ]]' "$(sleep 1.2; row 10)" "$(row 20)"
check "... the history drawn at the new right edge" \
	test -n "$(column 98 11 19 | tr -d ' ')"
tm resize-window -t "$SESSION" -x 80 -y 24
wait "$SENDER"

# 1000 bytes a second: 8000 in bits.
send 1 30 1000
sleep 3.5
check "1000 bytes a second: inbytes/s 1000" test "$(row 5 59 20)" = "inbytes/s: 1000"
keys u
check "u: inbits/s 8000 in the same place" within 0.5 test "$(row 5 60 19 | sed 's/ *$//')" = "inbits/s: 8000"
check "... the graph in bits" within 0.5 shows '^in   scale [0-9]+ [kM]?bit/s'
keys u
check "u again: bytes, 1000" within 0.5 test "$(row 5 59 20)" = "inbytes/s: 1000"

keys '?'
check "?: the keys" wait_for 'g +graph or tcpdump output'
before=$(row 3 12 24 | awk '{print $1}')
sleep 2.2
check "... while the figures count on under it" \
	test "$(row 3 12 24 | awk '{print $1}')" -gt "$before"
check "... and it closes by itself within 5 s" within 4 bash -c '! grep -q "these keys" <<< "$(tmux -S "$0" capture-pane -p -t "$1")"' "$T/tmux.sock" "$SESSION"
check "... the graph drawn again where it was" test -z "$(screen | grep '|')"

# Gaps, never spikes: a stop, and the interface deleted and made again.
kill -STOP "$RPID"; sleep 2; kill -CONT "$RPID"
sleep 2.2
check "stopped 2 s: a gap column" test "$(screen | sed -n 17p | grep -o ':' | wc -l)" -ge 1
n=$(screen | sed -n 17p | grep -o ':' | wc -l)
wait "$SENDER"
ip -n "$NS" link del vt0
sleep 2.2
make_vt0
no_ipv6 "$NS" vt0
quiet_far_end
send 100 4 1042
sleep 3.5
more=$(screen | sed -n 17p | grep -o ':' | wc -l)
check "vt0 deleted and made again: gap columns ($n, then $more)" test "$more" -ge $((n + 2))
check "... and no spike: the scale stays at the traffic's" \
	bash -c '[[ "$0" == "in   scale 200 kB/s"* ]]' "$(row 10)"
kill "$RPID"; wait_exit
finish
