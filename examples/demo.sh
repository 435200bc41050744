#!/bin/sh
# demo.sh [BUILD_DIR]: the whole loop in a few seconds. Counts the bundled
# example dump into a scratch database several times, shows the last sample
# and draws it. Runs BUILD_DIR/estacount when given a build folder, else
# estacount on PATH. Everything goes into a new folder of its own (mktemp -d),
# which it leaves for you to look at and remove; it deletes nothing else.
# Exit status: 0 when the graph was drawn; 2 otherwise, with one line on
# stderr saying why.
. "$(dirname "$0")/common.sh"

[ $# -le 1 ] || fail "usage: $0 [BUILD_DIR]"
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -eq 1 ]; then
    estacount=$1/estacount
    [ -x "$estacount" ] || fail "no program at $estacount: build it first"
else
    estacount=$(command -v estacount) || fail "estacount is not on PATH: install it, or give the build folder"
fi
command -v rrdtool >/dev/null || fail "rrdtool is not on PATH (Debian: apt-get install rrdtool)"

demo=$(mktemp -d "${TMPDIR:-/tmp}/estacount-demo.XXXXXX") || fail "cannot make a scratch folder"
db=$demo/estacount.rrd
samples=6
# On failure the scratch folder goes; on success it stays, holding the graph.
trap 'rm -rf "$demo"' EXIT
trap 'exit 2' HUP INT TERM
check_database_path "$db" || fail "set TMPDIR to a folder whose path estacount accepts"

# A 1-second step instead of the real five minutes, so samples a second apart
# make a line; the start is just behind now so the first sample counts too.
err=$(rrdtool create "$db" --step 1 --start now-2s \
    DS:pop3:GAUGE:5:0:U DS:smtp:GAUGE:5:0:U DS:http:GAUGE:5:0:U DS:ftp:GAUGE:5:0:U \
    RRA:AVERAGE:0.5:1:300 RRA:MAX:0.5:1:300 2>&1) || fail "rrdtool could not create $db: $err"
unset RRDCACHED_ADDRESS  # the scratch database is no daemon's

first=$(date +%s)
i=0
while [ "$i" -lt "$samples" ]; do
    note_database "$db" || fail "rrdtool could not read $db: $last_error"
    # One sample for each one-second step, so that the line has points.
    while [ "$(date +%s)" -le "$before" ]; do sleep 0.1; done
    report=$("$estacount" "$db" "$here/spool" '[POP3.SMTP.HTTP.FTP]' fillrrd 2>&1)
    status=$?
    [ "$status" -eq 1 ] || fail "estacount exited with status $status: $report"
    # estacount does not wait for rrdtool: wait for the sample.
    wait_for_sample "$db" || fail "sample $((i + 1)) never reached $db"
    i=$((i + 1))
done

rrdtool lastupdate "$db" || fail "rrdtool could not read $db"
# From the second before the first sample, whose step it closes, to now.
"$here/draw-graph.sh" "$db" "$demo/estacount.png" $((first - 1)) || exit 2
trap - EXIT
echo "graph: $demo/estacount.png (remove $demo when done)"
