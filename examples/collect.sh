#!/bin/sh
# collect.sh DB SPOOL [LIST]: saves a fresh netstat listing as
# SPOOL/netstatdump.log and has estacount add its counts to the database DB
# made by create-database.sh with the same LIST (default
# [POP3.SMTP.HTTP.FTP]). Meant for cron or the systemd timer, every five
# minutes; ESTACOUNT=/path/to/estacount when it is not on PATH.
#
# Exit status: estacount's own. 1 when it started the update (the success of
# a fillrrd run: the systemd unit lists it in SuccessExitStatus), 255 (its -1)
# when it refused, with its message on standard output. 2 when collect.sh
# refused before running netstat (a LIST not in the dot form or selecting
# nothing, a LIST that does not name the database's data sources in order, a
# missing database, a path estacount refuses) or could not save the listing:
# its message is on stderr and no sample was sent. estacount does not wait
# for rrdtool, so 1 does not prove the sample landed: "rrdtool lastupdate DB"
# shows the last one that did.
. "$(dirname "$0")/common.sh"
trap 'exit 2' HUP INT TERM

[ $# -ge 2 ] && [ $# -le 3 ] || fail "usage: $0 DB SPOOL [LIST]"
db=$1
spool=$2
list=${3:-[POP3.SMTP.HTTP.FTP]}
estacount=${ESTACOUNT:-estacount}
case $spool in -*) spool=./$spool ;; esac  # not an option to mkdir or mktemp

check_database_path "$db" || exit 2
services_in "$list" || exit 2
[ -f "$db" ] || fail "no database at $db: make it with create-database.sh $db '$list'"
sources=$(data_sources "$db") || exit 2
# The update carries the values by position: a LIST naming other sources,
# or the same in another order, would be refused by rrdtool unseen.
[ "$sources" = "$services" ] ||
    fail "the service list $list sends $services, but $db holds $sources: give the list that names its data sources"

# netstat from net-tools, not ss: estacount reads netstat's column layout;
# -W keeps long addresses whole. Written aside in the spool folder and renamed
# into place, so a run never reads a half-written listing. If netstat fails,
# the old dump stays and nothing is sent: the graph shows a gap rather than a
# repeated sample.
command -v netstat >/dev/null || fail "netstat not found (Debian: apt-get install net-tools)"
mkdir -p "$spool" || fail "cannot make the spool folder $spool"
tmp=$(mktemp "$spool/.netstatdump.XXXXXX") || fail "cannot write in the spool folder $spool"
trap 'rm -f "$tmp"' EXIT
netstat -tanW >"$tmp" || fail "netstat failed: no sample was sent"
chmod 644 "$tmp"  # mktemp's 0600 would hide from others what netstat shows anyone
mv -f "$tmp" "$spool/netstatdump.log" || fail "cannot rename the listing into $spool/netstatdump.log"

"$estacount" "$db" "$spool" "$list" fillrrd
status=$?
[ "$status" -eq 1 ] || echo "$0: estacount exited with status $status: no sample was sent" >&2
exit "$status"
