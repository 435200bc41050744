#!/usr/bin/env bash
# compare.sh BUILD_DIR [OLD_ESTACOUNT]: times whole runs of estacount against
# `wc -l` (the least any program can do with the dump: read it once) and
# against the awk one-liner of awk-count.sh (what an administrator would
# otherwise run), on the bundled 3 KB example, generated 5 MB and 500 MB
# dumps (the 500 MB one also on one core, under taskset -c 0) and a 500 MB
# one with IPv6 lines, and prints a Markdown table for the README followed by
# the targets and whether each is met. OLD_ESTACOUNT, another build of the
# program, is timed in the same rounds, so that old and new figures come
# from one run. Run by bench/run.sh, which builds BUILD_DIR first.
#
# For each dump: it checks that estacount's four counts equal the awk
# one-liner's (and stops, status 1, when they do not), runs every command
# once to fill the page cache, then times rounds, each running wc -l,
# estacount and awk in turn, so that a slow spell of the machine touches all
# three alike. The table holds the median time of each command and the
# median over the rounds of each round's ratio, and the peak resident memory
# of one more run of each, from GNU time.
#
# Environment: AWK names the awk (default awk: mawk on Debian); TMPDIR where
# the scratch dumps go (about 530 MB free needed; removed at exit);
# SMALL_ROUNDS and LARGE_ROUNDS the round counts (21 and 11).
# Needs GNU time (/usr/bin/time, Debian package `time`); hyperfine, when
# present, adds a cross-check of the 5 MB times.
set -eu

# $EPOCHREALTIME's decimal point, sort's and awk's number formats.
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
if [[ $# -lt 1 || $# -gt 2 ]]; then
    echo "usage: $0 BUILD_DIR [OLD_ESTACOUNT]" >&2
    exit 2
fi
build=$1
old=${2:-}
estacount=$build/estacount
make_dump=$build/bench/estacount_make_dump
gnu_time=/usr/bin/time
awk=${AWK:-awk}
small_rounds=${SMALL_ROUNDS:-21}
large_rounds=${LARGE_ROUNDS:-11}
seed=1
# The awk program itself, timed without the bash of its script.
# shellcheck source=awk-count.sh
source "$here/awk-count.sh"

die() {
    echo "compare.sh: $*" >&2
    exit 1
}

for tool in "$estacount" "$make_dump" "$gnu_time" ${old:+"$old"}; do
    [[ -x $tool ]] || die "$tool is missing (build first; GNU time is apt-get install time)"
done
command -v "$awk" >/dev/null || die "no $awk on PATH"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/estacount-compare.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# Room for both dumps, and a margin for the file system.
needed_kib=$(((5000000 + 500000000) * 105 / 100 / 1024))
free_kib=$(df -Pk "$scratch" | awk 'NR == 2 { print $4 }')
if ((free_kib < needed_kib)); then
    die "$scratch has $((free_kib / 1024)) MiB free, the dumps need $((needed_kib / 1024)) MiB (set TMPDIR)"
fi

# Runs "$@" with its output discarded and fails loudly unless it exits with
# `expected` (estacount's success is 1).
run_checked() {
    local expected=$1 status=0
    shift
    "$@" >/dev/null || status=$?
    ((status == expected)) || die "$* exited with $status, not $expected"
}

# Sets elapsed_us to the wall time of one run of "$@", averaged over `reps`
# back-to-back runs. bash's own clock ($EPOCHREALTIME, microseconds) is read
# without starting a process, so the span holds the command plus bash's fork
# and exec, the same for every command and paid by any scheduler as well; a
# separate timer program would add its own start to each run. Several runs
# per reading keep the clock's resolution and the fork's jitter small beside
# runs of a millisecond.
time_runs() {
    local reps=$1 expected=$2 start end i
    shift 2
    start=${EPOCHREALTIME/./}
    for ((i = 0; i < reps; i++)); do
        run_checked "$expected" "$@"
    done
    end=${EPOCHREALTIME/./}
    elapsed_us=$(((end - start) / reps))
}

# Prints the peak resident memory of one run of "$@", in KiB.
peak_kib() {
    "$gnu_time" --quiet -f %M -o "$scratch/rss" "$@" >/dev/null || true
    tail -n 1 "$scratch/rss"
}

# Prints the median of the numbers given.
median() {
    printf '%s\n' "$@" | sort -g | awk '
        { v[NR] = $1 }
        END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f\n", a / b }'
}

# Microseconds as milliseconds, to three figures or so.
format_ms() {
    awk -v us="$1" 'BEGIN {
        ms = us / 1000
        if (ms < 10) printf "%.2f ms", ms; else if (ms < 100) printf "%.1f ms", ms; else printf "%.0f ms", ms }'
}

format_mib() {
    awk -v kib="$1" 'BEGIN { printf "%.1f", kib / 1024 }'
}

# Prints "met" or "NOT met" for `value` against `limit` under `comparison`
# (<= or <).
verdict() {
    awk -v v="$1" -v op="$2" -v l="$3" 'BEGIN {
        ok = (op == "<" ? v < l : v <= l)
        print (ok ? "met" : "NOT met") }'
}

