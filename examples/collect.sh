#!/bin/sh
# collect.sh DB SPOOL [LIST]: saves a fresh netstat listing as
# SPOOL/netstatdump.log and has estacount add its counts to the database DB
# (made by create-database.sh). LIST defaults to [POP3.SMTP.HTTP.FTP]; a
# shorter list needs a database with just those sources, in that order.
#
# Meant for cron, every five minutes. cron's PATH is /usr/bin:/bin, so name
# the folder estacount was installed in (or set ESTACOUNT=/path/to/estacount):
#
#   PATH=/usr/local/bin:/usr/bin:/bin
#   */5 * * * * /usr/local/share/estacount/examples/collect.sh /var/lib/estacount/estacount.rrd /var/spool/estacount
#
# Exit status: 0 when estacount started the update, 1 when it refused or
# failed (its message is on standard output, which cron mails), 2 on misuse.
# estacount does not wait for rrdtool, so 0 does not prove the sample landed:
# "rrdtool lastupdate DB" shows the last one that did. rrdtool drops an
# update that finds the file locked by another rrdtool, so draw graphs at
# other minutes (2-59/5 in cron, say).
set -eu

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 DB SPOOL [LIST]" >&2
    exit 2
fi
db=$1
spool=$2
list=${3:-[POP3.SMTP.HTTP.FTP]}
estacount=${ESTACOUNT:-estacount}

# estacount splits the database path at spaces when it starts rrdtool.
case $db in
*' '*)
    echo "$0: the database path must not hold a space: $db" >&2
    exit 2
    ;;
esac

# netstat from net-tools, not ss: estacount reads netstat's column layout.
# Written aside and moved into place, so a run never reads a half-written
# listing. If netstat fails, set -e stops here: the old dump stays, nothing
# is sent, and the graph shows a gap rather than a repeated sample.
# Plain -tan, not -tan -4: IPv4 clients of a server listening on [::] are
# listed as tcp6 lines, and -4 would leave them out.
command -v netstat >/dev/null || {
    echo "$0: netstat not found (Debian: apt-get install net-tools)" >&2
    exit 1
}
tmp=$(mktemp "$spool/.netstatdump.XXXXXX")
trap 'rm -f "$tmp"' EXIT
netstat -tanW >"$tmp"
chmod 644 "$tmp"  # mktemp's 0600 would hide from others what netstat shows anyone
mv -f "$tmp" "$spool/netstatdump.log"

# For fillrrd, 1 is success (the update was started); 0 would mean a
# database named like a keyword (v, help) printed the version or the usage.
status=0
"$estacount" "$db" "$spool" "$list" fillrrd || status=$?
if [ "$status" -ne 1 ]; then
    echo "$0: estacount exited with status $status; no sample was sent" >&2
    exit 1
fi
