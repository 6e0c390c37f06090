#!/bin/bash
# Lines of several interfaces (-o with -i more than once, or -a): three
# veths with their own known traffic, each line against the kernel's
# counters for its own interface; one deleted and made again meanwhile.
RAVLET=$1
. "$(dirname "$0")/lib.sh"
require_root
command -v python3 >/dev/null || skip "needs python3"
net_up
OUT=$T/out

# pair N: veth vaN in NS (10.77.N.1) and vbN in NSB (10.77.N.2), up, quiet
pair() {
	ip link add "va$1" netns "$NS" type veth peer name "vb$1" netns "$NSB"
	ip -n "$NS" addr add "10.77.$1.1/24" dev "va$1"
	ip -n "$NSB" addr add "10.77.$1.2/24" dev "vb$1"
	no_ipv6 "$NS" "va$1"
	no_ipv6 "$NSB" "vb$1"
	ip -n "$NS" link set "va$1" up
	ip -n "$NSB" link set "vb$1" up
	ip -n "$NSB" neigh replace "10.77.$1.1" dev "vb$1" nud permanent \
		lladdr "$(in_ns cat "/sys/class/net/va$1/address")"
}
for n in 1 2 3; do pair "$n"; done
# datagrams of 542 bytes on the wire: 10, 20 and 40 a second into va1, va2, va3
ip netns exec "$NSB" timeout 60 python3 -c '
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
t0 = time.monotonic()
for i in range(40 * 55):
    time.sleep(max(0, t0 + i / 40 - time.monotonic()))
    for n, every in ((1, 4), (2, 2), (3, 1)):
        if i % every == 0:
            try: s.sendto(b"x" * 500, ("10.77.%d.1" % n, 9))
            except OSError: pass' &
OWN_PIDS+=($!)
sleep 1

lines_at_least() { [ "$(wc -l < "$OUT")" -ge "$1" ]; }
rx() { in_ns cat "/sys/class/net/$1/statistics/rx_bytes"; }
ip netns exec "$NS" "$RAVLET" -o json -i va3 -i va1 -i va2 -c 4 > "$OUT" 2> "$T/err" &
RP=$!
OWN_PIDS+=($RP)
b1=$(rx va1) b2=$(rx va2) b3=$(rx va3)
wait "$RP"
STATUS=$?
a1=$(rx va1) a2=$(rx va2) a3=$(rx va3)
check "-c 4 with three -i: status 0, twelve lines, nothing on standard error" \
	test "$STATUS" = 0 -a "$(wc -l < "$OUT")" = 12 -a ! -s "$T/err"
# per interval: its names in order, one time; per interface: rates and counters
verdict=$(python3 - "$OUT" "$b1 $b2 $b3" "$a1 $a2 $a3" <<'PY'
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1])]
before = dict(zip(("va1", "va2", "va3"), map(int, sys.argv[2].split())))
after = dict(zip(("va1", "va2", "va3"), map(int, sys.argv[3].split())))
rate = {"va1": 5420, "va2": 10840, "va3": 21680}
bad = []
for k in range(0, 12, 3):
    group = lines[k:k + 3]
    if [j["interface"] for j in group] != ["va1", "va2", "va3"]:
        bad.append("order %s" % [j["interface"] for j in group])
    if len({j["time"] for j in group}) != 1:
        bad.append("times differ")
for name in rate:
    own = [j for j in lines if j["interface"] == name]
    for j in own[1:]:
        if not 0.8 * rate[name] <= j["in_bytes_per_s"] <= 1.2 * rate[name]:
            bad.append("%s at %s" % (name, j["in_bytes_per_s"]))
    if not before[name] - 542 <= own[0]["in_bytes"] and own[-1]["in_bytes"] <= after[name]:
        bad.append("%s counter %s..%s outside %s..%s" % (name, own[0]["in_bytes"], own[-1]["in_bytes"], before[name], after[name]))
    # the rates over the intervals add up to the counters' own difference
    moved = own[-1]["in_bytes"] - own[0]["in_bytes"]
    summed = sum(j["in_bytes_per_s"] * j["interval"] for j in own[1:])
    if abs(moved - summed) > 542:
        bad.append("%s summed %d moved %d" % (name, summed, moved))
print(" ".join(bad) or "good")
PY
)
check "... in name order, one time each interval, each at its own rate and counters ($verdict)" \
	test "$verdict" = good

# va2 deleted after the second line and made again after the fourth
ip netns exec "$NS" "$RAVLET" -o text -i va2 -i va1 -c 8 > "$OUT" 2> "$T/err" &
RP=$!
OWN_PIDS+=($RP)
within 5 lines_at_least 5
ip -n "$NS" link del va2
within 5 lines_at_least 9
pair 2
wait "$RP"
STATUS=$?
states=$(awk '$2 == "va2" { printf "%s%s ", $7, ($3 == "-" ? "-" : "") }' "$OUT")
va1=$(awk '$2 == "va1" { n++; if ($7 != "up") bad = 1 } END { print n, bad ? "broken" : "up" }' "$OUT")
check "text: a header and eight intervals of two ($(wc -l < "$OUT") lines)" \
	test "$STATUS" = 0 -a "$(wc -l < "$OUT")" = 17 -a "$(head -1 "$OUT" | awk '{print $2}')" = interface
check "... va2 gone while deleted, back with no rate at first ($states)" \
	bash -c '[[ "$0" =~ ^(up\ )+(gone-\ )+up-\ (up\ )*$ ]]' "$states"
check "... va1 up throughout ($va1)" test "$va1" = "8 up"

# -a: every interface of the namespace, one appearing later
ip netns exec "$NS" "$RAVLET" -o json -a -c 3 > "$OUT" 2> "$T/err" &
RP=$!
OWN_PIDS+=($RP)
within 5 lines_at_least 1
pair 4
wait "$RP"
names=$(python3 -c '
import json, sys
seen = {}
for l in open(sys.argv[1]):
    j = json.loads(l)
    seen.setdefault(j["time"], []).append(j["interface"])
print(" | ".join(" ".join(v) for v in seen.values()))' "$OUT")
expect=$(in_ns ls /sys/class/net | sort | tr '\n' ' ' | sed 's/ $//')
check "-a: every interface in name order, the new one in the last ($names)" \
	bash -c '[[ "$0" == *"| $1" ]]' "$names" "$expect"

finish
