#!/usr/bin/env bash
# Fuzzes one target for a bounded time:  run_fuzzer.sh TARGET NAME SECONDS WORK
# It starts from a copy of fuzz/corpus/NAME and fuzz/regressions/NAME in
# WORK/corpus, which the run grows and later runs start from again; the
# committed seeds are only read. A finding is written to WORK/artifacts/ and
# makes libFuzzer, so the test, fail.
set -eu
target=$1 name=$2 seconds=$3 work=$4
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work/corpus" "$work/artifacts"
find "$here/corpus/$name" "$here/regressions/$name" -maxdepth 1 -type f -name "[!.]*" -exec cp {} "$work/corpus/" \;
exec "$target" -max_total_time="$seconds" -timeout=10 -max_len=8192 \
    -dict="$here/$name.dict" -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
    "$work/corpus"
