#!/bin/sh
# create-database.sh DB: creates the round-robin database that
# "estacount DB SPOOL [POP3.SMTP.HTTP.FTP] fillrrd" updates every five minutes.
set -eu

if [ $# -ne 1 ]; then
    echo "usage: $0 DB" >&2
    exit 2
fi
db=$1

# estacount hands rrdtool a command line, not one argument per word: a space
# would cut the path in two and every update would fail unseen.
case $db in
*' '*)
    echo "$0: the database path must not hold a space: $db" >&2
    exit 2
    ;;
esac

# The update carries values by position (N:pop3:smtp:http:ftp), never by
# name, so the sources must stay in estacount's order: POP3, SMTP, HTTP, FTP.
# GAUGE because each value is how many connections are open at that moment.
# Step 300 s for a run every five minutes; heartbeat 600 s so that one missed
# run leaves no gap but a longer outage shows as unknown.
# Archives, AVERAGE for the trend and MAX for the peaks the average hides:
#   1 step   x 288 = a day of 5-minute points
#   12 steps x 744 = a month (31 days) of 1-hour points
#   288 steps x 366 = a year of 1-day points
exec rrdtool create "$db" --no-overwrite --step 300 \
    DS:pop3:GAUGE:600:0:U \
    DS:smtp:GAUGE:600:0:U \
    DS:http:GAUGE:600:0:U \
    DS:ftp:GAUGE:600:0:U \
    RRA:AVERAGE:0.5:1:288 RRA:AVERAGE:0.5:12:744 RRA:AVERAGE:0.5:288:366 \
    RRA:MAX:0.5:1:288 RRA:MAX:0.5:12:744 RRA:MAX:0.5:288:366
