#!/bin/sh
# prometheus-textfile.sh SPOOL FILE [LIST]: counts SPOOL/netstatdump.log with
# "estacount x SPOOL LIST video" (LIST defaults to [POP3.SMTP.HTTP.FTP]) and
# writes the counts to FILE for node_exporter's textfile collector, as
#   estacount_established_connections{service="http"} 5
# FILE goes in the collector's folder and must end in .prom, for example
# /var/lib/prometheus/node-exporter/estacount.prom on Debian. It is written
# whole under another name in the same folder, then renamed, so the collector
# never reads half of it; when estacount fails, FILE is left as it was.
# Run it after the job that saves the listing (collect.sh does, for cron).
#
# Exit status: estacount's own, as for collect.sh: 1 when FILE was written,
# 255 when estacount refused (its message goes to stderr here). 2 when the
# script itself refused or could not write FILE.
. "$(dirname "$0")/common.sh"
trap 'exit 2' HUP INT TERM

[ $# -ge 2 ] && [ $# -le 3 ] || fail "usage: $0 SPOOL FILE [LIST]"
spool=$1
file=$2
list=${3:-[POP3.SMTP.HTTP.FTP]}
estacount=${ESTACOUNT:-estacount}
case $file in -*) file=./$file ;; esac  # not an option to mkdir or mktemp
services_in "$list" || exit 2

# In video mode estacount never looks at its first word.
report=$("$estacount" x "$spool" "$list" video)
status=$?
if [ "$status" -ne 1 ]; then
    printf '%s\n' "$report" >&2
    echo "$0: estacount exited with status $status: $file was left as it was" >&2
    exit "$status"
fi

dir=$(dirname "$file")
mkdir -p "$dir" || fail "cannot make the folder $dir"
# Not ending in .prom, so the collector skips it while it is being written.
tmp=$(mktemp "$dir/.estacount.XXXXXX") || fail "cannot write in $dir"
trap 'rm -f "$tmp"' EXIT
{
    echo "# HELP estacount_established_connections Established TCP connections on the service's local port, in the last saved netstat listing."
    echo "# TYPE estacount_established_connections gauge"
    printf '%s\n' "$report" | awk -F': ' '
        $1 ~ /^(POP3|SMTP|HTTP|FTP)$/ && $2 ~ /^[0-9]+$/ {
            printf "estacount_established_connections{service=\"%s\"} %s\n", tolower($1), $2
        }'
} >"$tmp" || fail "cannot write $tmp"
# One line per selected service, or the report was not what it should be.
[ "$(grep -c '^estacount_' "$tmp")" -eq "$(echo $services | wc -w)" ] ||
    fail "estacount's report held no count for some of $services: $file was left as it was"
chmod 644 "$tmp"  # node_exporter runs as a user of its own
mv -f "$tmp" "$file" || fail "cannot rename $tmp to $file"
exit 1
