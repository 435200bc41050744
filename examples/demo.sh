#!/bin/sh
# demo.sh [BUILD_DIR]: the whole loop in a few seconds. Counts the bundled
# example dump into a scratch database several times with estacount, shows
# the last sample and draws it with estacount-kit. Runs the programs in
# BUILD_DIR when given a build folder, else those on PATH. Everything goes
# into a new folder of its own (mktemp -d), which it leaves for you to look
# at and remove; it deletes nothing else.
# Exit status: 0 when the graph was drawn; 2 otherwise, with one line on
# stderr saying why.
fail() {
    printf '%s: %s\n' "$0" "$*" >&2
    exit 2
}

[ $# -le 1 ] || fail "usage: $0 [BUILD_DIR]"
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -eq 1 ]; then
    estacount=$1/estacount kit=$1/estacount-kit
    [ -x "$estacount" ] && [ -x "$kit" ] || fail "no programs in $1: build them first"
else
    estacount=$(command -v estacount) && kit=$(command -v estacount-kit) ||
        fail "estacount or estacount-kit is not on PATH: install them, or give the build folder"
fi
command -v rrdtool >/dev/null || fail "rrdtool is not on PATH (Debian: apt-get install rrdtool)"

demo=$(mktemp -d "${TMPDIR:-/tmp}/estacount-demo.XXXXXX") || fail "cannot make a scratch folder"
db=$demo/estacount.rrd
# On failure the scratch folder goes; on success it stays, holding the graph.
trap 'rm -rf "$demo"' EXIT
trap 'exit 2' HUP INT TERM
unset RRDCACHED_ADDRESS  # the scratch database is no daemon's

# A 1-second step instead of the real five minutes, so samples a second apart
# make a line; the start is just behind now so the first sample counts too.
err=$(rrdtool create "$db" --step 1 --start now-2s \
    DS:pop3:GAUGE:5:0:U DS:smtp:GAUGE:5:0:U DS:http:GAUGE:5:0:U DS:ftp:GAUGE:5:0:U \
    RRA:AVERAGE:0.5:1:300 RRA:MAX:0.5:1:300 2>&1) || fail "rrdtool could not create $db: $err"
# The time of the last update; 0 while rrdtool's update holds the file.
last() {
    t=$(rrdtool lastupdate "$db" 2>/dev/null | sed -n 's/^\([0-9][0-9]*\):.*/\1/p')
    echo "${t:-0}"
}
# A read takes rrdtool's lock, and an update that finds it taken is lost:
# the file is read only once the update has changed it.
changed() { [ "$(stat -c %y "$db")" != "$stamp" ]; }

first=$(date +%s)
for i in 1 2 3 4 5 6; do
    before=$(last) stamp=$(stat -c %y "$db")
    # One sample for each one-second step, so that the line has points.
    while [ "$(date +%s)" -le "$before" ]; do sleep 0.1; done
    report=$("$estacount" "$db" "$here/spool" '[POP3.SMTP.HTTP.FTP]' fillrrd 2>&1)
    status=$?
    [ "$status" -eq 1 ] || fail "estacount exited with status $status: $report"
    # estacount does not wait for rrdtool: wait for the sample, 5 s at most.
    tries=0
    while ! changed || [ "$(last)" -le "$before" ]; do
        tries=$((tries + 1))
        [ "$tries" -le 50 ] || fail "sample $i never reached $db"
        sleep 0.1
    done
done

rrdtool lastupdate "$db" || fail "rrdtool could not read $db"
# From the second before the first sample, whose step it closes, to now.
"$kit" graph "$db" "$demo/estacount.png" $((first - 1)) || exit 2
trap - EXIT
echo "graph: $demo/estacount.png (remove $demo when done)"
