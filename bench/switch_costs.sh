#!/bin/sh
# What measuring costs a command that switches often, side by side: the
# command (4 ping-pong pairs) alone, under quorvex-stat, under
# `perf record --switch-events` writing to tmpfs, and under
# `perf stat -e context-switches`, paced at about 10,000 and 100,000 switches
# a second and unpaced (as fast as it goes: 380,000 a second or more on an
# idle 2-processor machine), each the median of RUNS runs of MS
# milliseconds. Paced, the figure is the command's own processor time
# against alone (it keeps its pace, and pays for the records in the kernel);
# unpaced, its throughput (round trips) against alone.
# Needs perf (Debian's linux-perf); run on an otherwise quiet machine.
#
# usage: bench/switch_costs.sh [BUILD_DIR [RUNS [MS]]]
set -eu
build=${1:-build}
runs=${2:-3}
ms=${3:-3000}
load="$build/bench/quorvex-switch-load"
tmp=$(mktemp -d /dev/shm/switch-costs.XXXXXX)
trap 'rm -rf "$tmp"' EXIT INT TERM

# One run: "ROUND-TRIPS SWITCHES/S CPU-NS", the command's own processor time
# as it read its clock at its end.
run() {
    SWITCH_LOAD_CLOCKS="$tmp/clocks" "$@" 2>/dev/null |
        sed -n "s/^work \([0-9]*\) switches \([0-9]*\)$/\1 \2/p" |
        awk -v ms="$ms" \
            '{ printf "%d %d\n", $1, $2 * 1000 / ms }' > "$tmp/one"
    echo "$(cat "$tmp/one") $(sed -n 's/^process //p' "$tmp/clocks")"
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

printf "%-10s %12s %14s %14s %14s\n" "pace/s" "switches/s" "quorvex-stat" "perf record" "perf stat"
for rate in 10000 100000 0; do
    for way in alone stat record count; do
        : > "$tmp/$way"
    done
    for i in $(seq "$runs"); do
        set -- pingpong 4 "$ms" "$rate"
        run "$load" "$@" >> "$tmp/alone"
        run "$build/quorvex-stat" -o /dev/null "$load" "$@" >> "$tmp/stat"
        run perf record -q --switch-events -o "$tmp/perf.data" -- "$load" "$@" >> "$tmp/record"
        run perf stat -x, -o /dev/null -e context-switches -- "$load" "$@" >> "$tmp/count"
    done
    field=$([ "$rate" = 0 ] && echo 1 || echo 3)
    alone=$(cut -d' ' -f"$field" "$tmp/alone" | median)
    switches=$(cut -d' ' -f2 "$tmp/alone" | median)
    ratio() { cut -d' ' -f"$field" "$tmp/$1" | median | awk -v a="$alone" '{ printf "%.2f", $1 / a }'; }
    printf "%-10s %12s %14s %14s %14s\n" "$([ "$rate" = 0 ] && echo unpaced || echo "$rate")" "$switches" \
        "$(ratio stat)" "$(ratio record)" "$(ratio count)"
done
echo "(paced: processor time against alone; unpaced: round trips against alone)"
