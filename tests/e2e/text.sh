#!/bin/bash
# Lines of figures (-o text, -o json): as a normal user, against the
# kernel's counters and known traffic, across steps of the wall clock and an
# interface made again, and every way it ends.
RAVLET=$1
. "$(dirname "$0")/lib.sh"
require_root
command -v python3 >/dev/null || skip "needs python3"
net_up
OUT=$T/out

# as_user ARGS...: ravlet as nobody in NS, its lines stamped with the
# monotonic time they arrived; sets STATUS
as_user() {
	ip netns exec "$NS" setpriv --reuid=nobody --regid=nogroup --clear-groups \
		"${WRAP[@]}" "$RAVLET" "$@" 2> "$T/err" | python3 -u -c '
import sys, time
for line in sys.stdin:
    sys.stdout.write("%.3f %s" % (time.monotonic(), line))' > "$OUT"
	STATUS=${PIPESTATUS[0]}
}
# field N of line K of the output (after the arrival stamp), as text mode has it
field() { sed -n "$1p" "$OUT" | awk -v n="$2" '{print $(n + 1)}'; }
FLOW=
flow() { # flow COUNT: pings of 1000 bytes (1042 on the wire) every 0.2 s from vt0's far end, after the last
	[ -n "$FLOW" ] && wait "$FLOW"
	ip netns exec "$NSB" ping -q -i 0.2 -s 1000 -c "$1" 10.77.0.1 > /dev/null 2>&1 &
	FLOW=$!
	OWN_PIDS+=($FLOW)
}

# Three lines a second apart; their sum is what the kernel counted meanwhile.
flow 40
sleep 0.5
before=$(ip netns exec "$NS" cat /sys/class/net/vt0/statistics/rx_bytes)
as_user -o json -i vt0 -c 3
after=$(ip netns exec "$NS" cat /sys/class/net/vt0/statistics/rx_bytes)
check "as nobody, -o json -c 3: status 0, three lines, nothing on standard error" \
	test "$STATUS" = 0 -a "$(wc -l < "$OUT")" = 3 -a ! -s "$T/err"
check "... each one a JSON object" \
	bash -c 'cut -d" " -f2- "$0" | while read -r l; do python3 -m json.tool <<< "$l" > /dev/null || exit 1; done' "$OUT"