table_rows=()
table_notes=()
targets=()

# make_dump SIZE [--ipv6]: a spool folder holding a generated dump of SIZE
# bytes, its path in `spool`.
make_spool() {
    spool=$scratch/$1${2:-}
    mkdir -p "$spool"
    "$make_dump" ${2:+"$2"} "$spool/netstatdump.log" "$1" "$seed" || die "a dump of $1 bytes could not be written"
}

# measure LABEL SPOOL ROUNDS REPS AWK_EVERY [PREFIX...]: one row of the
# table, for the dump in SPOOL: ROUNDS rounds of REPS runs of each command
# (each started through PREFIX, such as taskset -c 0), awk only in the
# rounds whose number is a multiple of AWK_EVERY.
measure() {
    local label=$1 spool=$2 rounds=$3 reps=$4 awk_every=$5 i
    shift 5
    local prefix=("$@") dump=$spool/netstatdump.log
    local wc_cmd=("${prefix[@]}" wc -l "$dump")
    local ours_cmd=("${prefix[@]}" "$estacount" x "$spool" '[POP3.SMTP.HTTP.FTP]' video)
    local old_cmd=("${prefix[@]}" "${old:-$estacount}" x "$spool" '[POP3.SMTP.HTTP.FTP]' video)
    local awk_cmd=("${prefix[@]}" "$awk" "$awk_count_program" "$dump")

    local ours theirs before
    ours=$("${ours_cmd[@]}" | grep -E '^(POP3|SMTP|HTTP|FTP): ') || true
    theirs=$("${awk_cmd[@]}")
    before=$("${old_cmd[@]}" | grep -E '^(POP3|SMTP|HTTP|FTP): ') || true
    if [[ $ours != "$theirs" || $before != "$theirs" ]]; then
        printf 'estacount counted:\n%s\nthe old one:\n%s\nawk counted:\n%s\n' "$ours" "$before" "$theirs" >&2
        die "estacount and awk disagree on the $label dump ($dump)"
    fi
    echo "$label dump: counts agree, $(echo "$theirs" | paste -sd ' ' | sed 's/ \([A-Z]\)/, \1/g')"

    # The warm-up: the dump into the page cache, the programs too.
    run_checked 0 "${wc_cmd[@]}"
    run_checked 1 "${ours_cmd[@]}"
    run_checked 1 "${old_cmd[@]}"
    run_checked 0 "${awk_cmd[@]}"

    local wc_us=() ours_us=() old_us=() awk_us=() ours_wc=() old_wc=() ours_awk=()
    for ((i = 0; i < rounds; i++)); do
        time_runs "$reps" 0 "${wc_cmd[@]}"
        wc_us+=("$elapsed_us")
        time_runs "$reps" 1 "${ours_cmd[@]}"
        ours_us+=("$elapsed_us")
        ours_wc+=("$(ratio "${ours_us[i]}" "${wc_us[i]}")")
        if [[ -n $old ]]; then
            time_runs "$reps" 1 "${old_cmd[@]}"
            old_us+=("$elapsed_us")
            old_wc+=("$(ratio "$elapsed_us" "${wc_us[i]}")")
        fi
        if ((i % awk_every == 0)); then
            time_runs "$reps" 0 "${awk_cmd[@]}"
            awk_us+=("$elapsed_us")
            ours_awk+=("$(ratio "${ours_us[i]}" "$elapsed_us")")
        fi
    done

    local wc_kib ours_kib awk_kib old_kib=0
    wc_kib=$(peak_kib "${wc_cmd[@]}")
    ours_kib=$(peak_kib "${ours_cmd[@]}")
    awk_kib=$(peak_kib "${awk_cmd[@]}")
    [[ -z $old ]] || old_kib=$(peak_kib "${old_cmd[@]}")

    local r_wc r_awk r_old=0
    r_wc=$(median "${ours_wc[@]}")
    r_awk=$(median "${ours_awk[@]}")
    [[ -z $old ]] || r_old=$(median "${old_wc[@]}")
    local old_cells="| – | – "
    [[ -z $old ]] || old_cells=$(printf '| %s | %.2f ' "$(format_ms "$(median "${old_us[@]}")")" "$r_old")
    table_rows+=("$(printf '| %s | %s | %s | %.2f %s| %s | %.3f | %s / %s / %s / %s MiB |' \
        "$label" "$(format_ms "$(median "${wc_us[@]}")")" \
        "$(format_ms "$(median "${ours_us[@]}")")" "$r_wc" "$old_cells" \
        "$(format_ms "$(median "${awk_us[@]}")")" "$r_awk" \
        "$(format_mib "$wc_kib")" "$(format_mib "$ours_kib")" "$(format_mib "$old_kib")" "$(format_mib "$awk_kib")")")
    table_notes+=("$label: $rounds rounds, each timing $reps back-to-back run(s) of each command; awk in ${#awk_us[@]} of them.")
    echo "  ${table_notes[-1]#*: }"

    # The targets: near the speed of reading the dump, far faster than awk,
    # never slower than the old build where nothing else is asked, and
    # memory bounded by the read buffers whatever the dump's size.
    local within="(old: $(printf %.2f "$r_old") ×)"
    case $label in
    *IPv6*) targets+=("- $label: estacount ≤ 2 × wc -l: $(printf %.2f "$r_wc") × $within — $(verdict "$r_wc" "<=" 2)") ;;
    *"one core"*) targets+=("- $label: no slower than the old build: $(printf %.2f "$r_wc") × wc -l $within — $(verdict "$r_wc" "<=" "$r_old")") ;;
    "500 MB")
        targets+=("- $label: estacount ≤ 1.2 × wc -l: $(printf %.2f "$r_wc") × $within — $(verdict "$r_wc" "<=" 1.2)")
        targets+=("- $label: estacount < 0.1 × awk: $(printf %.3f "$r_awk") × — $(verdict "$r_awk" "<" 0.1)")
        ;;
    "5 MB") targets+=("- $label: estacount ≤ 1.5 × wc -l: $(printf %.2f "$r_wc") × $within — $(verdict "$r_wc" "<=" 1.5)") ;;
    *KB*) targets+=("- $label: no slower than the old build: $(printf %.2f "$r_wc") × wc -l $within — $(verdict "$r_wc" "<=" "$r_old")") ;;
    esac
    targets+=("- $label: estacount's peak RSS ≤ 12 MiB: $(format_mib "$ours_kib") MiB — $(verdict "$ours_kib" "<=" $((12 * 1024)))")

    if [[ $label == "5 MB" ]] && command -v hyperfine >/dev/null; then
        echo "  cross-check with hyperfine (no shell; estacount exits 1, hence -i):"
        hyperfine -N -i --warmup 5 --runs 50 --style basic \
            "wc -l $dump" "$estacount x $spool [POP3.SMTP.HTTP.FTP] video" 2>&1 | sed 's/^/    /'
    fi
}

