# Shared by the bench scripts, after tests/e2e/lib.sh and with SECS set:
# CPU from /proc/PID/schedstat, system calls from strace -c.
cpu_ns() { awk '{print $1}' "/proc/$1/schedstat"; }
calls() { # calls PID: system calls a second, over SECS
	timeout -s INT "$SECS" strace -c -p "$1" -o "$T/strace.$1" 2>/dev/null
	awk -v s="$SECS" '$NF == "total" {printf "%.1f", $4 / s}' "$T/strace.$1"
}
