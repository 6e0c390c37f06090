#!/bin/bash
# The FreeBSD rc.d script, filled in as an install fills it, run against a
# stand-in for rc.subr and a made-up /etc/ttys: a console with a getty is
# refused, one without is started, and a start that failed is reported.
RAVLET=$(realpath "$1")
RELEASE=$3
. "$(dirname "$0")/lib.sh"
require_root
net_up
IF=rc$$
ip -n "$NS" link add "$IF" type veth peer name "${IF}p"
ip -n "$NS" link set "$IF" up
LOCK=/var/run/ravlet-$IF.pid
trap 'rm -f "$LOCK"; cleanup' EXIT

# The script as an install writes it, reading the stand-in.
sed -e "s|@SBINDIR@|$(dirname "$RAVLET")|" -e "s|^\. /etc/rc.subr$|. $E2E_DIR/stub-rc.subr|" \
	"$E2E_DIR/../../dist/ravlet.in" > "$T/ravlet"
chmod 755 "$T/ravlet"

# A console (a tmux pane that gives its terminal up), named in the made-up ttys.
tmux_up
SESSION=console
tm new-session -d -s console -x 80 -y 24 "$RELEASE"
CONSOLE=$(tm display -p -t console '#{pane_tty}')
sleep 0.3
# ttys LINE-FLAGS: the console's line in the made-up /etc/ttys, among stock lines
ttys() {
	cat > "$T/ttys" <<-TTYS
	# name	getty				type	status		comments
	console	none				unknown	off secure
	ttyv0	"/usr/libexec/getty Pc"		xterm	onifexists secure
	${CONSOLE#/dev/}	"/usr/libexec/getty Pc"		xterm	$1	"kept on hold"
	ttyu0	"/usr/libexec/getty 3wire"	vt100	onifconsole secure
	TTYS
}
# rc ACTION [VAR=VALUE...]: the script as service(8) runs it, with an empty environment
rc() {
	local action=$1
	shift
	printf '%s\n' ravlet_enable=YES "ravlet_interface=$IF" "ravlet_console=$CONSOLE" \
		"ravlet_ttys=$T/ttys" "$@" > "$T/rc.conf"
	env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin RC_CONF="$T/rc.conf" \
		ip netns exec "$NS" "$T/ravlet" "$action" > "$T/out" 2>&1
}

for flags in "on secure" "onifexists secure" "onifconsole"; do
	ttys "$flags"
	rc start
	check "a console marked '$flags' in ttys: refused, status 1" \
		bash -c '[ "$0" = 1 ] && grep -q "has a getty" "$1" && ! grep -q "^Starting" "$1"' "$?" "$T/out"
done
check "... and nothing started" test ! -e "$LOCK"

ttys "off secure"
rc start
check "a console marked off: started, status 0" test "$?" = 0
check "... the monitor on that console" wait_for "ravlet \(1\.4\) -+ $IF -"
rc status
check "... status finds it by the lock file" grep -q "^ravlet is running as pid $(cat "$LOCK")\.$" "$T/out"
rc stop
check "... and stop ends it, lock file and all" test ! -e "$LOCK"

rc start ravlet_term=nonsense
check "a terminal type unknown there: its reason, and status 1" \
	bash -c '[ "$0" = 1 ] && grep -q "^ERROR, unknown terminal type nonsense, terminating!" "$1"' "$?" "$T/out"
rc start ravlet_console=/dev/nonexistent
check "a console that is not there: the reason, and status 1" \
	bash -c '[ "$0" = 1 ] && grep -q "^ERROR, cannot open redirected device" "$1"' "$?" "$T/out"
finish
