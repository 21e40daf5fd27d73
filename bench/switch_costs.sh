#!/bin/sh
# What measuring costs a command that switches often, side by side: the
# command (4 ping-pong pairs) alone, under quorvex-stat, under the same
# events read by a reader that discards every record
# (quorvex-switch-discard: the kernel's own share), under
# `perf record --switch-events` writing to tmpfs, and under
# `perf stat -e context-switches`, paced at about 10,000 and 100,000 switches
# a second and unpaced (as fast as it goes: 380,000 a second or more on an
# idle 2-processor machine). Each of RUNS rounds runs every way once, one
# after the other, for MS milliseconds; printed is the median over the
# rounds of the figure against the same round's run alone and, in
# brackets, the lowest and highest. Paced, the figure is the
# command's own processor time against alone (it keeps its pace, and pays
# for the records in the kernel); unpaced, its throughput (round trips)
# against alone. With OTHER_STAT=PROGRAM, a second quorvex-stat (another
# build of it) runs beside the first, in a column of its own.
# Needs perf (Debian's linux-perf); run on an otherwise quiet machine.
#
# usage: [OTHER_STAT=PROGRAM] bench/switch_costs.sh [BUILD_DIR [RUNS [MS]]]
set -eu
build=${1:-build}
runs=${2:-3}
ms=${3:-3000}
load="$build/bench/quorvex-switch-load"
tmp=$(mktemp -d /dev/shm/switch-costs.XXXXXX)
trap 'rm -rf "$tmp"' EXIT INT TERM
ways="alone stat discard record count${OTHER_STAT:+ other}"

# One run: "ROUND-TRIPS SWITCHES/S CPU-NS", the command's own processor time
# as it read its clock at its end.
run() {
    SWITCH_LOAD_CLOCKS="$tmp/clocks" "$@" 2>/dev/null |
        sed -n "s/^work \([0-9]*\) switches \([0-9]*\)$/\1 \2/p" |
        awk -v ms="$ms" '{ printf "%d %d\n", $1, $2 * 1000 / ms }' > "$tmp/one"
    echo "$(cat "$tmp/one") $(sed -n 's/^process //p' "$tmp/clocks")"
}

# "MEDIAN (LOWEST-HIGHEST)" of the numbers read, one a line, each divided by $1.
spread() {
    sort -g | awk -v by="$1" '{ v[NR] = $1 / by }
        END { printf "%.2f (%.2f-%.2f)", v[int((NR + 1) / 2)], v[1], v[NR] }'
}

printf "%-8s %-16s %-17s %-17s %-17s %-17s %s\n" "pace/s" "switches" "quorvex-stat" "discard reader" \
    "perf record" "perf stat" "${OTHER_STAT:+$OTHER_STAT}"
for rate in 10000 100000 0; do
    for way in $ways; do
        : > "$tmp/$way"
    done
    for i in $(seq "$runs"); do
        set -- pingpong 4 "$ms" "$rate"
        run "$load" "$@" >> "$tmp/alone"
        run "$build/quorvex-stat" -o /dev/null "$load" "$@" >> "$tmp/stat"
        run "$build/bench/quorvex-switch-discard" "$load" "$@" >> "$tmp/discard"
        run perf record -q --switch-events -o "$tmp/perf.data" -- "$load" "$@" >> "$tmp/record"
        run perf stat -x, -o /dev/null -e context-switches -- "$load" "$@" >> "$tmp/count"
        [ -z "${OTHER_STAT:-}" ] || run "$OTHER_STAT" -o /dev/null "$load" "$@" >> "$tmp/other"
    done
    # Each round against the same round's run alone: the load of other
    # programs changes less within a round than across rounds. Field 4: the
    # command's processor time a round trip, which that load disturbs least.
    ratio() {
        paste -d' ' "$tmp/alone" "$tmp/$1" |
            awk -v f="$field" '{ print f == 1 ? $4 / $1 : f == 3 ? $6 / $3 : ($6 / $4) / ($3 / $1) }' | spread 1
    }
    row() {
        printf "%-8s %-16s %-17s %-17s %-17s %-17s %s\n" "$1" "$2" \
            "$(ratio stat)" "$(ratio discard)" "$(ratio record)" "$(ratio count)" \
            "$([ -z "${OTHER_STAT:-}" ] || ratio other)"
    }
    switches=$(cut -d' ' -f2 "$tmp/alone" | spread 1000 | sed 's/\.[0-9]*/k/g')
    if [ "$rate" = 0 ]; then
        field=1
        row unpaced "$switches"
        field=4
        row " cpu/trip" ""
    else
        field=3
        row "$rate" "$switches"
    fi
done
echo "(paced: processor time against alone; unpaced: round trips against alone, then the"
echo " processor time a round trip; median of $runs rounds, lowest-highest in brackets;"
echo " switches/s alone in thousands)"
