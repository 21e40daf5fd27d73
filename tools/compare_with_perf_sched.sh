#!/bin/sh
# Holds the concurrency levels that quorvex's counter service samples (from
# the context-switch records, and from /proc with --proc) against the
# kernel's own scheduler trace (perf, from Debian's linux-perf), for one
# shape of the demo workload, or for any command given in WORKLOAD (e.g.
# WORKLOAD="build/bench/quorvex-switch-load tokens 3 3000"). Needs the right
# to trace the scheduler (root, or perf_event_paranoid -1).
#
# usage: [WORKLOAD=COMMAND] tools/compare_with_perf_sched.sh [BUILD_DIR [PHASES [PHASE_MS [SLEEPERS]]]]
set -eu
build=${1:-build}
phases=${2:-1,2,4}
phase_ms=${3:-2000}
sleepers=${4:-2}
demo=${WORKLOAD:-"$build/quorvex-demo --phases $phases --phase-ms $phase_ms --sleepers $sleepers"}
levels="$build/quorvex-exact-levels"

command -v perf >/dev/null || { echo "perf not found: install linux-perf" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

# The workload's name as the kernel keeps it (15 characters).
comm=$(basename "${demo%% *}" | cut -c1-15)

# Records the scheduler's switches to and from the workload's threads, and
# from and to the program that starts it (before its exec, the workload has
# that program's name), while running the command: every other program's
# left out, as on a loaded machine they overflow perf's buffers, and a trace
# with gaps is no measure.
record() {
    data=$1 starter=$2
    shift 2
    perf record -q -m 16M -a -k CLOCK_MONOTONIC -e sched:sched_switch \
        --filter "prev_comm == \"$comm\" || next_comm == \"$comm\" || prev_comm == \"$starter\" || next_comm == \"$starter\"" \
        -o "$data" -- "$@"
}

# The trace's switch lines; first, whether perf lost any.
switches() {
    if perf report -i "$1" --stats 2>/dev/null | grep -i lost >&2; then
        echo "perf lost records: the trace below is incomplete" >&2
    fi
    perf script -i "$1" --ns -F pid,tid,cpu,time,event,trace 2>/dev/null
}

echo "== quorvex's thread states, every 10 ms"
$levels sample --interval-ms 10 --phase-ms "$phase_ms" $demo

echo "== scheduler trace of another run of the same shape, every 10 ms"
# The shell notes its process id, which the workload keeps through the exec
# (the shell itself is left out of the trace: every shell on the machine has
# its name).
record "$tmp/alone.data" "$comm" sh -c 'echo $$ > "$0"; exec "$@"' "$tmp/pid" $demo >/dev/null
switches "$tmp/alone.data" | $levels trace --pid "$(cat "$tmp/pid")" --interval-ms 10 --phase-ms "$phase_ms"

# Each source alone: reading /proc at every sample takes processor time from
# the workload too.
for source in "" --proc; do
    echo "== one run, sampled by quorvex ${source:+($source) }and read from the trace at the same instants"
    record "$tmp/together.data" quorvex-exact-l \
        $levels sample --interval-ms 10 --phase-ms "$phase_ms" $source --instants "$tmp/instants" $demo 2>/dev/null
    switches "$tmp/together.data" | $levels trace --instants "$tmp/instants" --phase-ms "$phase_ms"
done

# quorvex-stat's shares are weighted by time over the command's whole life:
# held against the same trace weighted the same way.
if [ -x "$build/quorvex-stat" ]; then
    echo "== quorvex-stat and the trace of the same run, time-weighted"
    record "$tmp/stat.data" quorvex-stat \
        "$build/quorvex-stat" -o "$tmp/stat.txt" --json "$tmp/stat.json" $demo >/dev/null 2>&1
    echo "quorvex-stat"
    sed -n '/"concurrency"/,/]/s/^ *{"level": \([0-9]*\), "percent": \([0-9.]*\)}.*/  level \1: \2 %/p' "$tmp/stat.json"
    sed -n 's/^ *"parallel_time_percent": \([0-9.]*\),/  Parallel Time: \1 %/p' "$tmp/stat.json"
    pid=$(sed -n 's/.*{"tid": [0-9]*, "pid": \([0-9]*\),.*/\1/p' "$tmp/stat.json" | head -n 1)
    switches "$tmp/stat.data" | $levels trace --pid "$pid" --weighted
fi
