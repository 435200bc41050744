# Sourced by the end-to-end scripts: takes [--wine] PROGRAM, works in a
# scratch folder, and gives the helpers below.
wine=
[ "${1:-}" = --wine ] && { wine=wine; shift; }
program=$(realpath "${1:?usage: $0 [--wine] PROGRAM}")
examples=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../examples" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 2
passed=0 failed=0
program_env=()  # NAME=VALUE for the program alone, not for the test's tools

# A cross build's program runs under the emulator its CTest runs programs
# with: EMULATOR holds its words, such as "qemu-aarch64 -L /usr/aarch64-linux-gnu".
read -ra emulator <<<"${EMULATOR:-}"

run_program() { env "${program_env[@]}" $wine "${emulator[@]}" "$program" "$@"; }

# expect NAME COMMAND...: passes when COMMAND succeeds.
expect() {
    if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1"; fi
}

# err_matches WANT: stderr holds exactly the lines of WANT (nothing when it
# is empty). In a line, $why marks where the system's own words begin: wine
# words them otherwise, so under wine only the part before it is compared.
why=$'\t'  # the program writes a tab as \x09, so none reaches stderr
err_matches() {
    local i fixed want got
    [ -z "$1" ] && { [ ! -s "$scratch/.err" ]; return; }
    [ -z "$(tail -c 1 "$scratch/.err")" ] || return 1  # the last line ended
    mapfile -t want <<<"$1"
    mapfile -t got <"$scratch/.err"
    [ ${#want[@]} = ${#got[@]} ] || return 1
    for i in "${!want[@]}"; do
        fixed=${want[i]%%"$why"*}
        if [ -n "$wine" ] && [ "$fixed" != "${want[i]}" ]; then
            [[ ${got[i]} == "$fixed"?* ]] || return 1
        else
            [ "${got[i]}" = "${want[i]/"$why"/}" ] || return 1
        fi
    done
}

# check NAME STATUS STDOUT [ARG...]: a run wants exactly STDOUT, STATUS (255
# for the -1 of a refusal) and on stderr the lines of $err, none when unset:
# err='estacount: ...' check NAME ...
check() {
    local name=$1 want_status=$2 want_err=${err-} status
    printf '%s' "$3" >"$scratch/.want"
    shift 3
    run_program "$@" >"$scratch/.out" 2>"$scratch/.err"
    status=$?
    # The Windows C runtime writes "\n" as CR LF; nothing else may differ.
    [ -n "$wine" ] && perl -0777 -pi -e 's/\r\n/\n/g' "$scratch/.out" "$scratch/.err"
    if [ "$status" = "$want_status" ] && cmp -s "$scratch/.out" "$scratch/.want" && err_matches "$want_err"; then
        passed=$((passed + 1))
    else
        expect "$name: status $status; stdout, stderr, wanted stdout, wanted stderr:" false
        cat -A "$scratch/.out" "$scratch/.err" "$scratch/.want" <(printf '%s\n' "$want_err") | head -n 40 | sed 's/^/  /'
    fi
}

# check_report NAME 'POP3: 1|HTTP: 0' [ARG...]: a run that prints the report
# with these count lines ('' for none) and exits 1.
check_report() {
    local name=$1 lines=${2//|/$'\n'}
    shift 2
    check "$name" 1 $'Connection established:\n'"${lines:+$'\n'$lines}"$'\n\nestacount (c) 2026 the estacount authors - report problems on the estacount issue tracker\n' "$@"
}

# shown TEXT: TEXT as the program's stderr shows a word, control bytes as \xHH.
shown() { printf '%s' "$1" | perl -pe 's/([\x00-\x1f\x7f])/sprintf("\\x%02X", ord $1)/ge'; }

# dump FOLDER [TEXT]: TEXT (or stdin), byte for byte, as FOLDER/netstatdump.log.
dump() {
    mkdir -p "$1"
    if [ $# -ge 2 ]; then printf '%s' "$2"; else cat; fi >"$1/netstatdump.log"
}

finish() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
