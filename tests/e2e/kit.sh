#!/usr/bin/env bash
# estacount-kit as installed, with the real rrdtool, rrdcached, promtool and
# systemd-analyze: each job's refusals and its work, its losses, kills and
# runs at once, a remote rrdcached fed by two hosts, and the rrdcached
# commands and timer drop-in of doc/linux.md as written.
#   kit.sh PROGRAM BUILD_DIR
# What needs root (bind mounts, namespaces, Debian's rrdcached) comes last,
# and is skipped without it.
set -u
build=$(realpath "${2:?usage: $0 PROGRAM BUILD_DIR}")
. "$(dirname "$0")/lib.sh" "$1"
prefix=$scratch/prefix units=$scratch/prefix/share/estacount/systemd
"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >/dev/null || { echo "cmake --install failed"; exit 1; }
mkdir tmp && export PATH=$prefix/bin:$PATH TMPDIR=$scratch/tmp LC_ALL=C
unset RRDCACHED_ADDRESS

# ends NAME STATUS TEXT COMMAND...: COMMAND exits STATUS, with exactly one
# line on stderr matching the extended regex TEXT (none with TEXT empty).
ends() {
    local name=$1 want=$2 text=$3 status; shift 3
    "$@" >.out 2>.err
    status=$?
    [ "$status" = "$want" ] && if [ -n "$text" ]; then [ "$(wc -l <.err)" = 1 ] && grep -qE -- "$text" .err; else [ ! -s .err ]; fi ||
        { failed=$((failed + 1)) && echo "FAIL: $name: status $status, stdout and stderr:" && sed 's/^/  /' .out .err && return; }
    passed=$((passed + 1))
}
wait_for() { local i; for ((i = 0; i < 100; i++)); do "$@" && return; sleep 0.1; done; false; }
last_time() { rrdtool lastupdate "$@" | sed -n 's/^\([0-9]*\):.*/\1/p'; }
is_png() { local f; for f; do [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || return; done; }
sources() { rrdtool info "$1" | sed -n 's/^ds\[\(.*\)\]\.index.*/\1/p' | paste -sd' '; }
# The counts a video run finds in SPOOL for LIST, as N:a:b...
replayed() { "$program" x "$1" "$2" video | sed -n 's/^[A-Z0-9]*: //p' | paste -sd: | sed 's/^/N:/'; }
doc_block() { sed -n "/^<!-- tests\/e2e\/kit.sh runs this block: $1 -->/,/^\`\`\`\$/p" "$examples/../doc/linux.md" | sed '1,2d;$d'; }
two='[http.POP3]'

: >taken.rrd
while IFS='|' read -r name status text words; do
    eval "ends \"\$name\" $status \"\$text\" estacount-kit $words"
done <<'EOF_ROWS'
no job|2|no job given|
unknown job|2|no job "frob"|frob
words missing|2|^estacount-kit: usage: estacount-kit collect DB SPOOL \[LIST\]$|collect db.rrd
help|0||--help
comma form|2|"SMTP,POP3" in the service list .* is no service|create new.rrd '[SMTP,POP3]'
nothing selected|2|selects no service|create new.rrd '[]'
mixed case|2|"Http" in the service list|create new.rrd '[pop3.Http]'
no brackets|2|not in brackets|create new.rrd HTTP
space in the path|2|holds a space|create 'my stats.rrd'
leading -|2|begins with -, .*write ./-x.rrd|create -x.rrd
control character|2|holds a control character|create $'a\tb.rrd'
keyword|2|is one of estacount's keywords: write ./help|create help
empty path|2|the database path is empty|create ''
a list for the database|2|the database path \[HTTP\] is a service list: give the database first|create '[HTTP]'
unknown option|2|no option --bogus; usage|textfile --bogus spool m/e.prom
graph: empty path|2|the graph's path is empty|graph db/two.rrd ''
two services, any order, once each|0||create db/two.rrd '[HTTP.pop3..http]junk]'
already there|2|db/two.rrd already exists|create db/two.rrd
list not the sources|2|sends pop3 smtp http ftp, but db/two.rrd holds pop3 http: .*no sample was sent|collect db/two.rrd spool
missing database|2|no database at no.rrd: make it with estacount-kit create no.rrd|collect no.rrd spool "$two"
not a database|2|no database at spool: make it|collect spool spool '[POP3]'
not an rrd|2|cannot read taken.rrd: ERROR: .*no sample was sent|collect taken.rrd spool '[POP3]'
max-age no number|2|--max-age takes a number|textfile --max-age soon spool m/e.prom
not for node_exporter|2|does not end in .prom: node_exporter would never read it|textfile spool m/e.txt
no listing|2|no listing at nowhere/netstatdump.log: m/e.prom was left as it was|textfile nowhere m/e.prom
graph: missing database|2|no database at no.rrd|graph no.rrd g.png
EOF_ROWS
expect "refusals make nothing" [ -z "$(ls -d -- new.rrd 'my stats.rrd' -x.rrd $'a\tb.rrd' help '[HTTP]' no.rrd spool/* m g.png 2>/dev/null)" ]
expect "made in table order" [ "$(sources db/two.rrd)" = "pop3 http" ]

# collect: the sample is there at exit 0, and it is what the saved listing
# counts; the listing replaces a symlink planted at its name.
then=$(last_time db/two.rrd)
mkdir target && mkdir -p spool && ln -sfT ../target spool/netstatdump.log
ends "sample"               0 ""                      estacount-kit collect db/two.rrd spool "$two"
expect "sample lands, the counts of the saved listing" [ "$(last_time db/two.rrd)" -gt "$then" -a \
    "$(rrdtool lastupdate db/two.rrd | sed -n 's/^[0-9]*: /N:/p' | tr ' ' :)" = "$(replayed spool "$two")" ]
expect "the listing replaced the link, in English" [ -z "$(ls -A target)" -a ! -L spool/netstatdump.log -a "$(head -c 6 spool/netstatdump.log)" = "Proto " ]
expect "nothing left aside"   [ "$(ls -A spool | paste -sd' ')" = ".estacount-kit.last .estacount-kit.lock netstatdump.log" ]

# A FIFO planted where the run notes its second is never opened.
rm spool/.estacount-kit.last && mkfifo spool/.estacount-kit.last && sleep 1
ends "a FIFO as the noted second" 0 "" timeout 10 estacount-kit collect db/two.rrd spool "$two"

# Losses: each says so on one line and records nothing.
then=$(last_time db/two.rrd)
RRDCACHED_ADDRESS=unix:$scratch/dead.sock ends "dead socket" 2 "Unable to connect to rrdcached.*no sample was sent" estacount-kit collect db/two.rrd spool "$two"
mkdir fake && printf '#!/bin/sh\n[ "$1" = update ] && { echo "a dump line"; echo "ERROR: it failed"; echo "ERROR: on two lines" >&2; exit 1; }\nexec %s "$@"\n' "$(command -v rrdtool)" >fake/rrdtool && chmod +x fake/rrdtool
PATH=$scratch/fake:$PATH ends "rrdtool refuses, in its ERROR lines" 2 "the sample did not land in db/two.rrd: ERROR: it failed ERROR: on two lines$" estacount-kit collect db/two.rrd spool "$two"
printf '#!/bin/sh\n[ "$1" = update ] && exec sleep 60\nexec %s "$@"\n' "$(command -v rrdtool)" >fake/rrdtool
PATH=$scratch/fake:$PATH ends "rrdtool hangs" 2 "rrdtool update did not end within 20 s and was stopped" estacount-kit collect db/two.rrd spool "$two"
ends "no rrdtool" 2 "rrdtool could not be started: rrdtool: No such file" env PATH="$prefix/bin" estacount-kit collect db/two.rrd spool "$two"
(exec 9>spool/.estacount-kit.lock && flock 9 && : >held && exec sleep 40) & holder=$!
wait_for [ -e held ]
ends "lock held past the wait" 2 "cannot lock the spool folder: spool/.estacount-kit.lock: held by another run for 30 s: no sample was sent" estacount-kit collect db/two.rrd spool "$two"
kill $holder; wait $holder 2>/dev/null
expect "no sample from the losses" [ "$(last_time db/two.rrd)" = "$then" ]

# Killed at random moments, the whole process group at once, as a
# supervisor would: the next run takes the lock at once and lands.
for i in 1 2 3 4 5 6; do
    setsid estacount-kit collect db/two.rrd spool "$two" 2>/dev/null & pid=$!
    sleep "0.$((RANDOM % 6))"; kill -KILL -- -$pid 2>/dev/null; wait $pid 2>/dev/null
    then=$(last_time db/two.rrd) start=$(date +%s%N)
    ends "after kill $i: the next run" 0 "" estacount-kit collect db/two.rrd spool "$two"
    took=$(( ($(date +%s%N) - start) / 1000000 )) now=$(last_time db/two.rrd)
    expect "after kill $i: lands within 3 s (took $took ms, last update $then, then $now)" [ "$now" -gt "$then" -a "$took" -le 3000 ]
done
# Runs at once: each exit 0 is an update that landed, counted by a logging
# rrdtool ahead on PATH; two databases on one spool do not collide.
printf '#!/bin/sh\n%s "$@"; s=$?\n[ "$1" = update ] && [ $s = 0 ] && echo "$2" >>%s/landed\nexit $s\n' "$(command -v rrdtool)" "$scratch" >fake/rrdtool
estacount-kit create db/other.rrd '[FTP]'
for i in 1 2 3 4 5 6; do (PATH=$scratch/fake:$PATH estacount-kit collect db/two.rrd spool "$two" 2>>at-once.err; echo $? >>statuses) & done
(PATH=$scratch/fake:$PATH estacount-kit collect db/other.rrd spool '[FTP]'; echo $? >other-status) & wait
expect "six at once: every exit 0 landed" [ "$(grep -c '^0$' statuses)" = "$(grep -c two.rrd landed)" -a "$(grep -c two.rrd landed)" -ge 1 ]
expect "six at once: all land, one after the other" [ "$(grep -c '^0$' statuses)" = 6 ]
expect "another database on the same spool lands" [ "$(cat other-status)" = 0 -a "$(grep -c other.rrd landed)" = 1 ]

# graph: drawn through a new file; a symlink at the name is replaced, its
# target left alone; readable by others under any umask.
rrdtool create db/alien.rrd DS:a:GAUGE:600:0:U RRA:AVERAGE:0.5:1:10
ends "no known source"      2 "holds none of pop3, smtp, http, ftp \(it holds a\)" estacount-kit graph db/alien.rrd g.png
echo mine >victim && mkdir -p www/graphs && ln -s ../../victim www/graphs/link.png
umask 077
ends "drawn"                0 ""                      estacount-kit graph db/two.rrd www/graphs/two.png end-1h
ends "drawn over a symlink" 0 ""                      estacount-kit graph db/two.rrd www/graphs/link.png end-1h
umask 022
expect "PNGs others read, the victim untouched" eval 'is_png www/graphs/two.png www/graphs/link.png && [ "$(stat -c %a www/graphs/two.png)" = 644 ] && [ "$(cat victim)" = mine ]'

# textfile: the counts and the listing's time; stale, future and saved.
mkdir metrics && echo old >metrics/estacount.prom && mkdir -p spool/old && cp "$examples/spool/netstatdump.log" spool/old/
touch -d '601 seconds ago' spool/old/netstatdump.log
ends "stale listing"        2 "is 60[0-9] s old, more than 600 s: metrics/estacount.prom was left as it was" estacount-kit textfile spool/old metrics/estacount.prom
mkdir spool/german && printf 'Proto Recv-Q Send-Q Local Address           Foreign Address         State\ntcp        0      0 10.0.0.5:25             10.0.0.9:50001          VERBUNDEN\n' >spool/german/netstatdump.log
ends "a German listing's zeros" 2 "spool/german/netstatdump.log counts nothing and is no netstat listing in English" estacount-kit textfile spool/german metrics/estacount.prom
mkdir spool/link && ln -s ../old/netstatdump.log spool/link/
ends "listing that is a link" 2 "the listing spool/link/netstatdump.log is a link" estacount-kit textfile spool/link metrics/estacount.prom
touch -d '2 minutes' spool/old/netstatdump.log
ends "listing from the future" 2 "is dated 1[0-9][0-9] s ahead of this clock" estacount-kit textfile spool/old metrics/estacount.prom
expect "leaves the file as it was" [ "$(ls -A metrics)" = estacount.prom -a "$(cat metrics/estacount.prom)" = old ]
touch -d '601 seconds ago' spool/old/netstatdump.log
ends "metrics"              0 ""                      estacount-kit textfile --max-age 900 spool/old metrics/estacount.prom '[HTTP.pop3]'
expect "with the counts and the listing's time" [ "$(grep -v '^#' metrics/estacount.prom)" = "$(printf 'estacount_established_connections{service="%s"} %s\n' pop3 3 http 5
    echo "estacount_listing_timestamp_seconds $(stat -c %Y spool/old/netstatdump.log)")" ]
expect "that promtool accepts, nothing aside" eval 'promtool check metrics <metrics/estacount.prom && [ "$(ls -A metrics)" = estacount.prom ]'
ends "saved and written"    0 ""                      estacount-kit textfile --save spool/old metrics/estacount.prom
expect "from a fresh listing" [ "$(grep -c 'service=' metrics/estacount.prom)" = 4 -a "$(head -c 6 spool/old/netstatdump.log)" = "Proto " ]

# The demo, from a folder of the user's own, which it leaves as it was.
mkdir -p user && cp "$program" user/estacount && echo mine >user/file.txt
before=$(cd user && find . -printf '%p %s %T@\n' | sort)
expect "demo runs"             eval '(cd user && "$prefix/share/estacount/examples/demo.sh") >demo.out 2>&1 && is_png "$(sed -n "s/^graph: \([^ ]*\).*/\1/p" demo.out)"'
expect "leaves the user's files" [ "$(cd user && find . -printf '%p %s %T@\n' | sort)" = "$before" ]

# One rrdcached on TCP for several hosts: DB is a name in its folder, and
# each "host" is a mount namespace that sees that folder empty.
port=$((20000 + $$ % 20000)) base=$scratch/central
mkdir -p "$base" journal && rrdcached -l 127.0.0.1:$port -b "$base" -B -j "$scratch/journal" -p "$scratch/central.pid" -w 3600 -z 1 2>/dev/null
remote() { RRDCACHED_ADDRESS=127.0.0.1:$port "$@"; }
ends "absolute path through a remote daemon" 2 "absolute path names not allowed" remote estacount-kit collect "$base/x.rrd" spool
[ "$(id -u)" = 0 ] && host() { unshare -m sh -c 'mount -t tmpfs none "$0" && cd "$0" && exec "$@"' "$base" "$@"; } || host() { (cd spool && "$@"); }
for h in one two; do
    ends "host $h: create through the daemon" 0 "" host env RRDCACHED_ADDRESS=127.0.0.1:$port estacount-kit create $h.rrd
    ends "host $h: collect through the daemon" 0 "" host env RRDCACHED_ADDRESS=127.0.0.1:$port estacount-kit collect $h.rrd "$scratch/spool-$h"
done
expect "both hosts' samples landed in the daemon's folder" eval 'rrdtool flushcached --daemon 127.0.0.1:$port one.rrd two.rrd && [ "$(last_time "$base/one.rrd")" -gt 0 ] && [ "$(last_time "$base/two.rrd")" -gt 0 ]'
kill "$(cat central.pid)"; wait_for eval '! [ -e central.pid ]'
ends "collect through a daemon that is gone" 2 "cannot read gone.rrd through rrdcached at 127.0.0.1:$port: .*flush it: ERROR: Unable to connect" remote estacount-kit collect gone.rrd spool
ends "create through a daemon that is gone" 2 "was not made through rrdcached at 127.0.0.1:$port: .*Unable to connect" remote estacount-kit create gone.rrd
expect "leaves no stray local file" [ ! -e gone.rrd ]

# The documented commands that CI and the tests run are there to be run:
# the blocks below, and the README line that .ci/run's pattern finds, which
# must be one, and run each workflow preset that runs tests.
for name in "timer drop-in" "rrdcached own" "rrdcached packaged"; do
    expect "doc/linux.md holds the block $name" [ -n "$(doc_block "$name")" ]
done
pattern=$(sed -n "s/.*grep .*-E '\([^']*\)' README\.md.*/\1/p" "$examples/../.ci/run")
mapfile -t commands < <(grep -E -- "${pattern:-no pattern}" "$examples/../README.md")
expect "one README line for .ci/run's pattern" [ ${#commands[@]} = 1 ]
for preset in ${TESTED_WORKFLOWS:?set by tests/CMakeLists.txt}; do
    expect "the README's test command runs the $preset preset" grep -qE -- "&& cmake --workflow --preset $preset( |\$)" <<<"${commands[0]-}"
done

# The Linux page's drop-in, merged as systemd merges it, verified with the rest.
doc_block "timer drop-in" | sed "s|/usr/bin/|$prefix/bin/|" >>"$units/estacount-collect.service"
expect "units verify" env MANPATH="$prefix/share/man" systemd-analyze verify --man=$(command -v man >/dev/null && echo yes || echo no) \
    "$units"/estacount-{collect,graph}.{service,timer}
# run_block NAME SED...: runs the block but its last line, then that line (a
# read-back) until it shows a sample; the folders the test may not use in
# place are swapped by SED.
run_block() {
    local name=$1 lines; shift
    mapfile -t lines < <(doc_block "$name" | sed "$@")
    for line in "${lines[@]:0:${#lines[@]}-1}"; do bash -c "$line" >/dev/null; done
    landed() { bash -c "${lines[-1]}" 2>/dev/null | grep -qE '^[0-9]+: [0-9]+ [0-9]+ [0-9]+ [0-9]+$'; }
    expect "doc/linux.md block $name: the sample lands" wait_for landed
}
run_block "rrdcached own" -e "s|/var/lib/estacount|$scratch/lib|g" -e "s|/run/estacount-rrdcached|$scratch/rrdcached|g" -e "s|/var/spool/estacount|$scratch/spool-own|g"
[ -f rrdcached.pid ] && pid=$(cat rrdcached.pid) && kill "$pid" && wait_for eval '! kill -0 "$pid" 2>/dev/null'

[ "$(id -u)" = 0 ] || { echo "SKIP: read-only database, full spool, unit killed at exit, Debian's rrdcached: run as root to test them"; finish; exit; }
then=$(last_time db/two.rrd)
# read_only FILE COMMAND...: COMMAND sees FILE on a read-only bind mount.
read_only() { unshare -m sh -c 'mount --bind -o ro "$0" "$0" && exec "$@"' "$@"; }
ends "read-only database"   2 "the sample did not land in db/two.rrd: .*Read-only file system" read_only db/two.rrd estacount-kit collect db/two.rrd spool "$two"
# COMMAND sees spool/full as a full disk holding an old listing.
mkdir spool/full && ends "full spool" 2 "cannot save the listing in spool/full: No space left on device: the old listing is kept: no sample was sent" \
    unshare -m sh -c 'mount -t tmpfs -o size=16k full "$0" && echo old >"$0/netstatdump.log" && { cat /dev/zero >"$0/fill" 2>/dev/null; "$@"; s=$?; cat "$0/netstatdump.log"; exit $s; }' spool/full estacount-kit collect db/two.rrd spool/full "$two"
expect "old listing kept on the full disk, no sample" [ "$(cat .out)" = old -a "$(last_time db/two.rrd)" = "$then" ]

# A lock file that root's run made serves a user's run too.
chmod 755 "$scratch" && mkdir users && chown nobody users && runuser -u nobody -- mkdir users/spool &&
    runuser -u nobody -- "$prefix/bin/estacount-kit" create users/db.rrd '[FTP]'
ends "root's run first"     0 ""                      estacount-kit collect users/db.rrd users/spool '[FTP]'
ends "then the user's, with root's lock file" 0 "" runuser -u nobody -- env PATH="$PATH" estacount-kit collect users/db.rrd users/spool '[FTP]'

# The unit's commands as installed, its /var folders swapped for scratch
# ones, in a PID namespace whose first process, once the command exits
# (a blocking wait), kills all that is left, as systemd's cgroup kill does.
command_of() { sed -n "s/^$1=[-@:+!]*//p" "$units/estacount-collect.service" | sed -e "s|/var/|$scratch/var/|g"; }
read -ra exec_start <<<"$(command_of ExecStart)" && read -ra exec_post <<<"$(command_of ExecStartPost)"
killed_at_exit() { unshare --fork --pid --mount-proc sh -c '"$@"; s=$?; kill -TERM -1 2>/dev/null; kill -CONT -1 2>/dev/null; exit $s' sh "$@"; }
estacount-kit create "${exec_start[2]}" "${exec_start[@]:4:1}"
for run in 1 2 3; do
    unit_then=$(last_time "${exec_start[2]}") && ends "unit killed at exit, run $run" 0 "" killed_at_exit "${exec_start[@]}"
    expect "unit run $run leaves its sample" [ "$(last_time "${exec_start[2]}")" -gt "$unit_then" ]
done
ends "the drop-in's command" 0 "" killed_at_exit "${exec_post[@]}"
expect "writes four counts" [ "$(grep -c '^estacount_established' "${exec_post[3]}")" = 4 ]

# Debian's packaged daemon, started if need be (and then stopped by its pid);
# its base folder is fixed, so the database only gets a name of its own.
expect "Debian's rrdcached package is installed" test -x /etc/init.d/rrdcached
if [ -x /etc/init.d/rrdcached ]; then
    had_base=$([ -d /var/lib/rrdcached ] && echo yes)
    had_daemon=$(service rrdcached status >/dev/null 2>&1 && echo yes)
    db=/var/lib/rrdcached/db/estacount-kit-test-$$.rrd
    run_block "rrdcached packaged" -e "s|/var/lib/rrdcached/db/estacount.rrd|$db|g" -e "s|/var/spool/estacount|$scratch/spool-packaged|g"
    RRDCACHED_ADDRESS=unix:/var/run/rrdcached.sock ends "outside the packaged daemon's folder" 2 "cannot read db/two.rrd through rrdcached at unix:/var/run/rrdcached.sock: .*no sample was sent" estacount-kit collect db/two.rrd spool "$two"
    rrdtool flushcached --daemon unix:/var/run/rrdcached.sock "$db" 2>/dev/null; rm -f "$db"
    [ -n "$had_daemon" ] || { pid=$(cat /var/run/rrdcached.pid) && kill "$pid" && wait_for eval '! kill -0 "$pid" 2>/dev/null'; }
    [ -n "$had_base" ] || rm -rf /var/lib/rrdcached
fi
expect "and no sample from those as root" [ "$(last_time db/two.rrd)" = "$then" ]
finish
