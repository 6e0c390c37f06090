# Shared by the end-to-end tests: a throwaway network, ravlet on a real
# terminal (tmux), and cleanup of everything made, also on failure.
#
# The test script sets RAVLET (the binary) and sources this file.

set -u
E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
RAVLET=${RAVLET:?RAVLET must name the binary under test}
T=$(mktemp -d /tmp/ravlet-e2e.XXXXXX)
chmod 755 "$T"
NS=rvt$$a		# where ravlet runs
NSB=rvt$$b		# the other end of the veth
PASSED=0
FAILED=0
OWN_PIDS=()		# processes we started outside tmux, ended by pid
WRAP=()			# a command to run ravlet under (valgrind, strace)

cleanup() {
	local pid
	for pid in "${OWN_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
	tm kill-server 2>/dev/null
	for ns in "$NS" "$NSB"; do
		if [ -e "/run/netns/$ns" ]; then
			# everything in our namespaces was started by this test
			for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
			ip netns delete "$ns" 2>/dev/null
		fi
		rm -rf "/etc/netns/$ns"
	done
	rm -rf "$T"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# A test that cannot run here is skipped, except under CI, where it always can.
skip() {
	echo "SKIP: $*"
	if [ "${CI:-}" = true ]; then
		echo "CI=true: an end-to-end test must not be skipped"
		exit 1
	fi
	exit 77
}

require_root() {
	[ "$(id -u)" = 0 ] || skip "needs root"
	command -v tmux >/dev/null || skip "needs tmux"
	command -v ip >/dev/null || skip "needs iproute2"
}

ok() { PASSED=$((PASSED + 1)); echo "ok - $*"; }
bad() { FAILED=$((FAILED + 1)); echo "FAIL - $*"; }
check() { # check DESCRIPTION COMMAND...
	local what=$1
	shift
	if "$@"; then ok "$what"; else bad "$what"; fi
}
finish() {
	echo "$PASSED passed, $FAILED failed"
	[ "$FAILED" = 0 ]
	exit $?
}

# The test network: NS with loopback, veth vt0 (10.77.0.1/24, broadcast
# 10.77.0.255) whose peer vt1 (10.77.0.2) lives in NSB, and tun tn0 with
# 10.78.0.1 peer 10.78.0.2.  Host names come from /etc/netns/NS/hosts.
net_up() {
	ip netns add "$NS" || skip "cannot make network namespaces"
	ip netns add "$NSB"
	ip -n "$NS" link set lo up
	ip -n "$NSB" link set lo up
	make_vt0
	if [ -c /dev/net/tun ]; then
		ip -n "$NS" tuntap add dev tn0 mode tun
		ip -n "$NS" addr add 10.78.0.1 peer 10.78.0.2 dev tn0
		ip -n "$NS" link set tn0 up
	fi
	mkdir -p "/etc/netns/$NS"
	cat > "/etc/netns/$NS/hosts" <<-HOSTS
	127.0.0.1 localhost
	10.77.0.1 alpha.test alpha
	10.77.0.2 beta.test beta
	10.78.0.1 tunnel.test
	10.77.0.5 delta.test
	HOSTS
}

# vt0 and its far end vt1, up; also to make them again after a test deleted them
make_vt0() {
	ip link add vt0 netns "$NS" type veth peer name vt1 netns "$NSB"
	ip -n "$NS" addr add 10.77.0.1/24 brd 10.77.0.255 dev vt0
	ip -n "$NSB" addr add 10.77.0.2/24 brd 10.77.0.255 dev vt1
	# The far end stays quiet on its own (no IPv6 router solicitations or
	# MLD reports), so what vt0 receives is what a test sends.
	no_ipv6 "$NSB" vt1
	ip -n "$NS" link set vt0 up
	ip -n "$NSB" link set vt1 up
}

# many_interfaces N: N bridges in NS, each with an IPv4 and an IPv6 address
many_interfaces() {
	local i
	for i in $(seq "$1"); do
		echo "link add br$i type bridge"
		echo "addr add 10.$((100 + i / 250)).$((i % 250)).1/24 dev br$i"
		echo "addr add fd00:$i::1/64 dev br$i"
	done > "$T/batch"
	ip -n "$NS" -batch "$T/batch"
}

# no_ipv6 NS IF: IF sends no IPv6 packets of its own (procps's sysctl may
# be missing on a bare machine; /proc/sys/net is the namespace's own)
no_ipv6() {
	ip netns exec "$1" sh -c "echo 1 > /proc/sys/net/ipv6/conf/$2/disable_ipv6" 2>/dev/null || true
}

# Traffic into vt0 and nothing out of it: datagrams for a socket that never
# reads them (no reply, no ICMP), the far end knowing vt0's address for good.
quiet_far_end() {
	ip -n "$NSB" neigh replace 10.77.0.1 lladdr "$(in_ns cat /sys/class/net/vt0/address)" dev vt1 nud permanent
}
udp_sink() {
	no_ipv6 "$NS" vt0
	quiet_far_end
	ip netns exec "$NS" timeout 200 python3 -c '
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", 9))
time.sleep(200)' &
	OWN_PIDS+=($!)
}
# send RATE SECONDS SIZE: RATE datagrams a second of SIZE bytes on the wire,
# on a steady schedule that catches up after a late wake-up
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

# in_ns COMMAND...: run in the monitor's namespace
in_ns() { ip netns exec "$NS" "$@"; }

# Our own tmux server, its socket inside $T so that it goes with it.
tm() { tmux -S "$T/tmux.sock" -f /dev/null "$@"; }
# A session that stays keeps the server up between runs: a server that is
# just exiting would refuse the next session.
tmux_up() {
	tm has-session -t keep 2>/dev/null || tm new-session -d -s keep "sleep 86400"
}

# start SIZE [--stderr-on-screen] ARGS...: ravlet ARGS in NS on a fresh
# tmux terminal of SIZE (COLSxLINES); sets RUN (its record folder) and RPID.
RUN_N=0
start() {
	local size=$1 cols lines opt=()
	shift
	cols=${size%x*}
	lines=${size#*x}
	if [ "${1:-}" = --stderr-on-screen ]; then opt=(--stderr-on-screen); shift; fi
	RUN_N=$((RUN_N + 1))
	RUN=$T/run$RUN_N
	mkdir -p "$RUN"
	tmux_up
	tm kill-session -t "$SESSION" 2>/dev/null
	SESSION=rv$RUN_N
	tm new-session -d -s "$SESSION" -x "$cols" -y "$lines" \
		"$E2E_DIR/pane.sh" "$RUN" "${opt[@]}" ip netns exec "$NS" "${WRAP[@]}" "$RAVLET" "$@"
	within 5 test -s "$RUN/pid"
	RPID=$(cat "$RUN/pid")
}

SESSION=none
screen() { tm capture-pane -p -t "$SESSION"; }
screen_e() { tm capture-pane -p -e -t "$SESSION"; }
keys() { tm send-keys -t "$SESSION" "$@"; }

# row N of the screen (from 0), or a part: row N [COL [LEN]]
row() {
	local line
	line=$(screen | sed -n "$(($1 + 1))p")
	if [ $# -ge 2 ]; then line=${line:$2:${3:-1000}}; fi
	printf '%s' "$line"
}

# figure_is ROW COL LEN OP VALUE: the figure there, read afresh at each call
# (within polls it), compares with test's OP; an empty field never does
figure_is() {
	local v
	v=$(row "$1" "$2" "$3" | tr -d ' ')
	[ -n "$v" ] && [ "$v" "$4" "$5" ]
}

# within SECONDS COMMAND...: until COMMAND succeeds, polled every 0.05 s
within() {
	local i n=$(awk "BEGIN { print int($1 * 20) }")
	shift
	for ((i = 0; i < n; i++)); do "$@" && return 0; sleep 0.05; done
	return 1
}

# wait_for PATTERN [SECONDS]: until the screen shows PATTERN (grep -E)
shows() { screen | grep -qE -- "$1"; }
wait_for() {
	within "${2:-5}" shows "$1" && return 0
	echo "# screen never showed: $1"
	screen | sed 's/^/# | /'
	return 1
}

# wait_exit [SECONDS]: until ravlet ended; sets STATUS (empty if it did not)
wait_exit() {
	STATUS=
	within "${1:-5}" test -s "$RUN/status" || return 1
	STATUS=$(cat "$RUN/status")
}

# The terminal after ravlet: echo and canonical input back on.
restored() {
	grep -qE '(^| )echo( |$)' "$RUN/stty" && grep -qE '(^| )icanon( |$)' "$RUN/stty"
}

# the lower window: rows 10 and below
pane() { screen | sed -n '11,$p'; }
pane_has() { pane | grep -qE -- "$1"; }

# ping_until PATTERN: a ping from vt0's far end every 0.2 s or so, for about
# 5 s at most, until the pane shows PATTERN.  A note in the pane says that
# tcpdump was started, not that it listens: on a cold machine its own start
# can outlast one ping.
ping_until() {
	local i
	for ((i = 0; i < 14; i++)); do
		ip netns exec "$NSB" ping -c 1 -W 0.2 10.77.0.1 > /dev/null 2>&1
		within 0.2 pane_has "$1" && return 0
	done
	echo "# the pane never showed: $1"
	pane | sed 's/^/# | /'
	return 1
}
# the capture child has opened the interface: Debian's tcpdump gives up
# root for its own user right after
capture_listening() {
	local c
	c=$(child_of "$RPID")
	[ -n "$c" ] && [ "$(stat -c %u "/proc/$c" 2>/dev/null)" != 0 ]
}
# ravlet's capture child; the CPU ticks a process has used
# (not ravlet's watcher, a copy of ravlet itself)
child_of() {
	local c
	for c in $(cat "/proc/$1/task/$1/children" 2>/dev/null); do
		[ "$(readlink "/proc/$c/exe")" != "$(readlink "/proc/$1/exe")" ] && echo "$c"
	done
}
# the monitors running in the namespace (not their watchers or zombies)
monitors() {
	local p exe
	exe=$(readlink -f "$RAVLET")
	for p in $(ip netns pids "$NS"); do
		[ "$(readlink "/proc/$p/exe")" = "$exe" ] || continue
		[ "$(readlink "/proc/$(awk '{print $4}' "/proc/$p/stat")/exe")" = "$exe" ] && continue
		grep -q '^State:.*Z' "/proc/$p/status" || echo "$p"
	done
}
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# No process is left in the monitor's namespace (the capture child above all).
ns_empty() { [ -z "$(ip netns pids "$NS")" ]; }
