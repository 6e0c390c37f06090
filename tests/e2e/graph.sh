#!/bin/bash
# The keys beyond the menu, against known traffic: the graph (g), bits (u),
# the keys' window (?), and the gaps a stop or an interface made again leave.
RAVLET=$1
. "$(dirname "$0")/lib.sh"
require_root
command -v python3 >/dev/null || skip "needs python3"
locale -a 2>/dev/null | grep -qix 'C.utf-\?8' || skip "needs the C.UTF-8 locale"
net_up

udp_sink
# column COL of rows FROM..TO, top to bottom (characters, not bytes)
column() {
	screen | python3 -c '
import sys
rows = sys.stdin.read().split("\n")
c, a, b = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
print("".join((rows[r] + " " * 3000)[c] for r in range(a, b + 1)))' "$@"
}
# the heights in eighths of the in graph's bars (rows 11..16 at 80x24) in
# columns FROM..TO, ":" for a gap
heights() {
	screen | python3 -c '
import sys
rows = sys.stdin.read().split("\n")
a, b = int(sys.argv[1]), int(sys.argv[2])
step = {" ": 0, "\u2588": 8, **{chr(0x2580 + i): i for i in range(1, 8)}}
for c in range(a, b + 1):
    cells = [(rows[r] + " " * 200)[c] for r in range(11, 17)]
    print(":" if ":" in cells else sum(step.get(x, 99) for x in cells), end=" ")' "$@"
}
# every bar of them within one eighth of H, and at least MIN bars
near() { # near H MIN HEIGHTS...
	local h=$1 min=$2 bars=0 v
	shift 2
	for v; do
		[ "$v" = : ] && continue
		[ "$v" -ge $((h - 1)) ] && [ "$v" -le $((h + 1)) ] || return 1
		bars=$((bars + 1))
	done
	[ "$bars" -ge "$min" ]
}
out_flat() { [ -z "$(screen | sed -n '19,24p' | tr -d ' ')" ]; }
gaps() { column "$1" 11 16 | grep -c ':'; screen | sed -n 17p | grep -o ':' | wc -l; }

WRAP=(env LC_ALL=C.UTF-8)
start 80x24 -i vt0 -e udp
wait_for 'alpha\.test'
check "without a key, the lower part is the tcpdump pane" test "$(row 9 0 22)" = "----- tcpdump output -"
send 100 60 1042
sleep 1
keys g
check "g: the graph, its title naming the key back" wait_for '^----- traffic graph \(g: tcpdump output\) -'
# Stops of 0.35 s, each at another point of the second: a sample they make
# late covers more than a second, and is shown as what it makes a second.
sleep 3
figs=
for run in 0.4 0.9 0.55 1.05 0.7 0.45 0.85 0.6; do
	kill -STOP "$RPID"; sleep 0.35; kill -CONT "$RPID"; sleep "$run"
	figs+="$(row 5 70 9) "
done
sleep 0.3
check "short stops: inbytes/s 104200 a second throughout ($figs)" \
	bash -c 'set -- $0; [ $# = 8 ] && for f; do [ "$f" -ge 98000 ] && [ "$f" -le 110000 ] || exit 1; done' "$figs"
check "100 datagrams of 1042 bytes a second: scale 200 kB/s" \
	bash -c '[[ "$0" == "in   scale 200 kB/s"* ]]' "$(row 10)"
h=$(heights 69 78)
check "... the last 10 columns of the in graph 25 of 48 eighths high, give or take one ($h)" near 25 6 $h
c=$(column 75 11 16)
check "... drawn in eighths: three cells and an eighth, or a step from it ($c)" \
	test "$c" = "  ▁███" -o "$c" = "   ███" -o "$c" = "  ▂███"
check "... and the out graph flat" out_flat
keys g
check "g again: the pane, with the newest capture lines" wait_for 'UDP, length 1000$'
check "... at its bottom" bash -c '[[ "$0" == *"UDP, length 1000" ]]' "$(row 23)"
keys g
tm resize-window -t "$SESSION" -x 100 -y 30
check "a resize in the graph: both graphs laid out again" \
	bash -c '[[ "$0" == "in "* && "$1" == "out"* ]]' "$(sleep 1.2; row 10)" "$(row 20)"
# a bar in column COL of the in graph at 30 lines, read afresh at each try
bar_at() { [[ "$(column "$1" 11 19)" == *█* ]]; }
check "... the history drawn at the new right edge" within 3 bar_at 98
tm resize-window -t "$SESSION" -x 2100 -y 30
check "2100 columns: the newest bars at the right edge" within 3 bar_at 2098
tm resize-window -t "$SESSION" -x 80 -y 24
kill "$SENDER"; wait "$SENDER"

# 1000 bytes a second: 8000 in bits.  A second's reads a little more or
# less than a second apart (a loaded machine) hold the one datagram all
# the same: its figure may be 999 or 1001.
send 1 30 1000
sleep 3.5
# figure_near TEXT FROM COL WIDTH LOW HIGH: row 5 at COL reads TEXT and a number in LOW..HIGH
figure_near() {
	local r
	r=$(row 5 "$2" "$3" | sed 's/ *$//')
	[[ "$r" == "$1 "* ]] && [ "${r#"$1 "}" -ge "$4" ] && [ "${r#"$1 "}" -le "$5" ]
}
check "1000 bytes a second: inbytes/s 1000 ($(row 5 59 20))" figure_near inbytes/s: 59 20 990 1010
keys u
check "u: inbits/s 8000 in the same place" within 0.5 figure_near inbits/s: 60 19 7920 8080
check "... the graph in bits" within 0.5 shows '^in   scale [0-9]+ [kM]?bit/s'
keys u
check "u again: bytes, 1000" within 0.5 figure_near inbytes/s: 59 20 990 1010

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
