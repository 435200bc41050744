#!/usr/bin/env bash
# bench/run.sh [GOOGLE BENCHMARK OPTIONS]: every figure of doc/benchmarks.md
# in one run of some minutes, printed with the machine and the sources that
# made them. Nothing is judged: it prints what it measured.
#
#  1. Builds Release with the benchmarks into build/bench, and the m32
#     preset into build/m32 (skipped, with a note, where -m32 cannot link).
#  2. bench/compare.sh: whole runs of estacount (also under taskset -c 0, one
#     core), `wc -l` and bench/count.awk on the bundled example and on
#     generated dumps of 5 MB, 500 MB and 500 MB with IPv6 lines.
#  3. bench/compare.sh --instructions: cachegrind's instruction counts of a
#     whole run of the x86-64 and m32 builds on the example and on 5 MB dumps.
#  4. build/bench/bench/estacount_shares: a 500 MB dump in 1, 2 and 8
#     shares (the peak memory at up to 8 processors, the most a run uses,
#     on a machine that may have fewer), and
#     how often the scan ahead was redone there and on the fuzz corpus.
#  5. build/bench/bench/estacount_bench: the scan's own throughput.
#
# Needs: apt-get install -y cmake g++ g++-multilib libbenchmark-dev time valgrind
# OLD_ESTACOUNT names another build of the program, timed and counted beside
# this one in the same rounds. AWK names the awk (default awk: mawk on
# Debian); DUMPS, ROUNDS and TMPDIR pass on to compare.sh.
set -eu
# The commands are printed as given: paths from the top, to be pasted as run.
cd "$(dirname "$0")/.."

build=build/bench
m32=build/m32/estacount
awk=${AWK:-awk}
old=${OLD_ESTACOUNT:-}
video='x {spool} [POP3.SMTP.HTTP.FTP] video'

echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
# The program's sources: the last commit that changed them, not the last one.
commit=$(git log -1 --format='%h (%cs) %s' -- src 2>/dev/null) || commit=unknown
[[ -z $(git status --porcelain -- src 2>/dev/null) ]] || commit+=", changed since"
echo "src/ as of: $commit"
echo "machine: $(grep -m 1 'model name' /proc/cpuinfo | cut -d : -f 2- | sed 's/^ *//'), $(nproc) cores," \
    "load average $(cut -d ' ' -f 1-3 /proc/loadavg)"
echo "tools: $(c++ --version | head -n 1); $(wc --version | head -n 1);" \
    "$("$awk" -W version 2>&1 | head -n 1); $(valgrind --version 2>/dev/null || echo no valgrind)"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DESTACOUNT_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 >/dev/null
if ! (cmake --preset m32 && cmake --build --preset m32) >/dev/null 2>&1; then
    echo "note: the m32 preset did not build (g++-multilib missing?); its counts are left out"
    m32=
fi
make_dump=$build/bench/estacount_make_dump
estacount=$build/estacount
echo

echo "== whole runs (bench/compare.sh)"
bench/compare.sh "$make_dump" "wc -l {dump}" "$estacount $video" ${old:+"$old $video"} \
    "taskset -c 0 $estacount $video" "$awk -f bench/count.awk {dump}"
echo

echo "== instructions of a whole run (bench/compare.sh --instructions)"
DUMPS="example 5000000 5000000:ipv6" bench/compare.sh --instructions "$make_dump" \
    "$estacount $video" ${m32:+"$m32 $video"} ${old:+"$old $video"}
echo

echo "== shares forced (estacount_shares): counts, scans redone, peak memory"
shares=$build/bench/estacount_shares
dump=${TMPDIR:-/tmp}/estacount-shares.log
for kind in "" --ipv6; do
    "$make_dump" $kind "$dump" 500000000 "${SEED:-1}"
    for n in 1 2 8; do
        echo "500 MB ${kind:-ipv4}, $n shares: $(/usr/bin/time -f 'peak %M KiB' "$shares" "$dump" "$n" 2>&1 | paste -sd ' ')"
    done
done
rm -f "$dump"
# The fuzz corpus, cut into small shares read 16 bytes at a time: where the
# scan ahead starts out of step far more often than in a listing.
for n in 2 3 7; do
    for seed in fuzz/corpus/scan/*; do "$shares" "$seed" "$n" 16; done |
        awk -v n="$n" '{ ahead += $10; again += $12 } END { print "fuzz corpus, " n " shares: " ahead " scanned ahead, " again " scanned again" }'
done
echo

echo "== the scan alone (estacount_bench)"
"$build/bench/estacount_bench" "$@"
