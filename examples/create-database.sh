#!/bin/sh
# create-database.sh DB [LIST]: creates the round-robin database that
# "estacount DB SPOOL LIST fillrrd" updates every five minutes: one data
# source for each service LIST selects (default [POP3.SMTP.HTTP.FTP]),
# named pop3, smtp, http, ftp and kept in that order, as the update carries
# the values by position. Makes DB's folder if needed; never overwrites.
# Exit status: 0 when the database was made; 2 otherwise, with one line on
# stderr saying why.
. "$(dirname "$0")/common.sh"

[ $# -ge 1 ] && [ $# -le 2 ] || fail "usage: $0 DB [LIST]"
db=$1
list=${2:-[POP3.SMTP.HTTP.FTP]}
check_database_path "$db" || exit 2
services_in "$list" || exit 2
[ ! -e "$db" ] || fail "$db already exists: remove it first to start again"
err=$(mkdir -p "$(dirname "$db")" 2>&1) || fail "cannot make the folder of $db: $err"

# GAUGE because each value is how many connections are open at that moment.
# Step 300 s for a run every five minutes; heartbeat 600 s so that one missed
# run leaves no gap but a longer outage shows as unknown.
set --
for name in $services; do
    set -- "$@" "DS:$name:GAUGE:600:0:U"
done
# Archives, AVERAGE for the trend and MAX for the peaks the average hides:
#   1 step   x 288 = a day of 5-minute points
#   12 steps x 744 = a month (31 days) of 1-hour points
#   288 steps x 366 = a year of 1-day points
err=$(rrdtool create "$db" --no-overwrite --step 300 "$@" \
    RRA:AVERAGE:0.5:1:288 RRA:AVERAGE:0.5:12:744 RRA:AVERAGE:0.5:288:366 \
    RRA:MAX:0.5:1:288 RRA:MAX:0.5:12:744 RRA:MAX:0.5:288:366 2>&1) ||
    fail "rrdtool could not create $db: $err"