sum=$(cut -d' ' -f2- "$OUT" | python3 -c '
import json, sys
print(round(sum(j["in_bytes_per_s"] * j["interval"] for j in map(json.loads, sys.stdin))))')
last=$(sed -n 3p "$OUT" | cut -d' ' -f2- | python3 -c 'import json, sys; print(json.load(sys.stdin)["in_bytes"])')
check "... whose in_bytes_per_s times interval add up to what the kernel counted ($sum of $((after - before)))" \
	test "$sum" -le $((after - before + 30)) -a "$sum" -ge $((after - before - 2 * 1042))
check "... and whose last counter is the kernel's ($last, $after)" \
	test "$last" -le "$after" -a "$last" -ge $((after - 1042))
spacing=$(awk 'NR > 1 { d = $1 - p; if (d < 0.9 || d > 1.1) bad = 1 } { p = $1 } END { print bad ? "uneven" : "even" }' "$OUT")
check "... a second apart" test "$spacing" = even
check "... and no lock file" test ! -e /var/run/ravlet-vt0.pid

# A short stop 0.45 s after a line, for 0.9 s: the late sample and the one
# after it are each over the time they covered, at the sender's steady rate.
udp_sink
short_stop() {
	wait "$FLOW"
	send 100 10 1042
	sleep 0.5
	ip netns exec "$NS" python3 -c '
import signal, subprocess, sys, time
p = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, text=True)
for n, line in enumerate(p.stdout):
    sys.stdout.write("%.3f %s" % (time.monotonic(), line))
    sys.stdout.flush()
    if n == 2:
        time.sleep(0.45); p.send_signal(signal.SIGSTOP)
        time.sleep(0.9); p.send_signal(signal.SIGCONT)
p.wait()' setpriv --reuid=nobody --regid=nogroup --clear-groups "$RAVLET" "$@" > "$OUT"
	wait "$SENDER"
}
short_stop -o json -i vt0 -c 7
rates=$(cut -d' ' -f2- "$OUT" | python3 -c '
import json, sys
print(" ".join("%d/%.3f" % (j["in_bytes_per_s"], j["interval"]) for j in map(json.loads, sys.stdin)))')
check "a 0.9 s stop 0.45 s after a line, -o json: 104200 bytes a second in every line ($rates)" \
	bash -c 'set -- $0; [ $# = 7 ] && for r; do [ "${r%/*}" -ge 98000 ] && [ "${r%/*}" -le 110000 ] || exit 1; done' "$rates"
apart=$(python3 -c '
import json, sys
prev = None
for l in open(sys.argv[1]):
    t, j = l.split(" ", 1)
    if prev is not None:
        print("%.2f/%.2f" % (float(t) - prev, json.loads(j)["interval"]))
    prev = float(t)' "$OUT" | tr '\n' ' ')
check "... each interval the time since the line before, one of them the 1.35 s the stop made (arrived/interval: $apart)" \
	bash -c 'long=0; for p in $0; do a=${p%/*} i=${p#*/}
		awk -v a="$a" -v i="$i" "BEGIN { exit !(a - i < 0.1 && i - a < 0.1) }" || exit 1
		awk -v i="$i" "BEGIN { exit !(i > 1.25 && i < 1.45) }" && long=1; done; [ $long = 1 ]' "$apart"
short_stop -o text -i vt0 -c 7
rates=$(awk 'NR > 1 { printf "%s ", $3 }' "$OUT")
check "... -o text: the same in every line ($rates)" \
	bash -c 'set -- $0; [ $# = 7 ] && for r; do [ "$r" -ge 98000 ] && [ "$r" -le 110000 ] || exit 1; done' "$rates"

# Five packets a second of 1042 bytes: -w 5 shows that rate.
flow 60
sleep 0.5
as_user -o text -i vt0 -w 5 -c 2
check "-o text -w 5 -c 2: a header and two lines" \
	test "$STATUS" = 0 -a "$(wc -l < "$OUT")" = 3 -a "$(field 1 1)" = time
check "... 5 packets and 5210 bytes a second ($(field 3 2), $(field 3 4))" \
	test "$(field 3 2)" -ge 4168 -a "$(field 3 2)" -le 6252 -a "$(field 3 4)" -ge 4 -a "$(field 3 4)" -le 6
check "... state and address" test "$(field 3 6) $(field 3 7)" = "up 10.77.0.1"
flow 20
sleep 0.5
as_user -o text -i vt0 -w 2 -c 1 -u bits
check "-u bits: the bytes times 8 ($(field 2 2))" \
	test "$(field 1 2)" = inbits/s -a "$(field 2 2)" -ge 33000 -a "$(field 2 2)" -le 50000

# Steps of the wall clock: the lines keep their spacing and their figures.
FT=$(ls /usr/lib/*/faketime/libfaketime.so.1 2>/dev/null | head -1)
[ -n "$FT" ] || skip "needs libfaketime (faketime)"
echo "+0" > "$T/offset"
WRAP=(env LD_PRELOAD="$FT" FAKETIME_TIMESTAMP_FILE="$T/offset" FAKETIME_NO_CACHE=1 DONT_FAKE_MONOTONIC=1
	ASAN_OPTIONS=verify_asan_link_order=0)
flow 40
( sleep 2.5; echo "-3600" > "$T/offset"; sleep 2; echo "+3600" > "$T/offset" ) &
OWN_PIDS+=($!)
as_user -o text -i vt0 -c 6
WRAP=()
spacing=$(awk 'NR > 2 { d = $1 - p; if (d < 0.9 || d > 1.1) bad = 1 } NR > 1 { p = $1 } END { print bad ? "uneven" : "even" }' "$OUT")
check "the wall clock an hour back, then forward: the lines still a second apart" test "$spacing" = even
back=$(( $(date -d "$(field 4 1)" +%s) - $(date -d "$(field 3 1)" +%s) ))
check "... the time column shows the step ($back s)" test "$back" -le -3590 -a "$back" -ge -3610
figs=$(for k in 2 3 4 5 6 7; do field "$k" 2; done | tr '\n' ' ')
check "... and every figure a few packets' worth ($figs)" \
	bash -c 'for f in $0; do [ "$f" -ge 2000 ] && [ "$f" -le 8500 ] || exit 1; done' "$figs"

# The interface deleted and made again: gone lines with no figures, then figures.
( sleep 2.5; ip -n "$NS" link del vt0; sleep 2; make_vt0 ) &
OWN_PIDS+=($!)
as_user -o text -i vt0 -c 8
states=$(for k in 2 3 4 5 6 7 8 9; do field "$k" 6; done | tr '\n' ' ')
check "vt0 deleted and made again: up, gone, then up ($states)" \
	bash -c '[[ "$0" =~ ^(up )+(gone )+(up )+$ ]]' "$states"
check "... the gone lines and the first after them without figures" \
	bash -c 'awk '\''$7 == "gone" || p == "gone" { if ($3 != "-" || $6 != "-") bad = 1 } { p = $7 }
		END { exit bad }'\'' "$0"' "$OUT"
check "... and the last line with figures again" test "$(field 9 2)" != - -a "$(field 9 7)" = 10.77.0.1

# How it ends: a signal at once with its number, a reader that went quietly.
ip netns exec "$NS" "$RAVLET" -o text -i vt0 > "$OUT" 2> "$T/err" &
pid=$!
sleep 2.2
kill -TERM "$pid"
wait "$pid"
STATUS=$?
check "SIGTERM: status 15, whole lines only" \
	test "$STATUS" = 15 -a "$(tail -c 1 "$OUT" | od -An -c | tr -d ' ')" = '\n'
ip netns exec "$NS" "$RAVLET" -o text -i vt0 2> "$T/err" | head -2 > /dev/null
check "a reader that went (| head -2): status 0, no message" \
	test "${PIPESTATUS[0]}" = 0 -a ! -s "$T/err"
ip netns exec "$NS" "$RAVLET" -o text -i vt0 -c 1 > /dev/full 2> "$T/err"
check "a full disk: status 1 and the reason" \
	bash -c '[ "$0" = 1 ] && grep -qx "ERROR, standard output: No space left on device" "$1"' "$?" "$T/err"

# Refused, each with its one line and status 1, nothing on standard output.
while read -r args; do
	# shellcheck disable=SC2086
	ip netns exec "$NS" "$RAVLET" $args > "$OUT" 2> "$T/err"
	check "refused: ravlet $args (status $?)" \
		bash -c '[ "$0" = 1 ] && [ ! -s "$1" ] && [ "$(wc -l < "$2")" = 1 ]' "$?" "$OUT" "$T/err"
done <<-ARGS
	-o text -w 0
	-o text -c 1x
	-w 5
	-o json -e icmp
	-o text -b -r /dev/tty1 -t vt220
ARGS
finish
