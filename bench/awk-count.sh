#!/usr/bin/env bash
# awk-count.sh DUMP: the awk one-liner an administrator would write to count
# what estacount counts in a netstat -an dump saved on Windows (CR LF line
# ends), printed as estacount prints the counts:
#
#   strip the CR, keep the lines whose 4th field is ESTABLISHED, take the
#   local endpoint's last ':'-separated piece as the port, count by port.
#
# Plain POSIX awk, so that mawk (Debian's default) and gawk run it alike; AWK
# names another awk. compare.sh sources this file for the program text, so
# that its timings hold awk's run alone, not this script's bash as well.
set -eu

# shellcheck disable=SC2016 # awk's own $4 and $2, not the shell's.
awk_count_program='{ sub(/\r$/, "") } $4 == "ESTABLISHED" { n = split($2, p, ":"); c[p[n]]++ } END { printf "POP3: %d\nSMTP: %d\nHTTP: %d\nFTP: %d\n", c["110"], c["25"], c["80"], c["21"] }'

if [[ ${BASH_SOURCE[0]} == "$0" ]]; then
    if [[ $# -ne 1 ]]; then
        echo "usage: $0 DUMP" >&2
        exit 2
    fi
    exec "${AWK:-awk}" "$awk_count_program" "$1"
fi
