#!/bin/bash
# The one wait: a name server that never answers holds up neither figures,
# capture lines nor keys; a stopped look-up is given up; samples stay one
# second apart whatever wakes the loop.
RAVLET=$1
SCRIPTED=$2
. "$(dirname "$0")/lib.sh"
require_root
command -v python3 >/dev/null || skip "needs python3"
command -v tcpdump >/dev/null || [ -x /usr/sbin/tcpdump ] || skip "needs tcpdump"
net_up

# rs0 (10.81.0.1, no hosts entry) and a name server at 10.81.0.99 across it
# that takes every query and answers none.
ip -n "$NS" link add rs0 type veth peer name rs1 netns "$NSB"
ip -n "$NS" addr add 10.81.0.1/24 dev rs0
ip -n "$NSB" addr add 10.81.0.99/24 dev rs1
ip -n "$NS" link set rs0 up
ip -n "$NSB" link set rs1 up
printf 'nameserver 10.81.0.99\noptions timeout:10 attempts:2\n' > "/etc/netns/$NS/resolv.conf"
ip netns exec "$NSB" timeout 200 python3 -c '
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("10.81.0.99", 53))
time.sleep(200)' &
OWN_PIDS+=($!)
bound() { ip netns exec "$NSB" ss -Hlun | grep -q '10\.81\.0\.99:53 '; }
within 5 bound || skip "the silent name server did not start"

# quit_now: control-C now; sets MS, how long until ravlet had ended, and STATUS
quit_now() {
	local t0
	t0=$(date +%s%N)
	keys C-c
	wait_exit 5
	MS=$(( ($(date +%s%N) - t0) / 1000000 ))
}

for ((i = 1; i <= 60; i++)); do
	printf 'w 12:00:%02d.000000 IP scripted line %d\ns 200\n' $((i % 60)) "$i"
done > "$T/lines"
RAVLET=$SCRIPTED start 80x24 -i rs0 -e "$T/lines"
check "a silent name server: the address at once" within 0.5 shows '^addr: 10\.81\.0\.1 '
check "... the figures within a second and a half" within 1.5 figure_is 3 12 24 -ge 0
check "... and capture lines go on meanwhile" within 3 pane_has 'scripted line 12$'
check "... while the name is still being asked" test -z "$(row 1 22 20 | tr -d ' ')"
quit_now
check "control-C during the look-up: ended in $MS ms, status 0" \
	test "$STATUS" = 0 -a "$MS" -lt 1000
check "... the look-up child is gone too" ns_empty

# A background start while the name is asked: the look-up child holds
# nothing of the starter's, which returns as soon as the monitor runs.
RELEASE=$3
trap 'rm -f /var/run/ravlet-rs0.pid; cleanup' EXIT
SESSION=tgt
tm new-session -d -s tgt -x 80 -y 24 "$RELEASE"
TTY=$(tm display -p -t tgt '#{pane_tty}')
sleep 0.3
t0=$(date +%s%N)
out=$(env -i PATH="$PATH" setsid -w ip netns exec "$NS" "$RAVLET" -b -r "$TTY" -t vt220 -i rs0 2>&1)
bstatus=$?
MS=$(( ($(date +%s%N) - t0) / 1000000 ))
check "a background start during a silent look-up: status 0 in $MS ms" \
	test "$bstatus" = 0 -a "$MS" -lt 2000 -a -z "$out"
bpid=$(cat /var/run/ravlet-rs0.pid 2>/dev/null)
[ -n "$bpid" ] && kill "$bpid"
within 3 test ! -e /var/run/ravlet-rs0.pid
tm kill-session -t tgt

