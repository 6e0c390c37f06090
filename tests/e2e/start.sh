#!/bin/bash
# Command line, refusals before anything is set up, and the exit on each of
# the six termination signals.
RAVLET=$1
. "$(dirname "$0")/lib.sh"
require_root

usage_text() {
	printf '\nravlet -b -e <expr> -i <if> -r <tty> -t <termtype> (V1.4)\n'
	printf '       -b        run in background [needs -r and -t]\n'
	printf '       -e <expr> tcpdump expression\n'
	printf '       -i <if>   monitor interface <if>, default lo\n'
	printf '       -r <tty>  redirect output to device <tty>\n'
	printf '       -t <term> terminal type for device <tty>\n'
	printf '       -o <fmt>  lines of figures instead of the screen, <fmt> text or json\n'
	printf '       -w <sec>  seconds per line with -o, 1 to 3600, default 1\n'
	printf '       -c <n>    end after <n> lines with -o\n'
	printf '       -u <unit> traffic in bytes or bits, default bytes\n'
	printf '       -g        start with the traffic graph\n'
	printf '       -d        start with the table of every counter\n'
	printf '       -a        with -o, lines for every interface; -i more than once: those\n'
}

# expect_exit STATUS EXPECTED-STDERR-FILE ARGS...
expect_exit() {
	local want=$1 errfile=$2 status
	shift 2
	"$@" > "$T/out" 2> "$T/err" < /dev/null
	status=$?
	[ "$status" = "$want" ] || { echo "# status $status, want $want"; return 1; }
	[ ! -s "$T/out" ] || { echo "# wrote to standard output"; return 1; }
	cmp -s "$T/err" "$errfile" || { diff "$errfile" "$T/err" | sed 's/^/# /'; return 1; }
}

{ printf "%s: invalid option -- 'x'\n" "$RAVLET"; usage_text; } > "$T/want"
check "unknown option: getopt's diagnostic, the usage text, status 1" \
	expect_exit 1 "$T/want" "$RAVLET" -x
{ printf "%s: option requires an argument -- 'i'\n" "$RAVLET"; usage_text; } > "$T/want"
check "missing option argument: diagnostic, usage text, status 1" \
	expect_exit 1 "$T/want" "$RAVLET" -b -i
usage_text > "$T/want"
check "an interface name with a slash is refused with the usage text" \
	expect_exit 1 "$T/want" "$RAVLET" -i ../../tmp/x
check "an interface name too long for the lock path and the title is refused" \
	expect_exit 1 "$T/want" "$RAVLET" -i "$(printf 'a%.0s' $(seq 600))"
for name in "" $'vt0\n' $'v\bt0' aaaaaaaaaaaaaaaa; do
	check "an interface name no interface can have ($(printf '%q' "$name")): the usage text" \
		expect_exit 1 "$T/want" "$RAVLET" -i "$name"
done
check "a filter expression that tcpdump would take for options: the usage text" \
	expect_exit 1 "$T/want" "$RAVLET" -e "-w$T/x.pcap"
check "... and nothing is written" test ! -e "$T/x.pcap"

# As nobody: the binary must be reachable, wherever the checkout lies.
cp "$RAVLET" "$T/ravlet"
chmod 755 "$T/ravlet"
nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$T/ravlet" "$@"; }
printf -- '-b option needs both -t and -r!\n' > "$T/want"
check "-b without -t, as nobody: the -b message comes before the superuser check" \
	expect_exit 1 "$T/want" nobody -b -r /dev/tty1
check "-t and -b without -r: the -b message" \
	expect_exit 1 "$T/want" nobody -t vt100 -b
printf 'You must be superuser (root) to run this program\n' > "$T/want"
check "not root: the superuser message, status 1" expect_exit 1 "$T/want" nobody
lock=/var/run/ravlet-rvt$$.pid
printf '12345' > "$lock"
touch -d '2001-01-01' "$lock"
check "not root in background mode: the superuser message" \
	expect_exit 1 "$T/want" nobody -b -r /dev/null -t vt100 -i "rvt$$"
check "... and the lock file is untouched" \
	test "$(cat "$lock")" = 12345 -a "$(stat -c %Y "$lock")" = "$(date -d 2001-01-01 +%s)"
rm -f "$lock"

net_up
for pair in HUP:1 INT:2 QUIT:3 TERM:15 USR1:10 USR2:12; do
	sig=${pair%:*}
	want=${pair#*:}
	start 80x24 -i vt0
	if ! wait_for 'ravlet \(1\.4\)'; then
		bad "SIG$sig: the screen came up"
		continue
	fi
	kill -s "$sig" "$RPID"
	wait_exit 5
	check "SIG$sig ends ravlet with status $want" test "$STATUS" = "$want"
	check "SIG$sig: the terminal is restored" restored
	check "SIG$sig: no capture process is left" ns_empty
done

# A burst of signals while the orderly exit runs: it runs once, with the first.
start 80x24 -i vt0
wait_for 'ravlet \(1\.4\)'
kill -s TERM "$RPID"; kill -s INT "$RPID"; kill -s HUP "$RPID"
wait_exit 5
check "three signals at once: one exit, with the first signal's status" test "$STATUS" = 15
check "... the terminal is restored" restored
finish
