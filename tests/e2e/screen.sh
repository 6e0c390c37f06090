#!/bin/bash
# The statistics screen on real interfaces: layout, addresses, host names,
# counters against the kernel's, and the refusal of too small a terminal.
RAVLET=$1
. "$(dirname "$0")/lib.sh"
require_root
net_up

dashes() { printf -- '-%.0s' $(seq "$1"); }
kernel() { in_ns cat "/sys/class/net/$1/statistics/$2"; }

start 80x24 -i vt0
wait_for 'alpha\.test'
check "title line, filled with - to the width" \
	test "$(row 0)" = "----- ravlet (1.4) ---------------- vt0 -$(dashes 39)"
check "address at column 6, host name from /etc/hosts at column 22" \
	test "$(row 1 0 32)" = "addr: 10.77.0.1       alpha.test"
check "brc: at column 59, the broadcast address at column 64" \
	test "$(row 1 59)" = "brc: 10.77.0.255"
changed_row() { bash -c '[[ "$0" =~ ^chg:\ ([A-Z][a-z]{2}\ .{20}\ \(-?[0-9]+:-?[0-9]+:-?[0-9]+\)|last\ administrative\ change\ time\ unsupported\ by\ driver) ]]' "$(row 2)"; }
check "the change line, with the first figures" within 2 changed_row
check "counter labels" test "$(row 3 0 12)" = "  bytes in: "
check "hour and minute placeholders wait for their windows" \
	test "$(row 5 0 43)" = " inbytes/h: -                  inbytes/m: -"
check "capture title in row 9" test "$(row 9)" = "----- tcpdump output $(dashes 59)"
standout_rows() { screen_e | grep -n $'\e\[7m' | cut -d: -f1 | tr '\n' ' '; }
check "title bars in standout" test "$(standout_rows)" = "1 10 "

# Real traffic across the veth: 5 pings a second from the other end.
ip netns exec "$NSB" ping -q -i 0.2 10.77.0.1 > /dev/null 2>&1 &
OWN_PIDS+=($!)
sleep 3.5
pk=$(kernel vt0 rx_packets)
ps=$(row 4 12 12 | tr -d ' ')
check "packets in on the screen agree with the kernel within a second ($ps vs $pk)" \
	test "$ps" -le "$pk" -a "$((pk - ps))" -le 6
bk=$(kernel vt0 rx_bytes)
bs=$(row 3 12 24 | awk '{print $1}')
check "bytes in agree with the kernel ($bs vs $bk)" test "$((bk - bs))" -le 600 -a "$bs" -le "$bk"
rate=$(row 7 70 9 | tr -d ' ')
check "packets in per second show the rate ($rate)" test "$rate" -ge 3 -a "$rate" -le 7
before=$(row 7 70 9)$(row 4 12 12)
sleep 1.1
check "the figures are refreshed once a second" test "$before" != "$(row 7 70 9)$(row 4 12 12)"
kill "${OWN_PIDS[@]}"
OWN_PIDS=()
kill "$RPID"; wait_exit

start 132x30 -i tn0
wait_for 'tunnel\.test'
check "132 columns: the title runs to column 131" \
	test "$(row 0)" = "----- ravlet (1.4) ---------------- tn0 -$(dashes 91)"
check "132 columns: the capture title too" test "$(row 9)" = "----- tcpdump output $(dashes 111)"
check "point-to-point: dst: and the peer" test "$(row 1 59)" = "dst: 10.78.0.2"
kill "$RPID"; wait_exit

start 80x24 -i lo
wait_for '127\.0\.0\.1'
check "loopback: brc: label, nothing at column 64" test "$(row 1 59)" = "brc:"
check "loopback: localhost" test "$(row 1 0 31)" = "addr: 127.0.0.1       localhost"
kill "$RPID"; wait_exit

start 80x24 -i nosuch0
wait_for 'ravlet \(1\.4\)'
sleep 1.5
check "an unknown interface: a dash for its address, the template" \
	test "$(row 1)" = "addr: -$(printf '%52s')brc:"
check "... and the placeholders" test "$(row 5 70 3)" = "-"
kill "$RPID"; wait_exit
check "... and it still ends on a signal" test "$STATUS" = 15

# An administrative down and then up: the change time is the up's, and the
# down's (the change before it) stands at column 44, however the two
# announcements fall into samples.  Both within the seconds of the two
# commands.
start 80x24 -i vt0
wait_for 'alpha\.test'
sleep 1.5
first=$(row 2 5 24)
before=$(date +%s.%N)
ip -n "$NS" link set vt0 down
ip -n "$NS" link set vt0 up
after=$(date +%s.%N)
sleep 1.2
in_span() { # in_span TEXT: a change time shown, between the commands' seconds
	local t
	t=$(date -d "$1" +%s 2>/dev/null) || return 1
	[ "$t" -ge "${before%.*}" ] && [ "$t" -le "${after%.*}" ]
}
check "down and up: the new change time at column 5 ($(row 2 5 24), was $first)" \
	in_span "$(row 2 5 24)"
check "... and the down's at column 44 ($(row 2 44 24))" in_span "$(row 2 44 24)"
kill "$RPID"; wait_exit

# The address goes, another comes, the interface goes: figures stay, nothing ends.
start 80x24 -i vt0
wait_for 'alpha\.test'
within 2 figure_is 4 12 24 -ge 0
in0=$(row 4 12 24 | tr -d ' ')
ip -n "$NS" addr del 10.77.0.1/24 dev vt0
v6() { [[ "$(row 1)" =~ ^addr:\ fe80::[0-9a-f:]+\ +brc:$ ]]; }
check "address removed: its link-local IPv6 address at once, no host name, no broadcast" \
	within 0.5 v6
