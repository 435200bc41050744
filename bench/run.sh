#!/usr/bin/env bash
# bench/run.sh: every figure of the benchmark kit, in one run of a few
# minutes (most of it at 500 MB).
#
#  1. Builds Release with the benchmarks into build/bench.
#  2. bench/compare.sh: whole runs of `estacount x SPOOL '[POP3.SMTP.HTTP.FTP]'
#     video` against `wc -l` and the awk one-liner of bench/awk-count.sh, on
#     generated 5 MB and 500 MB dumps and a 500 MB one with IPv6 lines:
#     checks that the counts agree (stops if not), then prints the median
#     times and ratios and each command's peak memory as a Markdown table,
#     and the targets with whether each is met.
#  3. build/bench/bench/estacount_bench (Google Benchmark): the throughput of
#     the scan on generated 5 MB and 500 MB listings, a 5 MB one with IPv6
#     lines, and on contents built to defeat it, and of loading the dump.
#
# Needs cmake, g++, Google Benchmark, GNU time for the peak memory, and
# optionally hyperfine for a cross-check of the 5 MB times:
#   apt-get install -y cmake g++ libbenchmark-dev time hyperfine
# The environment variables of compare.sh (AWK, TMPDIR, ...) pass through;
# OLD_ESTACOUNT names another build of the program for compare.sh to time
# beside this one; arguments go to the Google Benchmark binary
# (--benchmark_filter=...).
# Every number printed is measured in the run; nothing is asserted but the
# agreement of the counts.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build/bench

echo "building $build ..."
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DESTACOUNT_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 >/dev/null
if commit=$(git -C "$top" log -1 --format='%h %s' 2>/dev/null); then
    if [[ -n $(git -C "$top" status --porcelain -- src) ]]; then
        commit+=" (src/ modified since)"
    fi
    echo "sources: $commit"
fi
echo

"$top/bench/compare.sh" "$build" ${OLD_ESTACOUNT:+"$OLD_ESTACOUNT"}

echo
"$build/bench/estacount_bench" "$@"
