#!/bin/bash
# The Debian package and its units under a real systemd: build the package,
# lintian, boot a throwaway Debian 12 root in a container, install the
# package there with apt, run ravlet@INSTANCE on a terminal of the container
# that no session holds, stop it, SIGKILL it and see it come back; run the
# lines of figures as ravlet-lines@IF into the journal, against known
# traffic, as a user of their own.  The container shares the host's network
# (apt reaches the archive): IF is a veth of ours there, with no address,
# its far end in a namespace of ours.
#   service.sh SOURCE-DIR RELEASE-TTY-BINARY
SRC=$(cd "$1" && pwd)
RELEASE=$2
set -u
PASSED=0
FAILED=0
T=$(mktemp -d /var/tmp/ravlet-service.XXXXXX)
ROOT=$T/root
NSPAWN=
NSB=ravlet-svcb$$
IF=rvl$$

cleanup() {
	if [ -n "$NSPAWN" ] && [ -d "/proc/$NSPAWN" ]; then
		kill -TERM "$NSPAWN" 2>/dev/null	# nspawn halts the container's systemd
		for _ in $(seq 100); do [ -d "/proc/$NSPAWN" ] || break; sleep 0.1; done
		kill -KILL "$NSPAWN" 2>/dev/null
		wait "$NSPAWN" 2>/dev/null
	fi
	[ -n "${PING:-}" ] && kill "$PING" 2>/dev/null
	ip link del "$IF" 2>/dev/null
	ip netns del "$NSB" 2>/dev/null
	rm -rf "$T"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

skip() {
	echo "SKIP: $*"
	[ "${CI:-}" = true ] && { echo "CI=true: the service test must not be skipped"; exit 1; }
	exit 77
}
ok() { PASSED=$((PASSED + 1)); echo "ok - $*"; }
# A failure says what was awaited and shows what the container had then.
bad() {
	FAILED=$((FAILED + 1))
	echo "FAIL - $1"
	shift
	[ $# -gt 0 ] && echo "# waited for: $*"
	[ -n "${UNIT:-}" ] || return
	echo "# the target terminal:"
	screen 2>&1 | sed 's/^/# | /'
	echo "# systemctl status and journal of $UNIT:"
	in_ct systemctl status --no-pager "$UNIT" 2>&1 | sed 's/^/# | /'
	in_ct journalctl -q --no-pager -n 20 -u "$UNIT" 2>&1 | sed 's/^/# | /'
	echo "# processes:"
	in_ct ps -eo pid,ppid,stat,args 2>&1 | sed 's/^/# | /'
}
check() { local what=$1; shift; if "$@"; then ok "$what"; else bad "$what" "$@"; fi; }
within() {
	local i n=$(awk "BEGIN { print int($1 * 10) }")
	shift
	for ((i = 0; i < n; i++)); do "$@" && return 0; sleep 0.1; done
	return 1
}

[ "$(id -u)" = 0 ] || skip "needs root"
for tool in dpkg-buildpackage lintian mmdebstrap systemd-nspawn nsenter; do
	command -v "$tool" > /dev/null || skip "needs $tool"
done

# The package, from the source as it stands.
mkdir "$T/src"
tar -C "$SRC" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$T/src" -xf -
(cd "$T/src" && dpkg-buildpackage -b -uc -us) > "$T/build.log" 2>&1
DEB=$(ls "$T"/ravlet_1.4-*_amd64.deb 2>/dev/null | head -1)
check "dpkg-buildpackage -b builds ravlet_1.4-*_amd64.deb" test -n "$DEB"
[ -n "$DEB" ] || { tail -30 "$T/build.log"; exit 1; }
lintian "$DEB" > "$T/lintian" 2>&1
check "lintian reports no errors ($(grep -c '^W:' "$T/lintian") warnings)" \
	bash -c '! grep -q "^E:" "$0"' "$T/lintian"
dpkg -c "$DEB" > "$T/contents"
check "... ravlet in /usr/sbin, the page and the unit templates in the package" \
	bash -c 'grep -q "/usr/sbin/ravlet$" "$0" && grep -q "man8/ravlet.8.gz$" "$0" &&
		grep -q "systemd/system/ravlet@.service$" "$0" &&
		grep -q "systemd/system/ravlet-lines@.service$" "$0"' "$T/contents"

# A Debian 12 root with systemd, booted in a container.
mmdebstrap --variant=apt --include=systemd,systemd-sysv,dbus,tmux,procps bookworm "$ROOT" \
	"deb http://deb.debian.org/debian bookworm main" > "$T/mmdebstrap.log" 2>&1 ||
	skip "cannot make a Debian root: $(tail -1 "$T/mmdebstrap.log")"
cp "$DEB" "$ROOT/root/"
cp "$RELEASE" "$ROOT/root/release_tty"
# IF, with no address and nothing of its own to send (no IPv6); its far
# end in NSB sends to IF's hardware address, which IF counts and drops
ip netns add "$NSB" || skip "cannot make network namespaces"
ip link add "$IF" type veth peer name far netns "$NSB"
echo 1 > "/proc/sys/net/ipv6/conf/$IF/disable_ipv6"
ip netns exec "$NSB" sh -c 'echo 1 > /proc/sys/net/ipv6/conf/far/disable_ipv6'
ip -n "$NSB" addr add 10.79.0.2/24 dev far
ip -n "$NSB" neigh replace 10.79.0.1 lladdr "$(cat "/sys/class/net/$IF/address")" dev far nud permanent
ip link set "$IF" up
ip -n "$NSB" link set far up
systemd-nspawn --register=no --keep-unit -q --console=passive -D "$ROOT" -b \
	> "$T/nspawn.log" 2>&1 < /dev/null &
NSPAWN=$!
init_pid() { cat "/proc/$NSPAWN/task/$NSPAWN/children" 2>/dev/null | awk '{print $1}'; }
has_init() { test -n "$(init_pid)"; }
within 60 has_init || skip "cannot boot a container: $(tail -3 "$T/nspawn.log")"
CPID=$(init_pid)
in_ct() { nsenter --target "$CPID" --all --root --wd -- env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }
booted() { case "$(in_ct systemctl is-system-running 2>/dev/null)" in running|degraded) return 0;; esac; return 1; }
within 180 booted || skip "the container's systemd did not come up: $(in_ct systemctl is-system-running 2>&1)"
ok "a Debian 12 root boots with systemd in a container"

in_ct apt-get update > "$T/apt.log" 2>&1
in_ct env DEBIAN_FRONTEND=noninteractive apt-get install -y "/root/$(basename "$DEB")" >> "$T/apt.log" 2>&1
check "apt-get install ./ravlet_*.deb installs it with its dependencies" \
	in_ct test -x /usr/sbin/ravlet -a -x /usr/bin/tcpdump -a -e /lib/systemd/system/ravlet@.service
[ "$FAILED" = 0 ] || { tail -20 "$T/apt.log"; exit 1; }

# A terminal that no session holds: a tmux pane whose process gives it up.
in_ct tmux new-session -d -s target -x 80 -y 24 /root/release_tty
PTS=$(in_ct tmux display -p -t target '#{pane_tty}')
INST=$(in_ct systemd-escape "${PTS#/dev/}")
UNIT="ravlet@$INST.service"
printf 'RAVLET_IF=lo\nRAVLET_EXPR=icmp\nTERM=screen\n' > "$ROOT/etc/default/ravlet-$INST"
screen() { in_ct tmux capture-pane -p -t target; }
shows() { screen | grep -qE -- "$1"; }
main_pid() { in_ct systemctl show -p MainPID --value "$UNIT"; }
lock_pid() { in_ct cat /run/ravlet-lo.pid 2>/dev/null; }
running() { # how many processes of the container have one of these names
	in_ct sh -c 'for p in /proc/[0-9]*; do cat "$p/comm" 2>/dev/null; done' | grep -cxE "$1"
}

in_ct systemctl start "$UNIT"
check "systemctl start $UNIT: the monitor's screen on $PTS" \
	within 30 shows 'ravlet \(1\.4\) -+ lo -'
check "... with the address of lo" within 15 shows 'addr: 127\.0\.0\.1'
PID=$(main_pid)
check "... systemctl status names the monitor as its main process ($PID)" \
	bash -c '[ "$0" -gt 0 ] && [ "$0" = "$1" ] && grep -q "Main PID: $0 (ravlet)" <<< "$2"' \
	"$PID" "$(lock_pid)" "$(in_ct systemctl status --no-pager "$UNIT" 2>&1)"
check "... and its tcpdump runs with the unit's expression" \
	bash -c 'grep -q "tcpdump -li lo icmp" <<< "$0"' "$(in_ct ps -o args= --ppid "$PID")"

t0=$(date +%s%N)
in_ct systemctl stop "$UNIT"
t1=$(date +%s%N)
state=$(in_ct systemctl is-active "$UNIT")
check "systemctl stop: the unit is $state within its stop time-out ($(( (t1 - t0) / 1000000 )) ms)" \
	test "$state" = inactive -a $(( (t1 - t0) / 1000000 )) -lt 10000
none_left() { test "$(running 'ravlet|tcpdump')" = 0; }
one_tcpdump() { test "$(running tcpdump)" = 1; }
check "... no ravlet or tcpdump is left" within 10 none_left
check "... the lock file is gone" within 5 in_ct test ! -e /run/ravlet-lo.pid
check "... and nothing needed SIGKILL" \
	bash -c '! grep -q SIGKILL <<< "$0"' "$(in_ct journalctl -q --no-pager -u "$UNIT")"
check "... the terminal is given back in its normal modes" \
	bash -c 'grep -qE "(^| )icanon( |$)" <<< "$0"' "$(in_ct stty -a -F "$PTS")"

in_ct systemctl start "$UNIT"
within 30 shows 'ravlet \(1\.4\)'
OLD=$(main_pid)
in_ct systemctl kill -s KILL "$UNIT"
restarted() { local p; p=$(main_pid); [ "$p" -gt 0 ] && [ "$p" != "$OLD" ] && [ "$(lock_pid)" = "$p" ]; }
check "systemctl kill -s KILL: the unit starts the monitor again after its delay" within 60 restarted
check "... on the same terminal" within 15 shows 'ravlet \(1\.4\) -+ lo -'
check "... with a fresh lock file naming it" test "$(lock_pid)" = "$(main_pid)"
check "... and one tcpdump, not two" within 10 one_tcpdump
in_ct systemctl stop "$UNIT"
check "... which stops as cleanly" within 10 none_left

# The lines of figures into the journal, a line a second by a drop-in.
UNIT=ravlet-lines@$IF.service
mkdir -p "$ROOT/etc/systemd/system/$UNIT.d"
printf '[Service]\nEnvironment=RAVLET_INTERVAL=1\n' > "$ROOT/etc/systemd/system/$UNIT.d/interval.conf"
in_ct systemctl daemon-reload
score=$(in_ct systemd-analyze security --no-pager "$UNIT" 2>&1 | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
check "systemd-analyze security $UNIT: exposure $score, at most 2.0" \
	awk -v s="$score" 'BEGIN { exit !(s != "" && s <= 2.0) }'
# datagrams of 1042 bytes on the wire, 5 a second, towards IF
ip netns exec "$NSB" timeout 120 python3 -c '
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
t0 = time.monotonic()
for i in range(500):
    time.sleep(max(0, t0 + i / 5 - time.monotonic()))
    s.sendto(b"x" * 1000, ("10.79.0.1", 9))' &
PING=$!
in_ct systemctl start "$UNIT"
lines() { in_ct journalctl -q --no-pager -u "$UNIT" -o cat | grep '^{'; }
six() { test "$(lines | wc -l)" -ge 6; }
check "systemctl start $UNIT: lines in its journal" within 30 six
PID=$(main_pid)
uid=$(in_ct awk '/^Uid:/ { print $2 }' "/proc/$PID/status")
check "... from a user that is not root (uid $uid)" bash -c '[ -n "$0" ] && [ "$0" != 0 ]' "$uid"
lines > "$T/lines"
kernel=$(cat "/sys/class/net/$IF/statistics/rx_bytes")
figs=$(python3 -c '
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1])]
assert all(r["interface"] == sys.argv[2] and r["state"] == "up" for r in rows)
print(" ".join(str(r["in_bytes_per_s"]) for r in rows[1:]), "last", rows[-1]["in_bytes"])' "$T/lines" "$IF")
check "... each a JSON object of $IF, 5210 bytes a second in ($figs; the kernel $kernel)" \
	bash -c 'set -- $0; last=; for f; do [ "$f" = last ] && break
		[ "$f" -ge 4168 ] && [ "$f" -le 6252 ] || exit 1; shift; done
		[ "$2" -le "$3" ] && [ "$2" -ge $(($3 - 2 * 5210)) ]' "$figs $kernel"
check "... under the identifier ravlet" \
	bash -c 'grep -q "ravlet\[[0-9]*\]: {" <<< "$0"' \
	"$(in_ct journalctl -q --no-pager -t ravlet -n 3 -o short)"
OLD=$(main_pid)
in_ct systemctl kill -s KILL "$UNIT"
again() { local p; p=$(main_pid); [ "$p" -gt 0 ] && [ "$p" != "$OLD" ]; }
check "a killed monitor is started again" within 30 again
in_ct systemctl stop "$UNIT"
state=$(in_ct systemctl is-active "$UNIT")
check "systemctl stop: the unit is $state, not failed" test "$state" = inactive
check "... and no ravlet is left" within 10 none_left

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" = 0 ]
