#!/bin/bash
# What can be checked of the manual page and the service files off their
# target systems: the page renders without a warning, the rc.d script is
# valid shell, and systemd accepts the unit (run against the built binary).
SRC=$1
RAVLET=$2
PASSED=0
FAILED=0
T=$(mktemp -d /tmp/ravlet-dist.XXXXXX)
trap 'rm -rf "$T"' EXIT
ok() { PASSED=$((PASSED + 1)); echo "ok - $*"; }
bad() { FAILED=$((FAILED + 1)); echo "FAIL - $*"; }

if out=$(mandoc -T lint -W warning "$SRC/man/ravlet.8" 2>&1) && [ -z "$out" ]; then
	ok "the manual page renders without warnings"
else
	bad "the manual page: $out"
fi
for f in ravlet.in ravlet_lines.in ravlet_lines_reopen; do
	if sh -n "$SRC/dist/$f"; then ok "dist/$f is valid shell"; else bad "dist/$f"; fi
done
# rc.subr's conventions: name and rcvar, the configuration loaded before the
# defaults, the pidfile at the monitor's lock path, run_rc_command last.
rc=$SRC/dist/ravlet.in
if grep -q '^name="ravlet"$' "$rc" && grep -q '^rcvar="ravlet_enable"$' "$rc" &&
   [ "$(grep -n '^load_rc_config \$name$' "$rc" | cut -d: -f1)" -lt "$(grep -n '^: \${ravlet_enable:="NO"}$' "$rc" | cut -d: -f1)" ] &&
   grep -q '^pidfile="/var/run/ravlet-\${ravlet_interface}.pid"$' "$rc" &&
   grep -q '^command_args=.*-b -r \${ravlet_console} -t \${ravlet_term} -i \${ravlet_interface}' "$rc" &&
   [ "$(grep -v '^$' "$rc" | tail -1)" = 'run_rc_command "$1"' ]; then
	ok "the rc.d script follows rc.subr's conventions"
else
	bad "the rc.d script's variables"
fi
if command -v systemd-analyze > /dev/null; then
	for unit in ravlet@tty9 ravlet-lines@eth0; do
		sed "s|@SBINDIR@/ravlet|$RAVLET|" "$SRC/dist/${unit%@*}@.service.in" > "$T/$unit.service"
		# (its manual page is not installed here)
		if out=$(systemd-analyze verify --man=no "$T/$unit.service" 2>&1) && [ -z "$out" ]; then
			ok "systemd accepts the unit template ${unit%@*}@"
		else
			bad "systemd-analyze verify ${unit%@*}@: $out"
		fi
	done
else
	echo "# no systemd-analyze here: the unit is not checked"
fi
# The README's two set-up commands, in either order in one build folder:
# the test command always configures its tests, the run command never.
configure_part() { # the README command after the heading $1, its cmake -S part, into $2
	grep -A2 "^$1" "$SRC/README.md" | grep '^    apt-get' | tr '&' '\n' |
		grep '^ *cmake -S \. -B build ' | sed -e 's/^ *//' -e "s| -B build | -B $2 |"
}
run_cfg=$(configure_part "Build and run ravlet" "$T/b")
test_cfg=$(configure_part "Build and run the whole test suite" "$T/b")
tests_in() { ctest --test-dir "$T/b" -N 2>/dev/null | sed -n 's/^Total Tests: //p'; }
if [ -n "$run_cfg" ] && [ -n "$test_cfg" ] &&
   (cd "$SRC" && eval "$run_cfg" && eval "$test_cfg") > /dev/null 2>&1 && [ "$(tests_in)" -gt 0 ] &&
   (cd "$SRC" && eval "$run_cfg") > /dev/null 2>&1 && grep -q '^RAVLET_TESTS:BOOL=OFF$' "$T/b/CMakeCache.txt"; then
	ok "the README's run and test commands configure what they say, in either order"
else
	bad "the README's commands: run '$run_cfg', test '$test_cfg'"
fi

echo "$PASSED passed, $FAILED failed"
[ "$FAILED" = 0 ]