echo "estacount: $("$estacount" v | sed -n '/./{p;q;}'); wc: $(wc --version | head -n 1); awk: $("$awk" -W version 2>&1 | head -n 1)"
echo "machine: $(nproc) cores, $(grep -m 1 'model name' /proc/cpuinfo | cut -d : -f 2- | sed 's/^ *//')"
echo
example=$scratch/example
mkdir "$example"
cp "$here/../examples/spool/netstatdump.log" "$example/"
measure "3 KB example" "$example" "$small_rounds" 20 1
make_spool 5000000
measure "5 MB" "$spool" "$small_rounds" 10 1
rm -rf "$spool"
make_spool 500000000
measure "500 MB" "$spool" "$large_rounds" 1 5
measure "500 MB, one core" "$spool" "$large_rounds" 1 5 taskset -c 0
rm -rf "$spool"
make_spool 500000000 --ipv6
measure "500 MB IPv6" "$spool" "$large_rounds" 1 5
rm -rf "$spool"
echo
echo "| dump | wc -l | estacount | / wc -l | old estacount | old / wc -l | awk | estacount / awk | peak RSS wc -l / estacount / old / awk |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
printf '%s\n' "${table_rows[@]}"
echo
echo "Dumps from estacount_make_dump, seed $seed (5 MB = 5,000,000 bytes; IPv6: --ipv6). Times are the medians"
echo "over the rounds; the ratios, the medians of each round's ratio; the peak RSS, of one run each."
printf '%s\n' "${table_notes[@]}"
echo
echo "Targets:"
printf '%s\n' "${targets[@]}"
