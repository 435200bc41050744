#!/bin/sh
# demo.sh BUILD_DIR: the whole loop in a few seconds, after building. Counts
# the bundled example dump into a scratch database several times, shows the
# last sample and draws it. Everything goes in BUILD_DIR/demo, wiped first.
set -eu

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
estacount=$build/estacount
demo=$build/demo
db=$demo/estacount.rrd
samples=6

fail() {
    echo "$0: $*" >&2
    exit 1
}

[ -x "$estacount" ] || fail "no program at $estacount: build it first"
command -v rrdtool >/dev/null || fail "rrdtool is not on PATH (Debian: apt-get install rrdtool)"
case $db in
*' '*) fail "estacount would split the path $db at its space: use a build folder without one" ;;
esac

rm -rf "$demo"
mkdir -p "$demo"
# A 1-second step instead of the real five minutes, so samples a second apart
# make a line; the start is just behind now so the first sample counts too.
rrdtool create "$db" --step 1 --start now-2s \
    DS:pop3:GAUGE:5:0:U DS:smtp:GAUGE:5:0:U DS:http:GAUGE:5:0:U DS:ftp:GAUGE:5:0:U \
    RRA:AVERAGE:0.5:1:300 RRA:MAX:0.5:1:300

# Every rrdtool command locks the file, and an update that finds it locked is
# dropped unseen: so poll gently, and a read that loses the race is a "not yet".
last_update() {
    rrdtool info "$db" 2>/dev/null | sed -n 's/^last_update = //p'
}

i=0
while [ "$i" -lt "$samples" ]; do
    before=$(last_update)
    status=0
    "$estacount" "$db" "$here/spool" '[POP3.SMTP.HTTP.FTP]' fillrrd || status=$?
    [ "$status" -eq 1 ] || fail "estacount exited with status $status"
    # estacount does not wait for rrdtool: wait (5 s at most) for the sample
    # before the next run, which must come at least a second later anyway.
    tries=0
    now=$before
    while [ -z "$now" ] || [ "$now" = "$before" ]; do
        tries=$((tries + 1))
        [ "$tries" -le 25 ] || fail "sample $((i + 1)) never reached $db"
        sleep 0.2
        now=$(last_update)
    done
    i=$((i + 1))
    [ "$i" -eq "$samples" ] || sleep 1
done

rrdtool lastupdate "$db"
"$here/draw-graph.sh" "$db" "$demo/estacount.png" end-60s
echo "graph: $demo/estacount.png"
