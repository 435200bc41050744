#!/bin/sh
# prometheus-textfile.sh [--max-age SECONDS] [--save] SPOOL FILE [LIST]:
# counts SPOOL/netstatdump.log with "estacount x SPOOL LIST video" (LIST
# defaults to [POP3.SMTP.HTTP.FTP]) and writes the counts to FILE for
# node_exporter's textfile collector, as
#   estacount_established_connections{service="http"} 5
#   estacount_listing_timestamp_seconds 1796602096
# the second being the time the listing was saved (its modification time),
# so that an alert can tell stale counts. FILE goes in the collector's folder
# and must end in .prom, for example
# /var/lib/prometheus/node-exporter/estacount.prom on Debian. It is written
# whole under another name in the same folder, then renamed, so the collector
# never reads half of it.
#   --save            first save a fresh netstat -tanW listing in SPOOL, as
#                     collect.sh does: the one command of a host without rrdtool.
#   --max-age SECONDS refuse a listing older than this (default 600): counts
#                     from a listing that stopped being saved are no counts.
#
# Exit status: 0 when FILE was written. 2 otherwise, with one line on stderr
# saying why, and FILE left as it was: the listing missing, too old or not
# saved whole, estacount's refusal, FILE not written.
. "$(dirname "$0")/common.sh"
trap 'exit 2' HUP INT TERM

usage="usage: $0 [--max-age SECONDS] [--save] SPOOL FILE [LIST]"
max_age=600
save=
while [ $# -gt 0 ]; do
    case $1 in
    --save) save=yes ;;
    --max-age)
        case ${2:-} in '' | *[!0-9]*) fail "--max-age takes a number of seconds: $usage" ;; esac
        max_age=$2
        shift
        ;;
    *) break ;;
    esac
    shift
done
[ $# -ge 2 ] && [ $# -le 3 ] || fail "$usage"
spool=$1
file=$2
list=${3:-[POP3.SMTP.HTTP.FTP]}
estacount=${ESTACOUNT:-estacount}
case $file in -*) file=./$file ;; esac  # not an option to mkdir or mktemp
# node_exporter reads only *.prom: any other name would be written and never read.
case $file in *.prom) ;; *) fail "$file does not end in .prom: node_exporter would never read it" ;; esac
case $spool in -*) spool=./$spool ;; esac
services_in "$list" || exit 2

[ -z "$save" ] || save_listing "$spool" || exit 2
listing=$spool/netstatdump.log
saved=$(stat -c %Y "$listing" 2>/dev/null) || fail "no listing at $listing: $file was left as it was"
age=$(($(date +%s) - saved))
[ "$age" -le "$max_age" ] ||
    fail "the listing $listing is $age s old, more than $max_age s: $file was left as it was"

# In video mode estacount never looks at its first word.
report=$("$estacount" x "$spool" "$list" video 2>&1)
status=$?
[ "$status" -eq 1 ] || fail "estacount exited with status $status: $report: $file was left as it was"

dir=$(dirname "$file")
err=$(mkdir -p "$dir" 2>&1) || fail "cannot make the folder $dir: $err"
# Not ending in .prom, so the collector skips it while it is being written;
# created with noclobber, so a symlink planted under its name is not followed.
tmp=$(mktemp -u "$dir/.estacount.XXXXXX") || fail "cannot name a file in $dir"
trap 'rm -f "$tmp"' EXIT
err=$( (set -C && {
    echo "# HELP estacount_established_connections Established TCP connections on the service's local port, in the last saved netstat listing."
    echo "# TYPE estacount_established_connections gauge"
    printf '%s\n' "$report" | awk -F': ' '
        $1 ~ /^(POP3|SMTP|HTTP|FTP)$/ && $2 ~ /^[0-9]+$/ {
            printf "estacount_established_connections{service=\"%s\"} %s\n", tolower($1), $2
        }'
    echo "# HELP estacount_listing_timestamp_seconds When the netstat listing that the counts come from was saved, in seconds since 1970."
    echo "# TYPE estacount_listing_timestamp_seconds gauge"
    echo "estacount_listing_timestamp_seconds $saved"
} | cat >"$tmp") 2>&1) || fail "cannot write $tmp: $err: $file was left as it was"
# One line per selected service, or the report was not what it should be.
[ "$(grep -c '^estacount_established' "$tmp")" -eq "$(echo $services | wc -w)" ] ||
    fail "estacount's report held no count for some of $services: $file was left as it was"
err=$(mv -fT "$tmp" "$file" 2>&1) || fail "cannot rename $tmp to $file: $err"
