#!/bin/bash
# The capture pane: real tcpdump on a veth, and a scripted stand-in for the
# exact cases (bursts, half lines, an early end).
RAVLET=$1
SCRIPTED=$2
NOCAPTURE=$5
. "$(dirname "$0")/lib.sh"
require_root
net_up
command -v tcpdump >/dev/null || [ -x /usr/sbin/tcpdump ] || skip "needs tcpdump"

pane_all() { local p; for p in "$@"; do pane_has "$p" || return 1; done; }
# pane_within SECONDS PATTERN...: every pattern shows within SECONDS
pane_within() {
	local secs=$1
	shift
	within "$secs" pane_all "$@" && return 0
	pane | sed 's/^/# | /'
	return 1
}

start 80x24 -i vt0 -e "icmp or arp"
wait_for alpha
within 10 capture_listening
cap=$(child_of "$RPID")
check "the expression reaches tcpdump as one argument" \
	test "$(tr '\0' '|' < "/proc/$cap/cmdline")" = "tcpdump|-li|vt0|icmp or arp|"

ip netns exec "$NSB" ping -c 1 -W 1 10.77.0.1 > /dev/null 2>&1
check "a single ping: request and reply on the screen within a second" \
	pane_within 1 'ICMP echo request' 'ICMP echo reply'
check "lines lose the fraction of the second" \
	pane_has '^[0-9]{2}:[0-9]{2}:[0-9]{2} IP beta\.test > : ICMP echo request'
check "... and the monitored host's own name" bash -c '! grep -q alpha.test <<< "$0"' "$(pane)"
sleep 3
ip netns exec "$NSB" ping -c 1 -W 1 10.77.0.1 > /dev/null 2>&1
check "a second ping on a quiet link: shown at once as well" \
	pane_within 1 'ICMP echo request.*seq 1,' 'ICMP echo reply.*seq 1,.*$'
check "the pane fills from row 1 of the lower window" test -z "$(row 10)"

# The capture program ends: the monitor sleeps and goes on.
kill "$cap"
sleep 1
t0=$(ticks "$RPID")
b0=$(row 7 70 9)
ip netns exec "$NSB" ping -q -c 4 -i 0.5 10.77.0.1 > /dev/null 2>&1
t1=$(ticks "$RPID")
check "after tcpdump ended: still sampling" test "$(row 7 70 9)" != "$b0" -o "$(row 4 12 9 | tr -d ' ')" -gt 2
check "after tcpdump ended: no busy loop ($((t1 - t0)) ticks in 2 s)" test "$((t1 - t0))" -le 2
kill "$RPID"; wait_exit
check "... and it still ends on SIGTERM, status 15" test "$STATUS" = 15
check "... with the terminal restored" restored

start 80x24 -i vt0 -e "no such expression"
wait_for alpha
sleep 2
t0=$(ticks "$RPID")
sleep 2
t1=$(ticks "$RPID")
check "a rejected expression: one line of ours with tcpdump's own reason" \
	test "$(pane | grep -v '^$')" = "[tcpdump has ended: tcpdump: can't parse filter expression: syntax error]"
check "... and the monitor sleeps ($((t1 - t0)) ticks in 2 s)" test "$((t1 - t0))" -le 2
kill "$RPID"; wait_exit
check "... and ends on SIGTERM" test "$STATUS" = 15

start 80x24 -i vt0
wait_for alpha
sleep 1
check "the capture child runs in the namespace" test -n "$(child_of "$RPID")"
kill "$RPID"; wait_exit
check "after SIGTERM no capture process is left" ns_empty

# Exact output from the scripted stand-in.
RAVLET=$SCRIPTED
long="12:00:02.000000 IP long $(printf 'x%.0s' $(seq 200))"
cat > "$T/script1" <<SCRIPT
s 1500
w 12:00:00.123456 IP alpha.test.22 > beta.test.51000: Flags [P.] [tcp sum ok], length 52
w not a packet line
w 12:00:01.000000 IP one\n12:00:01.000001 IP two\n\tcontinuation
w $long
p 12:00:03.000000 IP half
s 5000
w  line, whole
SCRIPT
start 80x24 -i vt0 -e "$T/script1"
wait_for alpha
check "the host name and checksum remark are removed" \
	wait_for '^12:00:00 IP \.22 > beta\.test\.51000: Flags \[P\.\], length 52$'
check "lines without a time stamp are dropped; one write, two lines" \
	test "$(row 12)|$(row 13)" = "12:00:01 IP one|12:00:01 IP two"
