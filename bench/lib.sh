# Shared by the bench scripts, after tests/e2e/lib.sh and with SECS set:
# CPU from /proc/PID/schedstat, system calls from strace -c.
cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
calls() { # calls PID: system calls a second, over SECS
	timeout -s INT "$SECS" strace -c -p "$1" -o "$T/strace.$1" 2>/dev/null
	awk -v s="$SECS" '$NF == "total" {printf "%.1f", $4 / s}' "$T/strace.$1"
}
# side_by_side LABEL NAME_A A_ARGS... -- NAME_B B_ARGS...: two monitors on
# terminals of SIZE (set it) at the same time, each started as start does
# with its arguments, the second from RAVLET_B if set; the second's CPU and
# calls a second over the first's.
side_by_side() {
	local label=$1 na=$2 nb a b a0 a1 b0 b1 ac bc args=()
	shift 2
	while [ "$1" != -- ]; do args+=("$1"); shift; done
	shift
	nb=$1
	shift
	start "$SIZE" "${args[@]}"
	a=$RPID
	SESSION=none
	RAVLET=${RAVLET_B:-$RAVLET} start "$SIZE" "$@"
	b=$RPID
	sleep 4
	a0=$(cpu_ns "$a"); b0=$(cpu_ns "$b")
	sleep "$SECS"
	a1=$(cpu_ns "$a"); b1=$(cpu_ns "$b")
	ac=$(calls "$a"); bc=$(calls "$b")
	awk -v l="$label" -v na="$na" -v nb="$nb" -v a=$(( (a1 - a0) / SECS )) -v b=$(( (b1 - b0) / SECS )) \
		-v ac="$ac" -v bc="$bc" 'BEGIN {
		printf "%-40s %s %6.1f us, %s calls; %s %6.1f us, %s calls; ratio %.2f\n",
		       l, na, a / 1000, ac, nb, b / 1000, bc, b / a }'
	kill "$a" "$b"
	wait_exit 5
}
