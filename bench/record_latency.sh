#!/bin/sh
# How late the kernel writes the context-switch records that quorvex reads,
# against its own scheduler event (sched:sched_switch, written when the
# scheduler has picked the next thread): one trace of a token-passing
# workload with both, as root. Printed per kind, in nanoseconds: the 10th,
# 50th and 90th percentile of the delay from the sched_switch event to the
# switch-out record of the thread it switched out, and to the switch-in
# record of the thread it switched in; and the gap between a switch-out and
# the next thread's switch-in on one processor (what quorvex's hand-over
# rule sees).
#
# usage: sudo bench/record_latency.sh [BUILD_DIR [WORKLOAD...]]
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] || set -- tokens 2 500
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM
perf record -q -a -k CLOCK_MONOTONIC -e sched:sched_switch --switch-events -o "$tmp/perf.data" -- \
    sh -c 'echo $$ > "$0"; exec "$@"' "$tmp/pid" "$build/bench/quorvex-switch-load" "$@" >/dev/null
perf script -i "$tmp/perf.data" --ns -F pid,tid,cpu,time,event,trace --show-switch-events 2>/dev/null |
awk -v pid="$(cat "$tmp/pid")" '
function ns(s,  p) { p = index(s, "."); return substr(s, 1, p - 1) * 1e9 + substr(s, p + 1, 9) }
function field(key,  i) { for (i = 1; i <= NF; i++) if (index($i, key) == 1) return substr($i, length(key) + 1); return "" }
{
    split($1, ids, "/"); cpu = $2; gsub(/[][]/, "", cpu); t = ns($3)
    if ($4 == "sched:sched_switch:") {
        picked[cpu] = t; prevPid[cpu] = ids[1]; prev[cpu] = field("prev_pid="); next_[cpu] = field("next_pid=")
    } else if ($4 == "PERF_RECORD_SWITCH_CPU_WIDE" && ids[1] == pid) {
        if ($5 == "OUT") {
            if (prev[cpu] == ids[2]) print "1-switch-out-record-after-sched_switch", t - picked[cpu]
            lastout[cpu] = t
        } else {
            if (next_[cpu] == ids[2]) print "2-switch-in-record-after-sched_switch", t - picked[cpu]
            if ((cpu in lastout) && prevPid[cpu] == pid) print "3-hand-over-gap-out-to-in", t - lastout[cpu]
            delete lastout[cpu]
        }
    }
}' | sort -k1,1 -k2,2n | awk '
function show(  n) { n = count; if (n) printf "%-40s n=%-7d p10 %6d  median %6d  p90 %6d  (ns)\n", substr(kind, 3), n, v[int(n / 10) + 1], v[int(n / 2) + 1], v[int(9 * n / 10) + 1] }
$1 != kind { show(); kind = $1; count = 0 }
{ v[++count] = $2 }
END { show() }'