check "a 200-character line is cut to 79 columns" \
	test "$(row 14)" = "${long:0:8}${long:15:71}"
before=$(row 4 12 9)
ip netns exec "$NSB" ping -q -c 3 -i 0.3 10.77.0.1 > /dev/null 2>&1
sleep 1.1
check "a half line does not hold up the statistics" test "$(row 4 12 9)" != "$before"
check "... nor is it shown before its end" test -z "$(row 15)"
check "... and appears whole once the rest arrives" wait_for '^12:00:03 IP half line, whole$' 4
kill "$RPID"; wait_exit

cat > "$T/script2" <<SCRIPT
b 500
s 300
w 12:00:09.000000 IP last one
x
SCRIPT
start 80x24 -i vt0 -e "$T/script2"
check "a burst: the newest line at the bottom" wait_for 'tcpdump has ended'
check "... the lines before it in order, then the end of the program" \
	test "$(row 20)|$(row 21)|$(row 22)|$(row 23)" = "12:00:00 IP burst line 499|12:00:00 IP burst line 500|12:00:09 IP last one|[tcpdump has ended]"
check "... each shown once" test "$(screen | grep -c 'burst line 500$')" = 1
sleep 1
t0=$(ticks "$RPID")
sleep 2
t1=$(ticks "$RPID")
check "the program ended early: the monitor sleeps ($((t1 - t0)) ticks in 2 s)" test "$((t1 - t0))" -le 2
keys C-c 2>/dev/null
kill "$RPID" 2>/dev/null; wait_exit
check "... and ends normally" test -n "$STATUS"

# Its last message when it fails, in its visible form and cut to the width;
# a program that is not there, named with the reason.
printf 'e tcpdump: listening on vt0\ne tcpdump: \033[2Jbad\tthing %s\nx 1\n' "$(printf 'y%.0s' $(seq 100))" > "$T/script4"
start 80x24 -i vt0 -e "$T/script4"
wait_for 'tcpdump has ended' 3
check "its last message: visible, cut to 79 columns" \
	test "$(pane | grep -v '^$')" = "[tcpdump has ended: tcpdump: ^[[2Jbad^Ithing $(printf 'y%.0s' $(seq 33))]"
kill "$RPID"; wait_exit
if locale -a 2>/dev/null | grep -qix 'C.utf-\?8'; then
	printf 'w 12:00:00.000000 IP evil\342\200\256gpj.exe\ne tcpdump: %s\nx 1\n' \
		"$(printf '\303\251%.0s' $(seq 100))" > "$T/script5"
	WRAP=(env LC_ALL=C.UTF-8)
	start 80x24 -i vt0 -e "$T/script5"
	WRAP=()
	wait_for 'tcpdump has ended' 3
	check "a message of multibyte text: cut by columns, its bracket kept" \
		test "$(pane | grep -v '^$' | tail -1)" = "[tcpdump has ended: tcpdump: $(printf '\303\251%.0s' $(seq 49))]"
	check "a right-to-left override in a line: shown as an escape" pane_has '^12:00:00 IP evil<U\+202E>gpj\.exe$'
	kill "$RPID"; wait_exit
fi
RAVLET=$NOCAPTURE start 80x24 -i vt0 -e icmp
wait_for 'could not be run' 3
note="[tcpdump could not be run: $(dirname "$NOCAPTURE")/no-such-tcpdump: No such file or directory]"
check "no program to run: named, with the reason (cut to the width)" \
	test "$(pane | grep -v '^$')" = "${note:0:79}"
kill "$RPID"; wait_exit

# Text that the network shapes: control characters, and a long line whose
# later pieces look like packet lines of their own.
forged=$(for i in $(seq 40); do printf '23:59:59.000000 IP 6.6.6.6 > alpha.probe: ICMP echo request, '; done)
printf 'w 12:00:05.000000 IP a\rb\bc\td\033[2J\nw 12:00:06.000000 IP GET /%s\nw 12:00:07.000000 IP after\n' \
	"$forged" > "$T/script3"
start 80x24 -i vt0 -e "$T/script3"
wait_for '12:00:07 IP after'
check "control characters are shown as ^M, ^H, ^I, ^[, on one row" \
	test "$(row 11)" = '12:00:05 IP a^Mb^Hc^Id^[[2J'
check "a long line: its first piece only, cut to the width, no forged lines" \
	test "$(row 12 0 16)|$(row 13)|$(screen | grep -c '23:59:59')" = "12:00:06 IP GET |12:00:07 IP after|1"
kill "$RPID"; wait_exit
finish
