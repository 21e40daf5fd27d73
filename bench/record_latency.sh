#!/bin/sh
# How late the kernel writes the context-switch records that quorvex reads,
# against its own scheduler event (sched:sched_switch, written when the
# scheduler has picked the next thread), and what its clock charges beyond
# both: one trace of a workload with the switch events, the records and each
# charge of the clock (sched:sched_stat_runtime), as root. Printed per kind,
# in nanoseconds: the 10th, 50th and 90th percentile and the sum (ms) of
#  1-2  the delay from the sched_switch event to the switch-out record of the
#       thread it switched out, and to the switch-in record of the thread it
#       switched in;
#  3    the gap between a switch-out and the next thread's switch-in on one
#       processor (what quorvex's hand-over rule sees);
#  4-7  the clock's charge of each stretch of a thread on a processor minus
#       the stretch between its switch events, by what the processor ran
#       before it (after the idle loop or a thread of another program that
#       it preempted, the clock counts from the wake-up);
#  8    how long a thread still ran after its exit record.
#
# usage: sudo bench/record_latency.sh [BUILD_DIR [WORKLOAD...]]
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] || set -- tokens 2 500
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM
perf record -q -m 4096 -a -k CLOCK_MONOTONIC -e sched:sched_switch -e sched:sched_stat_runtime --switch-events \
    -o "$tmp/perf.data" -- sh -c 'echo $$ > "$0"; exec "$@"' "$tmp/pid" "$build/bench/quorvex-switch-load" "$@" >/dev/null
perf report -i "$tmp/perf.data" --stats 2>/dev/null | grep -i lost >&2 || true
perf script -i "$tmp/perf.data" --ns -F pid,tid,cpu,time,event,trace --show-switch-events --show-task-events 2>/dev/null |
awk -v pid="$(cat "$tmp/pid")" '
function ns(s,  p) { p = index(s, "."); return substr(s, 1, p - 1) * 1e9 + substr(s, p + 1, 9) }
function field(key,  i) { for (i = 1; i <= NF; i++) if (index($i, key) == 1) return substr($i, length(key) + 1); return "" }
{
    split($1, ids, "/"); cpu = $2; gsub(/[][]/, "", cpu); t = ns($3)
    if ($4 == "sched:sched_switch:") {
        picked[cpu] = t; prevPid[cpu] = ids[1]; prev[cpu] = field("prev_pid="); next_[cpu] = field("next_pid=")
        # The event is written in the context of the thread switched out.
        if ((prev[cpu] in since) && ids[1] == pid) print after[prev[cpu]], charged[prev[cpu]] - (t - since[prev[cpu]])
        delete since[prev[cpu]]
        if (prev[cpu] in exited) print "8-run-after-its-exit-record", t - exited[prev[cpu]]
        delete exited[prev[cpu]]
        if (next_[cpu] != 0) {
            since[next_[cpu]] = t; charged[next_[cpu]] = 0
            if (prev[cpu] == 0) after[next_[cpu]] = "6-charged-beyond-switches,after-idle"
            else if (ids[1] == pid) after[next_[cpu]] = "4-charged-beyond-switches,after-its-own-thread"
            else if (field("prev_state=") ~ /^R/) after[next_[cpu]] = "7-charged-beyond-switches,after-other-it-preempted"
            else after[next_[cpu]] = "5-charged-beyond-switches,after-other-that-blocked"
        }
    } else if ($4 == "sched:sched_stat_runtime:") {
        if (field("pid=") in since) charged[field("pid=")] += field("runtime=")
    } else if (index($4, "PERF_RECORD_EXIT") == 1 && ids[1] == pid) {
        exited[ids[2]] = t
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
function show(  n) {
    n = count
    if (n) printf "%-50s n=%-7d p10 %7d  median %7d  p90 %7d ns  sum %9.3f ms\n", substr(kind, 3), n,
                  v[int(n / 10) + 1], v[int(n / 2) + 1], v[int(9 * n / 10) + 1], sum / 1e6
}
$1 != kind { show(); kind = $1; count = 0; sum = 0 }
{ v[++count] = $2; sum += $2 }
END { show() }'
