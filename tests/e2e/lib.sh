# Shared by the end-to-end scripts: reads the command line, makes a scratch
# folder to work in, and gives the helpers below. Sourced, not run.

wine=
if [ "${1:-}" = --wine ]; then
    wine=wine
    shift
fi
[ $# -ge 1 ] || { echo "usage: $0 [--wine] PROGRAM" >&2; exit 2; }
program=$(realpath "$1")
examples=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../examples" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 2
passed=0
failed=0
skipped=0

# Extra NAME=VALUE settings for the program's environment alone, such as a
# PATH that must not change the tools of the test itself.
program_env=()

run_program() {
    if [ -n "$wine" ]; then
        env "${program_env[@]}" wine "$program" "$@"
    else
        env "${program_env[@]}" "$program" "$@"
    fi
}

# check NAME STATUS EXPECTED_STDOUT [ARG...]: runs the program with ARGs and
# wants exactly EXPECTED_STDOUT on stdout, nothing on stderr, and STATUS.
check() {
    local name=$1 want_status=$2 want_out=$3 status
    shift 3
    run_program "$@" >"$scratch/.out" 2>"$scratch/.err"
    status=$?
    [ -n "$wine" ] && perl -0777 -pi -e 's/\r\n/\n/g' "$scratch/.out"
    printf '%s' "$want_out" >"$scratch/.want"
    if [ "$status" = "$want_status" ] && cmp -s "$scratch/.out" "$scratch/.want" &&
        [ ! -s "$scratch/.err" ]; then
        passed=$((passed + 1))
        return 0
    fi
    failed=$((failed + 1))
    echo "FAIL: $name"
    echo "  status $status, wanted $want_status"
    diff <(od -c "$scratch/.want") <(od -c "$scratch/.out") | head -n 20 | sed 's/^/  /'
    [ -s "$scratch/.err" ] && sed 's/^/  stderr: /' "$scratch/.err" | head -n 5
    return 1
}

# expect NAME CONDITION...: a check of something other than the program's
# output, such as a file a run left behind.
expect() {
    local name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name"
    fi
}

skip() {
    skipped=$((skipped + 1))
    echo "SKIP: $1 ($2)"
}

# dump FOLDER TEXT: writes TEXT, byte for byte, as FOLDER's netstatdump.log.
dump() {
    mkdir -p "$1"
    printf '%s' "$2" >"$1/netstatdump.log"
}

dump_stdin() {
    mkdir -p "$1"
    cat >"$1/netstatdump.log"
}

# check_report NAME 'POP3: 1|HTTP: 0' [ARG...]: a run that reaches the video
# report with these count lines ('' for none) and exits with 1.
check_report() {
    local name=$1 lines=$2 want line
    shift 2
    want=$'Connection established:\n'
    if [ -n "$lines" ]; then
        IFS='|' read -r -a lines <<<"$lines"
        for line in "${lines[@]}"; do
            want+=$'\n'"$line"
        done
    fi
    want+=$'\n\nestacount (c) 2026 the estacount authors - report problems on the estacount issue tracker\n'
    check "$name" 1 "$want" "$@"
}

finish() {
    if [ "$skipped" -gt 0 ]; then
        echo "$passed passed, $failed failed, $skipped skipped"
    else
        echo "$passed passed, $failed failed"
    fi
    [ "$failed" -eq 0 ]
}
