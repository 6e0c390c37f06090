#!/bin/bash
# Keys on the main screen and the command menu, typed into a real terminal.
RAVLET=$2	# the scripted capture build: a pane full of known lines
. "$(dirname "$0")/lib.sh"
require_root
net_up
printf 'b 14\n' > "$T/lines"

begin() {
	start 80x24 -i vt0 -e "$T/lines"
	wait_for 'burst line 14$'
	wait_for 'alpha\.test'
	PANE=$(screen | sed -n '11,24p')
}
pane_whole() { [ "$(screen | sed -n '11,24p')" = "$PANE" ]; }
menu_open() { [ "$(row 17 5 26)" = "| 1 - (D)isplay refresh  |" ]; }
menu_closed() { ! screen | grep -q 'isplay refresh'; }
# the highlighted entry is the one in standout
highlighted() { screen_e | sed -n "$(($1 + 1))p" | grep -qF $'\e[7m'"$2"; }
running() { sleep 0.3; [ ! -e "$RUN/status" ]; }
ended_with() { wait_exit 5 && [ "$STATUS" = "$1" ] && restored && ns_empty; }

begin
keys Enter
check "Enter opens the menu at row 15, column 5" wait_for '\| 2 - \(Q\)uit the program \|'
check "... with its frame and heading" \
	test "$(row 16 5 26)|$(row 20 6 24)" = "|                        ||------------------------"
check "... Command in standout over the top border" highlighted 15 'Command'
check "... entry 1 highlighted" highlighted 17 '1 - (D)isplay refresh'
sleep 4
check "it stays for 5 seconds" menu_open
check "... then closes by itself" within 2.5 menu_closed
check "... and the capture pane is whole again" pane_whole
check "... and ravlet runs on" running

keys Enter
wait_for 'isplay refresh'
keys Tab
check "Tab moves the highlight" highlighted 18 '2 - (Q)uit the program'
keys Tab
check "a second Tab moves it back" highlighted 17 '1 - (D)isplay refresh'
keys Enter
sleep 0.5
check "Enter on entry 1: the menu closes" menu_closed
check "... the pane is whole" pane_whole
check "... ravlet runs on" running

keys Enter
wait_for 'isplay refresh'
keys Escape
sleep 0.5
check "Escape closes the menu" menu_closed
keys Enter
wait_for 'isplay refresh'
keys F5
sleep 0.5
check "a function key in the menu: its Escape closes it, the rest is ignored" menu_closed
keys Up Down F1 PageUp
sleep 0.5
check "arrow and function keys on the main screen are ignored" running
check "... and leave the screen as it was" pane_whole
# none of the keys that switch a view or a unit (d, g, i, u)
keys 'pasta text, some terms on a row, a Tab	char as well'
sleep 0.5
check "a burst of typed text leaves the screen ungarbled" pane_whole
check "... and ravlet running" running

# Repaint: scribble on the terminal from outside, then control-L.
tty=$(tm display -p -t "$SESSION" '#{pane_tty}')
printf '\e[12;1HSCRIBBLE' > "$tty"
wait_for SCRIBBLE
keys C-l
sleep 0.5
check "control-L repaints the whole terminal" pane_whole
printf '\e[3;1HSCRIBBLE' > "$tty"
wait_for SCRIBBLE
keys Enter
wait_for 'isplay refresh'
keys d
sleep 0.5
check "d in the menu repaints the terminal and closes the menu" \
	bash -c '! grep -q SCRIBBLE <<< "$0"' "$(screen)"
check "... and the menu is gone" menu_closed

keys Enter
wait_for 'isplay refresh'
keys Tab Enter
check "Enter, Tab, Enter: status 0, terminal restored, no capture process" ended_with 0

begin
keys Enter
wait_for 'isplay refresh'
keys q
check "Enter, q: status 0" ended_with 0

begin
keys C-c
check "control-C on the main screen: a key, status 0" ended_with 0

begin
keys Enter
wait_for 'isplay refresh'
kill "$RPID"
check "SIGTERM while the menu is open: status 15, terminal restored" ended_with 15
finish
