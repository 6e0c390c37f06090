# Shared by the bench scripts, after tests/e2e/lib.sh and with SECS set:
# CPU from /proc/PID/schedstat, system calls from strace -c.
cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
calls() { # calls PID: system calls a second, over SECS
	timeout -s INT "$SECS" strace -c -p "$1" -o "$T/strace.$1" 2>/dev/null
	awk -v s="$SECS" '$NF == "total" {printf "%.1f", $4 / s}' "$T/strace.$1"
}
# measure LABEL NAME_A PID_A NAME_B PID_B: B's CPU and calls a second beside
# A's, both over the same SECS, after 4 s to settle
measure() {
	local a0 a1 b0 b1 ac bc
	sleep 4
	a0=$(cpu_ns "$3"); b0=$(cpu_ns "$5")
	sleep "$SECS"
	a1=$(cpu_ns "$3"); b1=$(cpu_ns "$5")
	ac=$(calls "$3"); bc=$(calls "$5")
	awk -v l="$1" -v na="$2" -v nb="$4" -v a=$(( (a1 - a0) / SECS )) -v b=$(( (b1 - b0) / SECS )) \
		-v ac="$ac" -v bc="$bc" 'BEGIN {
		printf "%-40s %s %6.1f us, %s calls; %s %6.1f us, %s calls; ratio %.2f\n",
		       l, na, a / 1000, ac, nb, b / 1000, bc, b / a }'
}
# side_by_side LABEL NAME_A A_ARGS... -- NAME_B B_ARGS...: two monitors on
# terminals of SIZE (set it) at the same time, each started as start does
# with its arguments, the second from RAVLET_B if set; the second's CPU and
# calls a second over the first's.
side_by_side() {
	local label=$1 na=$2 nb a args=()
	shift 2
	while [ "$1" != -- ]; do args+=("$1"); shift; done
	shift
	nb=$1
	shift
	start "$SIZE" "${args[@]}"
	a=$RPID
	SESSION=none
	RAVLET=${RAVLET_B:-$RAVLET} start "$SIZE" "$@"
	measure "$label" "$na" "$a" "$nb" "$RPID"
	kill "$a" "$RPID"
	wait_exit 5
}
