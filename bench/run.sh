#!/usr/bin/env bash
# Builds the benchmarks and prints the figures: the scan's and the load's
# throughput, the time of a whole run on a 5,000,000-byte dump, and its peak
# memory. Needs libbenchmark-dev, hyperfine and time:
#   apt-get install -y libbenchmark-dev hyperfine time
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=$top/build/bench
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DESTACOUNT_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 >/dev/null

"$build/estacount_bench"

spool=$(mktemp -d)
trap 'rm -rf "$spool"' EXIT
yes $'  TCP    192.168.10.5:80        192.168.10.34:51230    ESTABLISHED\r' |
    head -c 5000000 >"$spool/netstatdump.log"
echo
# The program exits 1 when it has delivered, hence -i.
hyperfine --warmup 3 --runs 50 -N -i "$build/estacount x $spool [POP3.SMTP.HTTP.FTP] video"
/usr/bin/time -f 'peak resident memory: %M KiB' \
    "$build/estacount" x "$spool" '[HTTP]' video >/dev/null || true