# A look-up child that is stopped: given up after 10 s, the keys answer throughout.
start 80x24 -i rs0 -e icmp
wait_for '^addr: 10\.81\.0\.1 '
lookup=$(pgrep -P "$RPID" -x ravlet-lookup)
check "the look-up runs in a child of its own name" test -n "$lookup"
kill -STOP "$lookup"
sleep 1
keys Enter
check "a stopped look-up: the menu still opens at once" within 0.3 shows 'Command'
keys Escape
check "given up after 10 s: unknown hostname" wait_for 'addr: 10\.81\.0\.1 +unknown hostname' 12
check "... the child killed and reaped" test ! -e "/proc/$lookup"
quit_now
check "... and control-C ends ravlet in $MS ms" test "$STATUS" = 0 -a "$MS" -lt 1000

# Steady traffic, a packet every 0.98 s: each sample covers one second, so
# it shows one packet's bytes (1042), two only when two happen to fall
# into the same second (once in 49); a loop that restarted its second at
# every wake-up showed two in every other sample.
start 80x24 -i vt0 -e icmp
wait_for 'alpha\.test'
ip netns exec "$NSB" ping -q -i 0.98 -s 1000 -c 16 10.77.0.1 > /dev/null 2>&1 &
OWN_PIDS+=($!)
sleep 3
one=0 two=0 other=0
for ((i = 0; i < 48; i++)); do
	v=$(row 5 70 9 | tr -d ' ')
	if [ "$v" -ge 1000 ] 2>/dev/null && [ "$v" -lt 1300 ]; then one=$((one + 1))
	elif [ "$v" -ge 2000 ] 2>/dev/null && [ "$v" -lt 2300 ]; then two=$((two + 1))
	else other=$((other + 1)); fi
	sleep 0.25
done
check "packets every 0.98 s: inbytes/s one packet's worth ($one readings of one, $two of two, $other else)" \
	test "$two" -le 6 -a "$one" -ge 36

# Stopped for 5 s under a flow of 5 packets a second, then continued: the
# first /s covers one second, not the stop.
ip netns exec "$NSB" ping -q -i 0.2 -s 1000 -c 60 10.77.0.1 > /dev/null 2>&1 &
OWN_PIDS+=($!)
flow=$!
sleep 2
kill -STOP "$RPID"
sleep 5
kill -CONT "$RPID"
most=0
for ((i = 0; i < 10; i++)); do
	v=$(row 5 70 9 | tr -d ' ')
	[ "$v" -gt "$most" ] 2>/dev/null && most=$v
	sleep 0.2
done
check "stopped 5 s and continued: the first inbytes/s is one second's worth ($most)" \
	test "$most" -ge 3000 -a "$most" -lt 9000

# SIGCONT again and again, alone or after short stops (a CPU limiter): the
# figures go on moving (from 0: no traffic before the first of them).
wait "$flow"
sleep 1.5
ip netns exec "$NSB" ping -q -i 0.2 -s 1000 -c 30 10.77.0.1 > /dev/null 2>&1 &
OWN_PIDS+=($!)
most=0
for ((i = 0; i < 20; i++)); do
	if ((i % 2)); then kill -STOP "$RPID"; sleep 0.1; fi
	kill -CONT "$RPID"
	sleep 0.2
	v=$(row 5 70 9 | tr -d ' ')
	[ "$v" -gt "$most" ] 2>/dev/null && most=$v
done
check "SIGCONT every 0.3 s, with and without a stop: inbytes/s still moves ($most)" \
	test "$most" -ge 3000 -a "$most" -lt 9000

# Stopped 1 s and run 0.6 s, again and again (a debugger, a job-control
# script): each continue takes the sample it held up.
bytes_in() { row 3 12 24 | awk '{print $1}'; }
ip netns exec "$NSB" ping -q -i 0.2 -s 1000 -c 100 10.77.0.1 > /dev/null 2>&1 &
OWN_PIDS+=($!)
sleep 1.5
before=$(bytes_in)
for ((i = 0; i < 12; i++)); do
	kill -STOP "$RPID"; sleep 1; kill -CONT "$RPID"; sleep 0.6
done
after=$(bytes_in)
check "stopped 1 s and run 0.6 s, 12 times: bytes in still counts ($before, then $after)" \
	test "$after" -gt $((before + 40000))
kill "$RPID"; wait_exit
finish
