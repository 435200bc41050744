#!/usr/bin/env bash
# The kit of scripts as installed, with the real rrdtool, rrdcached, netstat,
# promtool and systemd-analyze: each script's refusals and its work, and the
# README's rrdcached commands and timer drop-in as written.
#   kit.sh PROGRAM BUILD_DIR
# What needs root (bind mounts, namespaces, Debian's rrdcached) comes last,
# and is skipped without it.
set -u
build=$(realpath "${2:?usage: $0 PROGRAM BUILD_DIR}")
. "$(dirname "$0")/lib.sh" "$1"
prefix=$scratch/prefix kit=$prefix/share/estacount/examples units=$prefix/share/estacount/systemd
"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >/dev/null || { echo "cmake --install failed"; exit 1; }
mkdir tmp && export PATH=$prefix/bin:$PATH TMPDIR=$scratch/tmp

# ends NAME STATUS TEXT COMMAND...: COMMAND exits STATUS, a line matching the
# extended regex TEXT on stderr (with TEXT empty: nothing on stderr).
ends() {
    local name=$1 want=$2 text=$3 status; shift 3
    "$@" >.out 2>.err
    status=$?
    [ "$status" = "$want" ] && if [ -n "$text" ]; then grep -qE -- "$text" .err; else [ ! -s .err ]; fi ||
        { failed=$((failed + 1)) && echo "FAIL: $name: status $status, stdout and stderr:" && sed 's/^/  /' .out .err && return; }
    passed=$((passed + 1))
}
wait_for() { local i; for ((i = 0; i < 100; i++)); do "$@" && return; sleep 0.1; done; false; }
last_time() { rrdtool lastupdate "$@" | sed -n 's/^\([0-9]*\):.*/\1/p'; }
is_png() { local f; for f; do [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || return; done; }
# readme_block NAME: the lines of the README's code block marked NAME.
readme_block() { sed -n "/^<!-- tests\/e2e\/kit.sh runs this block: $1 -->/,/^\`\`\`\$/p" "$examples/../README.md" | sed '1,2d;$d'; }

ends "comma form"           2 "not commas"            "$kit/create-database.sh" new.rrd '[SMTP,POP3,HTTP,FTP]'
ends "nothing selected"     2 "selects nothing"       "$kit/create-database.sh" new.rrd '[]'
ends "mixed case"           2 "'Http' in the service" "$kit/create-database.sh" new.rrd '[pop3.Http]'
ends "empty name"           2 "no service name"       "$kit/create-database.sh" new.rrd '[pop3..http]'
ends "no brackets"          2 "not in brackets"       "$kit/create-database.sh" new.rrd HTTP
touch taken.rrd && ends "existing file" 2 "already exists" "$kit/create-database.sh" taken.rrd
ends "space in the path"    2 "holds a space"         "$kit/create-database.sh" 'my stats.rrd'
ends "leading -"            2 "begins with -"         "$kit/create-database.sh" -x.rrd
ends "control character"    2 "control character"     "$kit/create-database.sh" $'a\tb.rrd'
ends "keyword"              2 "write ./help"          "$kit/create-database.sh" help
expect "refusals make nothing" [ -z "$(ls -d -- new.rrd 'my stats.rrd' -x.rrd $'a\tb.rrd' help 2>/dev/null)" ]
# Any order, duplicates once, the list ends at its first ]; folders made.
ends "two services"         0 ""                      "$kit/create-database.sh" db/two.rrd '[HTTP.pop3.http]junk]'
expect "in table order"        [ "$(rrdtool info db/two.rrd | sed -n 's/^ds\[\(.*\)\]\.index.*/\1/p' | tr '\n' ' ')" = "pop3 http " ]

two='[http.POP3]'
ends "list not the sources" 2 "but db/two.rrd holds pop3 http" "$kit/collect.sh" db/two.rrd spool
ends "comma form"           2 "not commas"            "$kit/collect.sh" db/two.rrd spool '[HTTP,POP3]'
ends "missing database"     2 "no database at no.rrd" "$kit/collect.sh" no.rrd spool "$two"
ends "leading -"            2 "begins with -"         "$kit/collect.sh" -db/two.rrd spool "$two"
ends "not a database"       2 "taken.rrd"             "$kit/collect.sh" taken.rrd spool '[POP3]'
ESTACOUNT=$scratch/nowhere ends "no estacount" 2 "nowhere not found" "$kit/collect.sh" db/two.rrd spool "$two"
expect "all before netstat"    [ ! -e spool ]
printf '#!/bin/sh\nexit 255\n' >refuser && chmod +x refuser &&
    ESTACOUNT=$scratch/refuser ends "estacount's status" 2 "status 255" "$kit/collect.sh" db/two.rrd spool "$two"
# Status 0 means the sample is there already: read at once, no waiting.
then=$(last_time db/two.rrd)
ends "sample"               0 ""                      "$kit/collect.sh" db/two.rrd spool/new "$two"
expect "sample lands, with two counts" [ "$(rrdtool lastupdate db/two.rrd | awk -F': ' -v t="$then" '$1 > t && $2 ~ /^[0-9]+ [0-9]+$/')" ]
expect "the listing in place, nothing aside" [ "$(ls -A spool/new)" = netstatdump.log ]
expect "from netstat"          grep -q '^Proto Recv-Q' spool/new/netstatdump.log
mkdir target && ln -sfT ../../target spool/new/netstatdump.log
ends "listing over a symlink to a folder" 0 ""  "$kit/collect.sh" db/two.rrd spool/new "$two"
expect "replaces the link, not into the folder" [ -z "$(ls -A target)" -a ! -L spool/new/netstatdump.log ]

# Every sample that is lost says so, and none is recorded. Of two runs at
# once, the second must wait until the first one's sample has landed, or
# both may take that one sample for their own: a stand-in rrdtool on PATH
# notes when each update starts and lets 0.3 s pass before it.
mkdir stand-in counter && ln -s "$(type -P true)" stand-in/netstat
printf '#!/bin/sh\n[ "$1" != update ] || { date +%%s.%%N >>%s/updates; sleep 0.3; }\nexec %s "$@"\n' "$scratch" "$(command -v rrdtool)" >counter/rrdtool && chmod +x counter/rrdtool
(PATH=$scratch/counter:$PATH; "$kit/collect.sh" db/two.rrd spool "$two" & "$kit/collect.sh" db/two.rrd spool "$two"; echo $? >statuses; wait $!; echo $? >>statuses)
expect "two runs at once: both land" [ "$(cat statuses)" = $'0\n0' ]
expect "one after the other" awk 'NR == 2 { gap = $1 - first } { first = $1 } END { exit NR != 2 || gap < 0.3 }' updates
echo old >spool/new/netstatdump.log
then=$(last_time db/two.rrd)
RRDCACHED_ADDRESS=unix:$scratch/dead.sock ends "dead socket" 2 "Unable to connect to rrdcached" "$kit/collect.sh" db/two.rrd spool/new "$two"
PATH=$scratch/stand-in:$PATH ends "netstat prints nothing" 2 "no connection table" "$kit/collect.sh" db/two.rrd spool/new "$two"
expect "old listing kept"      [ "$(cat spool/new/netstatdump.log)" = old ]

rrdtool create other.rrd DS:a:GAUGE:600:0:U RRA:AVERAGE:0.5:1:10
ends "missing database"     2 "no database"           "$kit/draw-graph.sh" no.rrd g.png
ends "no known source"      2 "holds none of"         "$kit/draw-graph.sh" other.rrd g.png
umask 077  # the graph is for the web server to read all the same
ends "drawn"                0 ""                      "$kit/draw-graph.sh" db/two.rrd www/graphs/two.png end-1h
umask 022
expect "as a PNG others read"  eval 'is_png www/graphs/two.png && [ "$(stat -c %a www/graphs/two.png)" = 644 ]'
echo mine >victim && ln -s ../../victim www/graphs/link.png
ends "drawn over a symlink" 0 ""                      "$kit/draw-graph.sh" db/two.rrd www/graphs/link.png end-1h
expect "replaces the link, leaves the file" eval '[ "$(cat victim)" = mine ] && is_png www/graphs/link.png' 

# The user's folder, holding a program to run and a demo/ of their own.
mkdir -p user/demo && cp "$program" user/estacount && echo mine | tee user/file.txt >user/demo/notes.txt
listing() { (cd user && find . -printf '%p %s %m %T@\n' -type f -exec sha256sum {} + | sort); }
before=$(listing)
expect "demo runs twice"       eval '(cd user && "$kit/demo.sh" . && "$kit/demo.sh") >demo.out 2>&1'
expect "leaves the user's files" [ "$(listing)" = "$before" ]
graphs=$(sed -n 's/^graph: \([^ ]*\).*/\1/p' demo.out)
expect "and two graphs, each a PNG" eval '[ "$(wc -w <<<"$graphs")" = 2 ] && is_png $graphs'
ends "no program there"     2 "no program at"         "$kit/demo.sh" "$scratch/nowhere"

# The stale listing is refused by default, taken with --max-age, and replaced
# by --save.
mkdir metrics && echo old >metrics/estacount.prom
cp -p "$kit/spool/netstatdump.log" spool/new/ && touch -d '601 seconds ago' spool/new/netstatdump.log
ends "no dump"              2 "no listing at nowhere" "$kit/prometheus-textfile.sh" nowhere metrics/estacount.prom
ends "comma form"           2 "not commas"            "$kit/prometheus-textfile.sh" "$kit/spool" metrics/estacount.prom '[HTTP,POP3]'
ends "not for node_exporter" 2 "does not end in .prom" "$kit/prometheus-textfile.sh" "$kit/spool" metrics/estacount.txt
ends "stale listing"        2 "more than 600 s"       "$kit/prometheus-textfile.sh" spool/new metrics/estacount.prom
expect "leave the file as it was" [ "$(ls -A metrics)" = estacount.prom -a "$(cat metrics/estacount.prom)" = old ]
ends "metrics"              0 ""                      "$kit/prometheus-textfile.sh" --max-age 999999999 spool/new metrics/estacount.prom '[HTTP.pop3]'
expect "with the counts and the listing's time" [ "$(grep -v '^#' metrics/estacount.prom)" = "$(printf 'estacount_established_connections{service="%s"} %s\n' pop3 3 http 5
    echo "estacount_listing_timestamp_seconds $(stat -c %Y spool/new/netstatdump.log)")" ]
expect "that promtool accepts" promtool check metrics <metrics/estacount.prom
expect "and nothing aside"     [ "$(ls -A metrics)" = estacount.prom ]
ends "saved and written"    0 ""                      "$kit/prometheus-textfile.sh" --save spool/new metrics/estacount.prom

# The README's drop-in, merged as systemd merges it, verified with the rest.
readme_block "timer drop-in" | sed "s|/usr/share/estacount/examples|$kit|" >>"$units/estacount-collect.service"
expect "units verify" env MANPATH="$prefix/share/man" systemd-analyze verify --man=$(command -v man >/dev/null && echo yes || echo no) \
    "$units"/estacount-{collect,graph}.{service,timer}

# run_block NAME SED...: runs the block but its last line, then that line (a
# read-back) until it shows a sample; the kit's installed path and the
# folders the test may not use in place are swapped by SED.
run_block() {
    local name=$1 lines; shift
    mapfile -t lines < <(readme_block "$name" | sed -e "s|/usr/local/share/estacount/examples|$kit|g" "$@")
    for line in "${lines[@]:0:${#lines[@]}-1}"; do bash -c "$line" >/dev/null; done
    landed() { bash -c "${lines[-1]}" 2>/dev/null | grep -qE '^[0-9]+: [0-9]+ [0-9]+ [0-9]+ [0-9]+$'; }
    expect "README block $name: the sample lands" wait_for landed
}
# A daemon of one's own: its folders and socket go to the scratch folder.
run_block "rrdcached own" -e "s|/var/lib/estacount|$scratch/lib|g" -e "s|/run/estacount-rrdcached|$scratch/rrdcached|g" -e "s|/var/spool/estacount|$scratch/spool-own|g"
[ -f rrdcached.pid ] && pid=$(cat rrdcached.pid) && kill "$pid" && wait_for eval '! kill -0 "$pid" 2>/dev/null'

expect "no sample from the lost runs" [ "$(last_time db/two.rrd)" = "$then" ]
[ "$(id -u)" = 0 ] || { echo "SKIP: read-only database, full spool, unit killed at exit, Debian's rrdcached: run as root to test them"; finish; exit; }
# read_only FILE COMMAND...: COMMAND sees FILE on a read-only bind mount.
read_only() { unshare -m sh -c 'mount --bind -o ro "$0" "$0" && exec "$@"' "$@"; }
# full_spool DIR COMMAND...: COMMAND sees DIR as a full disk holding an old
# listing, which is printed afterwards.
full_spool() { unshare -m sh -c 'mount -t tmpfs -o size=16k full "$0" && echo old >"$0/netstatdump.log" &&
    { cat /dev/zero >"$0/fill" 2>/dev/null; "$@"; s=$?; cat "$0/netstatdump.log"; exit $s; }' "$@"; }
ends "read-only database"   2 "did not land in db/two.rrd within 5 s: the last update stayed at [0-9]+; db/two.rrd is not writable by root" read_only db/two.rrd "$kit/collect.sh" db/two.rrd spool "$two"
mkdir spool/full && ends "full spool" 2 "No space left on device" full_spool spool/full "$kit/collect.sh" db/two.rrd spool/full "$two"
expect "old listing kept on the full disk" [ "$(cat .out)" = old ]

# The unit's commands as installed, its /var folders swapped for scratch
# ones, in a PID namespace whose first process, once the command exits
# (a blocking wait), kills all that is left, as systemd's cgroup kill does.
command_of() { sed -n "s/^$1=[-@:+!]*//p" "$units/estacount-collect.service" | sed -e "s|/var/|$scratch/var/|g"; }
read -ra exec_start <<<"$(command_of ExecStart)" && read -ra exec_post <<<"$(command_of ExecStartPost)"
read -ra unit_env <<<"$(sed -n 's/^Environment=//p' "$units/estacount-collect.service")"
killed_at_exit() { unshare --fork --pid --mount-proc env "${unit_env[@]}" sh -c '"$@"; s=$?; kill -TERM -1 2>/dev/null; kill -CONT -1 2>/dev/null; exit $s' sh "$@"; }
"$kit/create-database.sh" "${exec_start[1]}" "${exec_start[@]:3:1}"
for run in 1 2 3 4 5; do
    unit_then=$(last_time "${exec_start[1]}") && ends "unit killed at exit, run $run" 0 "" killed_at_exit "${exec_start[@]}"
    expect "unit run $run leaves its sample" [ "$(last_time "${exec_start[1]}")" -gt "$unit_then" ]
done
ends "the drop-in's command" 0 "" killed_at_exit "${exec_post[@]}"
expect "writes four counts" [ "$(grep -c '^estacount_established' "${exec_post[2]}")" = 4 ]

# Debian's packaged daemon, started if need be (and then stopped by its pid);
# its base folder is fixed, so the database only gets a name of its own.
expect "Debian's rrdcached package is installed" test -x /etc/init.d/rrdcached
if [ -x /etc/init.d/rrdcached ]; then
    had_base=$([ -d /var/lib/rrdcached ] && echo yes)
    had_daemon=$(service rrdcached status >/dev/null 2>&1 && echo yes)
    db=/var/lib/rrdcached/db/estacount-kit-test-$$.rrd
    run_block "rrdcached packaged" -e "s|/var/lib/rrdcached/db/estacount.rrd|$db|g" -e "s|/var/spool/estacount|$scratch/spool-packaged|g"
    RRDCACHED_ADDRESS=unix:/var/run/rrdcached.sock ends "outside the packaged daemon's folder" 2 "rrdcached at unix:/var/run/rrdcached.sock" "$kit/collect.sh" db/two.rrd spool "$two"
    rrdtool flushcached --daemon unix:/var/run/rrdcached.sock "$db" 2>/dev/null; rm -f "$db"
    [ -n "$had_daemon" ] || { pid=$(cat /var/run/rrdcached.pid) && kill "$pid" && wait_for eval '! kill -0 "$pid" 2>/dev/null'; }
    [ -n "$had_base" ] || rm -rf /var/lib/rrdcached
fi
expect "and none from those as root" [ "$(last_time db/two.rrd)" = "$then" ]
finish
