#!/bin/sh
# collect.sh DB SPOOL [LIST]: saves a fresh netstat listing as
# SPOOL/netstatdump.log, has estacount add its counts to the database DB
# made by create-database.sh with the same LIST (default
# [POP3.SMTP.HTTP.FTP]), and waits until the sample shows in DB. Meant for
# cron or the systemd timer, every five minutes; ESTACOUNT=/path/to/estacount
# when it is not on PATH. Needs rrdtool, netstat (net-tools) and flock
# (util-linux).
#
# Exit status: 0 when the sample landed: "rrdtool lastupdate DB" (through
# rrdcached when RRDCACHED_ADDRESS is set) shows a later update than just
# before the run. 2 otherwise, with one line on stderr saying why: refused
# before anything was sent (a LIST not in the dot form, selecting nothing or
# not naming the database's data sources in order, a missing database, a path
# estacount refuses, a database or daemon that cannot be read, a listing that
# could not be saved whole, estacount's own refusal), or "the sample did not
# land" when the update was started but never showed within five seconds.
# estacount does not wait for rrdtool; this script does, so a supervisor that
# kills what is left when it exits (systemd's cgroup) loses nothing.
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

# One run at a time per database: of two runs at once, both could see the
# one sample that landed (rrdtool drops an update that finds the file locked,
# rrdcached one in the same second as the last). A later run waits for the
# earlier one. flock, not rrdtool's own fcntl lock, which updates do not wait for.
command -v flock >/dev/null || fail "flock not found (Debian: util-linux): no sample was sent"
[ -r "$db" ] || fail "cannot read $db: no sample was sent"
exec 9<"$db"
flock -w 30 9 || fail "another run still held $db after 30 s: no sample was sent"

daemon=${RRDCACHED_ADDRESS:+ through rrdcached at $RRDCACHED_ADDRESS}
note_database "$db" || fail "cannot read the last update of $db$daemon: $last_error: no sample was sent"
now=$(date +%s)
[ "$before" -le $((now + 1)) ] ||
    fail "the last update of $db is at $before, after now ($now): rrdtool would refuse the sample, so none was sent"
# rrdcached refuses a second update in the same second: start in the next one.
while [ "$(date +%s)" -le "$before" ]; do sleep 0.1; done

command -v "$estacount" >/dev/null || fail "$estacount not found (set ESTACOUNT or PATH): no sample was sent"

# netstat from net-tools, not ss: estacount reads netstat's column layout;
# -W keeps long addresses whole. If the listing cannot be saved whole, the old
# one stays and nothing is sent: the graph shows a gap, not a false sample.
save_listing "$spool" || exit 2

# estacount's own messages (on stdout and stderr) go into the one line.
report=$("$estacount" "$db" "$spool" "$list" fillrrd 2>&1 9<&-)
status=$?
[ "$status" -eq 1 ] || fail "estacount exited with status $status: ${report:-no message}: no sample was sent"

wait_for_sample "$db" && exit 0
why="the last update stayed at $before"
[ -z "$last_error" ] || why="the last update cannot be read: $last_error"
writable=writable
[ -w "$db" ] || writable="not writable"
why="$why; $db is $writable by $(id -un)"
if [ -n "$daemon" ]; then
    answer=$(rrdtool info "$db" 2>&1 >/dev/null)
    why="$why; rrdcached at $RRDCACHED_ADDRESS ${answer:-answers}"
fi
fail "the sample did not land in $db within 5 s: $why"