ip netns exec "$NSB" ping -q -c 2 -i 0.2 -W 0.3 10.77.0.1 > /dev/null 2>&1 # its ARP requests still arrive
check "... and the counters go on" within 3 figure_is 4 12 24 -gt "$in0"
ip -n "$NS" addr add 10.77.0.5/24 brd 10.77.0.255 dev vt0
check "a new address: shown with its host name" wait_for 'addr: 10\.77\.0\.5 +delta\.test'
ip -n "$NS" link del vt0
sleep 2
check "interface deleted: ravlet runs on" test ! -e "$RUN/status"
kill "$RPID"; wait_exit
check "... and ends on SIGTERM" test "$STATUS" = 15
make_vt0

# Indexes only grow: an interface made after others were deleted lies past
# a gap in the rows, and must still be found with its counters.
for i in 1 2 3 4 5; do ip -n "$NS" link add "gap$i" type veth peer name "gapp$i"; done
for i in 1 2 3 4 5; do ip -n "$NS" link delete "gap$i"; done
ip -n "$NS" link add vt9 type veth peer name vt9p
ip -n "$NS" addr add 10.79.0.1/24 brd 10.79.0.255 dev vt9
# Without IPv6, vt9 sends nothing on its own (router solicitations, MLD
# reports), so its packets-out figure settles at what ping sent.
no_ipv6 "$NS" vt9
ip -n "$NS" link set vt9p up
ip -n "$NS" link set vt9 up
in_ns ping -c 3 -i 0.2 -q 10.79.0.255 -b > /dev/null 2>&1
start 80x24 -i vt9
wait_for '10\.79\.0\.255'
same_tx() { test "$(row 4 53 12 | tr -d ' ')" = "$(kernel vt9 tx_packets)"; }
within 3 same_tx
check "an interface with a high index after deleted ones: found, with its counters ($(row 4 53 12 | tr -d ' ') vs $(kernel vt9 tx_packets))" \
	same_tx
kill "$RPID"; wait_exit

for size in 79x24 80x23; do
	start "$size" -i vt0
	wait_exit 5
	check "$size: refused with status 1" test "$STATUS" = 1
	check "$size: the exact message" \
		test "$(cat "$RUN/err")" = "ERROR, minimal screensize must be 80x24, is ${size}, terminating!"
	check "$size: the terminal is restored" restored
	check "$size: no capture process was started" ns_empty
done

start 79x24 --stderr-on-screen -i vt0
wait_exit 5
check "the message stays readable on the terminal" wait_for 'minimal screensize must be 80x24, is 79x24'

# A terminal without an alternate screen (the console's own type): the
# last picture stays, and the cursor ends at the start of a clean line
# below the last capture line; with one, the screen before comes back.
cursor_row() { tm display -p -t "$SESSION" '#{cursor_x} #{cursor_y}'; }
for term in linux screen; do
	WRAP=(env TERM=$term)
	start 80x24 -i vt0 -e icmp
	WRAP=()
	wait_for 'alpha\.test'
	ping_until 'ICMP echo request'
	ip netns exec "$NSB" ping -q -c 14 -i 0.01 10.77.0.1 > /dev/null 2>&1
	within 2 pane_has 'ICMP echo reply, id [0-9]+, seq 14'
	keys C-c
	wait_exit 5
	read -r x y <<< "$(cursor_row)"
	if [ "$term" = linux ]; then
		check "TERM=linux, quit: the cursor at the start of a clean line ($x $y)" \
			test "$x" = 0 -a -z "$(row "$y")"
		check "... below the last capture line" bash -c '[[ "$0" == *"seq 14"* ]]' "$(row $((y - 1)))"
	else
		check "TERM=screen, quit: the screen before comes back" test -z "$(screen | tr -d ' \n')"
	fi
done

# GNU screen as it comes (altscreen off) takes the alternate-screen strings
# and does not switch: the shell still gets a clean line.
[ -x /usr/bin/screen ] || skip "needs GNU screen"
printf 'autodetach off\n' > "$T/screenrc"
RUN_N=$((RUN_N + 1))
RUN=$T/run$RUN_N
mkdir -p "$RUN"
SESSION=gnu
tm new-session -d -s gnu -x 80 -y 24 env -u TMUX SYSSCREENRC=/dev/null SCREENDIR="$T/screens" \
	/usr/bin/screen -q -c "$T/screenrc" "$E2E_DIR/pane.sh" "$RUN" ip netns exec "$NS" "$RAVLET" -i vt0 -e icmp
OWN_PIDS+=("$(tm display -p -t gnu '#{pane_pid}')")
within 5 test -s "$RUN/pid"
wait_for 'alpha\.test'
ping_until 'ICMP echo request'
ip netns exec "$NSB" ping -q -c 14 -i 0.01 10.77.0.1 > /dev/null 2>&1
within 2 pane_has 'ICMP echo reply, id [0-9]+, seq 14'
keys C-c
wait_exit 5
read -r x y <<< "$(cursor_row)"
check "in GNU screen, quit: the cursor at the start of a clean line ($x $y)" \
	test "$x" = 0 -a -z "$(row "$y")"
check "... below the last capture line" bash -c '[[ "$0" == *"seq 14"* ]]' "$(row $((y - 1)))"
finish
