#!/bin/sh
# Where the kernel's own clock of a workload's threads (what time(1) and
# /proc/<tid>/schedstat report) differs from their stretches on a processor
# as the scheduler's own switch events bracket them: one trace with
# sched:sched_switch, sched:sched_stat_runtime (each charge of the clock)
# and the switch records, as root. Printed per stretch, grouped by what the
# processor ran before it: the clock's charge minus the stretch (ns; the
# 10th, 50th and 90th percentile, and the sum in ms). Then how long each
# thread still ran after its exit record, when the records of a thread end
# while the kernel goes on charging it until its last switch.
#
# usage: sudo bench/kernel_charge.sh [BUILD_DIR [WORKLOAD...]]
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
[ $# -gt 0 ] || set -- convoy 4 1000
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
    split($1, ids, "/"); t = ns($3)
    if ($4 == "sched:sched_switch:") {
        prev = field("prev_pid="); next_ = field("next_pid="); state = field("prev_state=")
        # The event is written in the context of the thread switched out.
        if ((prev in since) && ids[1] == pid) print after[prev], charged[prev] - (t - since[prev])
        delete since[prev]
        if (prev in exited) print 5, t - exited[prev]
        delete exited[prev]
        if (next_ != 0) {
            since[next_] = t; charged[next_] = 0
            after[next_] = prev == 0 ? 3 : ids[1] == pid ? 1 : state ~ /^R/ ? 4 : 2
        }
    } else if ($4 == "sched:sched_stat_runtime:") {
        tid = field("pid=")
        if (tid in since) charged[tid] += field("runtime=")
    } else if (index($4, "PERF_RECORD_EXIT") == 1 && ids[1] == pid) {
        exited[ids[2]] = t
    }
}' | sort -k1,1n -k2,2n | awk '
BEGIN {
    label[1] = "after another of its threads"; label[2] = "after another program that blocked"
    label[3] = "after idle"; label[4] = "after another program it preempted"
    label[5] = "exit: from its exit record to its last switch"
}
function show(  n) {
    n = count
    if (n) printf "%-46s n=%-7d p10 %7d  median %7d  p90 %7d ns  sum %9.3f ms\n", label[kind], n, v[int(n / 10) + 1],
                  v[int(n / 2) + 1], v[int(9 * n / 10) + 1], sum / 1e6
}
$1 != kind { show(); kind = $1; count = 0; sum = 0 }
{ v[++count] = $2; sum += $2 }
END { show() }'
