#!/bin/bash
# What reaches the screen: names a name service shapes, figures that shrink,
# and a terminal that changes its size.
RAVLET=$1
. "$(dirname "$0")/lib.sh"
require_root
net_up
command -v tcpdump >/dev/null || [ -x /usr/sbin/tcpdump ] || skip "needs tcpdump"

labels_whole() { # the template's labels stand where they belong
	[ "$(row 1 0 5)" = "addr:" ] && [ "$(row 1 59 4)" = "brc:" ] &&
	[ "$(row 2 0 4)" = "chg:" ] && [ "$(row 3 0 12)" = "  bytes in: " ] &&
	[ "$(row 3 42 10)" = "bytes out:" ] && [ "$(row 4 40 12)" = "packets out:" ] &&
	[ "$(row 8 0 12)" = " outpkts/h: " ] && [[ "$(row 9)" == "----- tcpdump output ---"* ]]
}
pane_stamped() { # every line of the pane is a capture line, or empty
	! pane | grep -vqE '^([0-9]{2}:[0-9]{2}:[0-9]{2} |$)'
}

# Host names with control characters and of 200 characters.
ip link add hb0 netns "$NS" type veth peer name hb1 netns "$NSB"
ip -n "$NS" addr add 10.82.0.1/24 brd 10.82.0.255 dev hb0
ip -n "$NSB" addr add 10.82.0.2/24 dev hb1
ip -n "$NS" link add hl0 type veth peer name hl1
ip -n "$NS" addr add 10.83.0.1/24 brd 10.83.0.255 dev hl0
for i in hb0 hl0 hl1; do no_ipv6 "$NS" "$i"; ip -n "$NS" link set "$i" up; done
no_ipv6 "$NSB" hb1
ip -n "$NSB" link set hb1 up
long=$(printf 'n%.0s' $(seq 190)).example
printf '10.82.0.1 evil\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b\b99:99:99\rforged\n10.83.0.1 %s\n' "$long" \
	>> "/etc/netns/$NS/hosts"

start 80x24 -i hb0 -e icmp
wait_for 'brc: 10\.82\.0\.255'
check "a host name with backspaces and a carriage return: shown as ^H and ^M" \
	test "$(row 1 22 10)" = "evil^H^H^H"
check "... no label of the upper window disturbed" labels_whole
ip netns exec "$NSB" ping -c 2 -i 0.3 10.82.0.1 > /dev/null 2>&1
sleep 1
check "... capture lines keep their time stamps" pane_stamped
kill "$RPID"; wait_exit

start 80x24 -i hl0 -e icmp
wait_for 'brc: 10\.83\.0\.255'
check "a 200-character host name runs on only to column 58" test "$(row 1 22 37)" = "${long:0:37}"
check "... no label disturbed" labels_whole
check "... the title bars whole" test "$(row 0 0 18)|$(row 9 0 20)" = "----- ravlet (1.4)|----- tcpdump output"
kill "$RPID"; wait_exit

# Counters that restart with a re-created interface leave no stale digits.
start 80x24 -i vt0 -e icmp
wait_for 'alpha\.test'
ip netns exec "$NSB" ping -q -c 150 -i 0.002 10.77.0.1 > /dev/null 2>&1
within 3 figure_is 4 12 24 -ge 150
ip -n "$NS" link del vt0
make_vt0
ip netns exec "$NSB" ping -q -c 3 -i 0.2 10.77.0.1 > /dev/null 2>&1
small() { [[ "$(row 4 12 24)" =~ ^[0-9]{1,2}\ +$ ]] && [[ "$(row 4 53 24)" =~ ^[0-9]{1,2}\ *$ ]]; }
within 4 small
check "re-created interface: the packet figures restart with nothing of the old ones ($(row 4))" small
kill "$RPID"; wait_exit

# The terminal changes its size.
start 80x24 -i vt0 -e icmp
wait_for 'alpha\.test'
tm resize-window -t "$SESSION" -x 60 -y 15
check "60x15: one line says how large it is and must be" \
	wait_for '^ravlet needs at least 80x24, the terminal is 60x15$'
check "... and nothing else is on the screen" test "$(screen | grep -c .)" = 1
tm resize-window -t "$SESSION" -x 80 -y 24
check "back to 80x24: the template whole again" within 3 labels_whole
check "... the figures back within 2 s" wait_for 'addr: 10\.77\.0\.1 +alpha\.test +brc: 10\.77\.0\.255' 2
check "... title filled to the width" test "$(row 0 | wc -c)" = 80
tm resize-window -t "$SESSION" -x 132 -y 40
wide() { [ "$(row 0 | wc -c)" = 132 ]; }
within 3 wide
check "132x40: the title runs to column 131 ($(row 0 | wc -c))" wide
check "... the capture title too" test "$(row 9 | wc -c)" = 132
check "... the labels whole, the figures back" wait_for 'addr: 10\.77\.0\.1 +alpha\.test +brc: 10\.77\.0\.255' 2
check "... and capture lines fill the larger pane" ping_until 'ICMP echo reply'
check "... still running" test ! -e "$RUN/status"
kill "$RPID"; wait_exit
check "... and it ends as ever" test "$STATUS" = 15
finish
