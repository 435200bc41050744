#!/usr/bin/env bash
# compare.sh [--instructions] MAKE_DUMP COMMAND...: times whole runs of each
# COMMAND on the same dumps and prints what it measured. MAKE_DUMP is
# estacount_make_dump. Each COMMAND is one argument, split at spaces into
# words and started without a shell (so no shell's start is timed); the word
# parts {dump} and {spool} stand for the dump file and its folder. For
# instance:
#
#   compare.sh build/bench/bench/estacount_make_dump 'wc -l {dump}' \
#       'build/bench/estacount x {spool} [POP3.SMTP.HTTP.FTP] video'
#
# For each dump: every command runs once, and the counts printed by those
# that print POP3/SMTP/HTTP/FTP lines must be equal (status 1 if not); one
# more run each warms the page cache; then ROUNDS rounds, each timing REPS
# back-to-back runs of every command in turn, starting one command later in
# each round, so that a slow spell of the machine touches all alike. Printed
# per command: the median, least and greatest time of one run over the
# rounds, the median over the rounds of its time divided by the first
# command's in the same round, and the peak resident memory of one run (GNU
# time). A run's time is read from bash's own clock ($EPOCHREALTIME), so it
# holds the command and bash's fork and exec, alike for every command.
#
# --instructions: instead, the instructions of one whole run of each command
# (all its threads), from valgrind --tool=cachegrind --cache-sim=no; these
# do not depend on the machine's load.
#
# Environment: DUMPS, the dumps, space-separated: "example" (the bundled
# 3 KB one), a size in bytes, or SIZE:ipv6 for three lines in ten IPv6
# (default "example 5000000 500000000 500000000:ipv6"); ROUNDS (default 11);
# SEED (default 1); TMPDIR, where the dumps are written, one at a time.
# REPS is 50,000,000 bytes' worth of runs, 1 to 20.
set -eu
export LC_ALL=C  # $EPOCHREALTIME's decimal point, sort's and awk's numbers

here=$(cd "$(dirname "$0")" && pwd)
mode="time"
if [[ ${1:-} == --instructions ]]; then
    mode=instructions
    shift
fi
if [[ $# -lt 2 ]]; then
    echo "usage: $0 [--instructions] MAKE_DUMP COMMAND..." >&2
    exit 2
fi
make_dump=$1
shift
commands=("$@")
rounds=${ROUNDS:-11}
seed=${SEED:-1}

die() {
    echo "compare.sh: $*" >&2
    exit 1
}

[[ -x $make_dump ]] || die "$make_dump is missing (build the benchmarks first)"
if [[ $mode == time ]]; then
    [[ -x /usr/bin/time ]] || die "GNU time is missing (apt-get install time)"
else
    command -v valgrind >/dev/null || die "valgrind is missing (apt-get install valgrind)"
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/estacount-compare.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Sets `words` to COMMAND's words with the dump's paths put in.
command_words() {
    local word
    read -ra words <<<"$1"
    for word in "${!words[@]}"; do
        words[word]=${words[word]//\{dump\}/$spool/netstatdump.log}
        words[word]=${words[word]//\{spool\}/$spool}
    done
}

# Sets `spool` to a folder holding the dump DUMPS names with $1.
make_spool() {
    spool=$scratch/dump
    rm -rf "$spool"
    mkdir "$spool"
    if [[ $1 == example ]]; then
        cp "$here/../examples/spool/netstatdump.log" "$spool/"
        return
    fi
    local size=${1%:ipv6} kind=() free_kib
    [[ $1 != *:ipv6 ]] || kind=(--ipv6)
    free_kib=$(df -Pk "$scratch" | awk 'NR == 2 { print $4 }')
    ((free_kib > size / 1000)) || die "$scratch has too little room for $size bytes (set TMPDIR)"
    "$make_dump" "${kind[@]}" "$spool/netstatdump.log" "$size" "$seed" ||
        die "a dump of $size bytes could not be written"
}

median() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 }
        END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The counts of every command that prints them must be the same.
check_counts() {
    local c counts seen=
    for c in "${!commands[@]}"; do
        command_words "${commands[c]}"
        counts=$("${words[@]}" 2>/dev/null | grep -E '^(POP3|SMTP|HTTP|FTP): ' | paste -sd ' ') || true
        [[ -n $counts ]] || continue
        [[ -z $seen || $counts == "$seen" ]] || die "${commands[c]} counted $counts, an earlier command $seen"
        seen=$counts
    done
    echo "  counts: ${seen:-none printed}"
}

measure_time() {
    local size reps c r i n start end status
    size=$(stat -c %s "$spool/netstatdump.log")
    reps=$((50000000 / (size > 0 ? size : 1)))
    ((reps >= 1)) || reps=1
    ((reps <= 20)) || reps=20
    echo "  $rounds rounds of $reps run(s) of each command; load average at the start: $(cut -d ' ' -f 1-3 /proc/loadavg)"
    local -a expected times
    for c in "${!commands[@]}"; do
        command_words "${commands[c]}"
        status=0
        "${words[@]}" >/dev/null 2>&1 || status=$?
        expected[c]=$status
    done
    for ((r = 0; r < rounds; r++)); do
        for ((i = 0; i < ${#commands[@]}; i++)); do
            c=$(((i + r) % ${#commands[@]}))
            command_words "${commands[c]}"
            start=${EPOCHREALTIME/./}
            for ((n = 0; n < reps; n++)); do
                status=0
                "${words[@]}" >/dev/null 2>&1 || status=$?
                ((status == expected[c])) || die "${commands[c]} exited $status, not ${expected[c]}"
            done
            end=${EPOCHREALTIME/./}
            times[r * ${#commands[@]} + c]=$(((end - start) / reps))
        done
    done
    printf '  %10s %10s %10s %9s %9s  %s\n' "median ms" "least ms" "most ms" "/ first" "peak KiB" command
    local mine ratios kib
    for c in "${!commands[@]}"; do
        mine=() ratios=()
        for ((r = 0; r < rounds; r++)); do
            mine+=("${times[r * ${#commands[@]} + c]}")
            ratios+=("$(awk -v a="${mine[r]}" -v b="${times[r * ${#commands[@]}]}" 'BEGIN { print a / b }')")
        done
        command_words "${commands[c]}"
        /usr/bin/time --quiet -f %M -o "$scratch/rss" "${words[@]}" >/dev/null 2>&1 || true
        kib=$(tail -n 1 "$scratch/rss")
        printf '%s\n' "${mine[@]}" | sort -g | awk -v ratio="$(median "${ratios[@]}")" -v kib="$kib" \
            -v median="$(median "${mine[@]}")" -v cmd="${commands[c]}" '
            { v[NR] = $1 }
            END { printf "  %10.3f %10.3f %10.3f %9.3f %9d  %s\n", median / 1000, v[1] / 1000, v[NR] / 1000, ratio, kib, cmd }'
    done
}

measure_instructions() {
    local c
    for c in "${!commands[@]}"; do
        command_words "${commands[c]}"
        valgrind --tool=cachegrind --cache-sim=no --cachegrind-out-file=/dev/null "${words[@]}" \
            2>"$scratch/valgrind" >/dev/null || true
        printf '  %15s  %s\n' "$(sed -n 's/.*I *refs: *//p' "$scratch/valgrind")" "${commands[c]}"
    done
}

for dump in ${DUMPS:-example 5000000 500000000 500000000:ipv6}; do
    make_spool "$dump"
    echo "dump $dump: $(stat -c %s "$spool/netstatdump.log") bytes, seed $seed"
    check_counts
    "measure_$mode"
done
