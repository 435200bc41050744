#!/usr/bin/env bash
# fillrrd in the Windows build, under wine: the update goes to cmd.exe, which
# runs the first rrdtool it finds; a recording stand-in takes its place.
# Checks the words it receives, the search for it, and the paths refused
# before cmd.exe could act on them or rrdtool take them as other words; then
# the .cmd kit, end to end.
#   RRDTOOL_STANDIN=rrdtool_standin_win32.exe fillrrd_wine.sh PROGRAM.exe
set -u
. "$(dirname "$0")/lib.sh" --wine "$@"

# Wine shows the root of the file system as drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# With $line set, lib.sh's check runs that line from a .cmd file in the
# current folder, as typed in a console; else the program.
run_program() {
    [ -z "${line-}" ] || { printf '@echo off\r\n%s\r\n' "$line" >run.cmd && wine cmd /c run.cmd; return; }
    wine "$program" "$@"
}

# The stand-in (rrdtool_standin_win32.cpp) appends each call to calls.txt
# beside it, as [word]... on one line. call: the calls recorded, then none.
call() { cat "$scratch"/{bin,here}/calls.txt 2>/dev/null; rm -f "$scratch"/{bin,here}/calls.txt; }
# recorded NAME WORDS: waits (20 s at most: estacount does not wait for
# rrdtool) for a call, then wants exactly one, with WORDS.
recorded() {
    for ((i = 0; i < 200; i++)); do [ -n "$(cat "$scratch"/{bin,here}/calls.txt 2>/dev/null)" ] && break; sleep 0.1; done
    expect "$1" [ "$(call)" = "$2" ]
}

mkdir bin empty bare here dir dir/rrdtool.exe && touch -- bare/rrdtool -t
for d in . here dir; do cp -r "$examples/spool" $d/example && touch $d/db.rrd; done
cp "${RRDTOOL_STANDIN:?RRDTOOL_STANDIN names the rrdtool stand-in the Windows build makes}" bin/rrdtool.exe && cp bin/rrdtool.exe here/
bin=$(winpath "$scratch/bin") empty=$(winpath "$scratch/empty") all='[POP3.SMTP.HTTP.FTP]'
no_start=$'\nimpossible to start rrdtool to update the rrd at [db.rrd]\n'
no_rrdtool='estacount: rrdtool: not found in the current folder or on PATH'

# --- what rrdtool receives, and the search for it ---------------------------------

# A run from FOLDER that finds rrdtool exits 1 and sends it WORDS; one that
# finds none (no WORDS) refuses. cmd.exe looks in the current folder first.
while IFS='|' read -r name folder path list words; do
    cd "$scratch/$folder" || exit 2
    [ -n "$words" ] && e= s=1 out= || e=$no_rrdtool s=255 out=$no_start
    err=$e WINEPATH=$path check "$name" $s "$out" db.rrd example "$list" fillrrd
    [ -z "$words" ] || recorded "$name: the words" "$words"
done <<EOF
all four|.|$bin|$all|[update][db.rrd][N:3:2:5:1]
two services|.|$bin|[http.POP3]|[update][db.rrd][N:3:5]
quoted PATH folder|.|"$bin"|[FTP]|[update][db.rrd][N:1]
rrdtool in the current folder|here|$empty|[FTP]|[update][db.rrd][N:1]
no rrdtool|.|$empty|$all|
rrdtool without extension|.|$(winpath "$scratch/bare")|$all|
a folder named rrdtool.exe|dir|$empty|[FTP]|
EOF
cd "$scratch" || exit 2
# Wine takes PATHEXT from its registry whatever the environment says, so
# this run comes from a cmd.exe that sets it first.
line=$'set "PATHEXT=.BAT;.CMD"\r\n'"$(winpath "$program") db.rrd example $all fillrrd" err=$no_rrdtool WINEPATH=$bin check "PATHEXT without .EXE" 255 "$no_start"

# --- refused paths ---------------------------------------------------------------

# The message around the path: "${refused}PATH${refused_end}".
refused=$'\nimpossible to pass the rrd at ['
refused_end=$'] to the command interpreter: it holds one of " % ! ^ & | < > ( ) or a control character\n'
acted_on=': cmd.exe would act on a character of the path: one of " % ! ^ & | < > ( ) or a control character'

# Windows allows the first seven in file names: the database exists and
# opens, and only the refusal stands between the path and cmd.exe. It
# forbids the others, but resolves ".." in the text of a path before it
# looks at the disk, so each of those opens db.rrd.
export WINEPATH=$bin
for path in 'x&mkdir pwned&.rrd' 'x%PATH%.rrd' 'x!PATH!.rrd' 'x^.rrd' 'x(.rrd' 'x).rrd' $'x\x7f.rrd' \
    'x"y\..\db.rrd' 'x<y\..\db.rrd' 'x>y\..\db.rrd' 'x|y\..\db.rrd' $'x\x01y\\..\\db.rrd' $'x\ty\\..\\db.rrd' $'x\ny\\..\\db.rrd' $'x\x1fy\\..\\db.rrd'; do
    touch -- "$path"
    err="estacount: $(shown "$path")$acted_on" check "refused: $(printf '%q' "$path")" 255 "$refused$path$refused_end" "$path" example "$all" fillrrd
done
# Paths that rrdtool would take as other words or options, refused on every
# platform after cmd.exe's refusal, which control characters keep above.
# Windows forbids ':' in a file name; this path opens db.rrd.
path='x.rrd --daemon unix:\..\db.rrd'
err="estacount: $path: rrdtool would take a path with a space as several words" check "refused: a space" 255 "$refused$path] to rrdtool: it holds a space"$'\n' "$path" example "$all" fillrrd
err='estacount: -t: rrdtool would take a path that begins with - as an option' check "refused: -t" 255 "$refused-t] to rrdtool: it begins with -"$'\n' -t example "$all" fillrrd
# The refusal comes after every other check.
err="estacount: no&.rrd: ${why}No such file" check "missing database before refusal" 255 $'\nimpossible to find the rrd choosen at [no&.rrd]\n' 'no&.rrd' example "$all" fillrrd
check "list before refusal" 255 $'\nWrong passing parameters.\nuse [POP3.SMTP.HTTP.FTP] syntax' 'x^.rrd' example POP3 fillrrd
err="estacount: nowhere\\netstatdump.log: ${why}No such file" check "dump before refusal" 255 $'\nCan\'t find netstat output file' 'x^.rrd' nowhere "$all" fillrrd
check "video never refuses" 1 $'Connection established:\n\nFTP: 1\n\nestacount (c) 2026 the estacount authors - report problems on the estacount issue tracker\n' 'x^.rrd' example '[FTP]' video
# Had any refused run started cmd.exe, its call would be recorded before this
# one, which was started after them all.
check "a run after the refusals" 1 "" db.rrd example '[FTP]' fillrrd
recorded "nothing run for a refused path" '[update][db.rrd][N:1]'
expect "no folder made by a refused path" [ ! -e pwned ]
err='estacount: NUL: not a regular file' check "database is the NUL device" 255 $'\nimpossible to find the rrd choosen at [NUL]\n' NUL example "$all" fillrrd

# --- the Windows kit ----------------------------------------------------------------

# The stand-in keeps a database as text: its sources, then the time of its
# last update.
mkdir kit && cp "$examples"/*.cmd "$program" kit/
for d in 'db.rrd:pop3 smtp http ftp' 'ph.rrd:pop3 http' 'hp.rrd:http pop3' 'other.rrd:imap' 'x^y.rrd:pop3 http'; do printf '%s\n0\n' "${d#*:}" >"kit/${d%%:*}"; done
last() { sed -n 2p "kit/$1"; }
# kit STATUS STDERR LINE [NAME] [STDOUT]: LINE, run in the kit's folder,
# wants STATUS, exactly STDERR and STDOUT (none when not given).
kit() { cd "$scratch/kit" && line=$3 err=$2 check "${4:-$3}" "$1" "${5-}"; cd "$scratch" || exit 2; }

# collect.cmd, end to end: wine's netstat lists this machine's connections.
# One of our own to port 110 (POP3), on loopback, held while it runs, gives
# the count something to find (where the port can be had: it needs root).
perl -MIO::Socket::INET -e '$l = IO::Socket::INET->new(LocalAddr => "127.0.0.1:110", Listen => 1, ReuseAddr => 1) or exit 3;
    $c = IO::Socket::INET->new("127.0.0.1:110") or exit 3; $s = $l->accept or exit 3; $| = 1; print "held\n"; sleep 60' >held.txt 2>/dev/null & holder=$!
for ((i = 0; i < 50; i++)); do [ -s held.txt ] || ! kill -0 $holder 2>/dev/null && break; sleep 0.1; done
kit 0 "" 'collect.cmd db.rrd spool'
kill $holder 2>/dev/null; wait $holder 2>/dev/null
# The update carries the counts of the saved listing, as a video run reads it.
video_counts() { wine "$program" x kit/spool "$1" video | tr -d '\r' | sed -n 's/^[A-Z0-9]*: //p' | paste -sd:; }
counts=$(video_counts "$all") calls=$(call)
expect "collect.cmd: the sources and the last update read first" [ "$(head -n 2 <<<"$calls")" = "[info][db.rrd]"$'\n'"[lastupdate][db.rrd]" ]
expect "collect.cmd: the saved listing's counts sent once" [ "$(grep -cxF "[update][db.rrd][N:$counts]" <<<"$calls")" = 1 ]
expect "collect.cmd: the sample landed" [ "$(last db.rrd)" -gt 0 ]
expect "collect.cmd: a netstat listing saved, nothing left aside" eval 'grep -q "Local Address" kit/spool/netstatdump.log && [ ! -e kit/spool/netstatdump.tmp ] && [ ! -e kit/db.rrd.lock ]'
[ -s held.txt ] && expect "collect.cmd: our POP3 connection counted" [ "${counts%%:*}" -ge 1 ]
kit 0 "" 'collect.cmd ph.rrd "spool\" [http.POP3]'
expect "collect.cmd, two services" grep -qxF "[update][ph.rrd][N:$(video_counts '[http.POP3]')]" <(call)

# A run waits for the lock another holds, and sends nothing until it is free.
: >kit/db.rrd.lock
kit 0 "" 'collect.cmd db.rrd spool' "collect.cmd waits for the lock" >waited.txt & sleep 4
expect "collect.cmd: nothing sent while the lock is held" [ -z "$(grep update bin/calls.txt 2>/dev/null)" ]
rm kit/db.rrd.lock && wait $!
expect "collect.cmd: sent once the lock is free" [ ! -s waited.txt ]; cat waited.txt
# Two runs at once: as many successes as samples that landed, at least one,
# however the seconds fall (rrdtool keeps one update a second).
rm -f bin/updates.txt
for i in 1 2; do (cd kit && wine cmd /c collect.cmd db.rrd spool >/dev/null 2>&1; echo $? >"../ran$i") & done; wait
expect "collect.cmd, two at once: one success for each sample" [ -s bin/updates.txt -a "$(grep -c landed bin/updates.txt)" = "$(grep -lx 0 ran1 ran2 | wc -l)" ]

# Each loss: a status, one line on stderr, no new sample, the old listing kept.
t=$(last db.rrd) lost="collect.cmd: the sample did not land in \"db.rrd\" within 5 seconds: the last update stayed at"
while IFS='|' read -r name status message setup undo; do
    cp kit/spool/netstatdump.log listing.txt; eval "$setup"; started=$SECONDS
    kit "$status" "$message" 'collect.cmd db.rrd spool' "collect.cmd: $name"; eval "$undo"
    expect "collect.cmd: $name: no sample" [ "$(last db.rrd)" = "$t" ]
    [ "$status" = 3 ] && expect "collect.cmd: $name: the old listing kept" cmp -s listing.txt kit/spool/netstatdump.log
    [ "$status" = 4 ] && expect "collect.cmd: $name: waited for it" [ $((SECONDS - started)) -ge 4 ]
done <<EOF
update dropped (and a ping.exe planted in the current folder)|4|$lost $t; the database is writable|export RRDTOOL_DROPS=1; cp bin/rrdtool.exe kit/ping.exe|unset RRDTOOL_DROPS; rm kit/ping.exe
read-only database|4|$lost $t; the database is read-only|chmod 444 kit/db.rrd|chmod 644 kit/db.rrd
dead daemon|4|$lost $t; the database is writable; the daemon at unix:$scratch/dead.sock does not answer|export RRDCACHED_ADDRESS=unix:$scratch/dead.sock|unset RRDCACHED_ADDRESS
netstat failed|3|collect.cmd: the netstat listing could not be saved in "spool"; no sample was sent|cp bin/rrdtool.exe kit/netstat.exe|rm kit/netstat.exe
listing without header (a cut one)|3|collect.cmd: netstat's output in "spool\netstatdump.tmp" is empty or has no "Proto" header line (a full disk?); the old listing is kept and no sample was sent|cp bin/rrdtool.exe kit/netstat.exe; echo 'TCP 1.2.3.4:110 5.6.7.8:9 ESTABLISHED' >kit/netstat.txt|rm kit/netstat.*
EOF
expect "losses: the lock removed" [ ! -e kit/db.rrd.lock ]

# estacount's own refusal is passed on.
kit 255 "estacount: x^y.rrd$acted_on"$'\ncollect.cmd: estacount exited with status -1; no sample was sent' 'collect.cmd "x^y.rrd" spool [POP3.HTTP]' "" \
    "${refused}x^y.rrd$refused_end"

# Refused before anything runs: no listing, no database, nothing sent. A row
# that names no script is a LIST, given to both scripts that take one.
rm -rf kit/spool bin/calls.txt
list_usage='LIST must be [ names separated by dots ], each POP3, SMTP, HTTP or FTP, in capitals or in lower case, such as [POP3.SMTP.HTTP.FTP]'
not_found='rrdtool not found in the current folder or on PATH (check with: where rrdtool);'
while IFS='|' read -r line path message; do
    [[ $line == *.cmd* ]] && lines=("$line") || lines=("collect.cmd db.rrd spool $line" "create-database.cmd new.rrd $line")
    for l in "${lines[@]}"; do WINEPATH=${path:-$bin} kit 2 "${l%% *}: $message" "$l"; done
done <<EOF
collect.cmd db.rrd spool|$empty|$not_found no sample was sent
create-database.cmd new.rrd|$empty|$not_found no database was made
draw-graph.cmd db.rrd graph.png|$empty|$not_found nothing was drawn
collect.cmd db.rrd spool [POP3,HTTP]||too many words: cmd.exe splits a word at each comma, semicolon or equals sign outside quotes; usage: collect.cmd DB SPOOL [LIST]
create-database.cmd new.rrd [POP3,HTTP]||too many words: cmd.exe splits a word at each comma, semicolon or equals sign outside quotes; usage: create-database.cmd DB [LIST]
collect.cmd none.rrd spool||no database at "none.rrd" (create-database.cmd makes one)
collect.cmd ph.rrd spool [POP3.SMTP.HTTP]||LIST selects pop3.smtp.http but "ph.rrd" has the data sources pop3.http, in that order
collect.cmd ph.rrd spool [HTTP]||LIST selects http but "ph.rrd" has the data sources pop3.http, in that order
collect.cmd hp.rrd spool [HTTP.POP3]||LIST selects pop3.http but "hp.rrd" has the data sources http.pop3, in that order
collect.cmd "my stats.rrd" spool||estacount would split a database path that holds a space: "my stats.rrd"
create-database.cmd db.rrd||"db.rrd" already exists
create-database.cmd "a&b.rrd"||estacount cannot update a database whose path holds a space or one of ! ^ & | < > ( ): "a&b.rrd"
draw-graph.cmd none.rrd graph.png||no database at "none.rrd"
[]||LIST names no service
[Pop3]||$list_usage
"[pop3&calc]"||$list_usage
"[pop3!]"||$list_usage
[pop3..ftp]||$list_usage
[.ftp]||$list_usage
[ftp.]||$list_usage
POP3||$list_usage
EOF
expect "refusals: no listing, no database, nothing sent" eval '[ ! -e kit/spool ] && [ ! -e kit/new.rrd ] && ! call | grep -q -e update -e create'

# The words create-database.cmd gives rrdtool make, with the real rrdtool,
# the sources LIST selects, in estacount's order.
while IFS='|' read -r db list sources; do
    kit 0 "" "create-database.cmd $db $list"
    words=$(call | sed 's/^\[create\]\[[^]]*\]\[//; s/\]$//; s/\]\[/ /g')
    got=$(rrdtool create "$sources.rrd" $words && rrdtool info "$sources.rrd" | sed -n 's/^ds\[\(.*\)\]\.index.*/\1/p' | paste -sd.)
    expect "create-database.cmd $db $list: the sources" [ "$got" = "$sources" ]
done <<'EOF'
sub\dir\new.rrd|[ftp.HTTP.pop3]|pop3.http.ftp
all.rrd||pop3.smtp.http.ftp
EOF

# draw-graph.cmd draws the sources the database has, into a new file that
# replaces the PNG, under a title that names the computer, on an axis of
# whole numbers; the % formats reach rrdtool whole.
legend() {
    local t='[DEF:@=<db>:@:AVERAGE][DEF:@peak=<db>:@:MAX][VDEF:@last=@,LAST][VDEF:@avg=@,AVERAGE][VDEF:@max=@peak,MAXIMUM][LINE2:@#<c>:<l>][GPRINT:@last:last %4.0lf][GPRINT:@avg:average %6.1lf][GPRINT:@max:max %4.0lf\l]'
    t=${t//@/"$1"} t=${t//<db>/"$2"} t=${t//<c>/"$3"}
    printf '%s' "${t//<l>/"$4"}"
}
host=$(wine cmd /c echo %COMPUTERNAME% | tr -d '\r')
options="[--end][now][--imgformat][PNG][--title][Established connections on $host][--vertical-label][connections][--width][600][--height][200][--lower-limit][0][--upper-limit][10][--left-axis-format][%.0lf][--units-exponent][0]"
kit 0 "" 'draw-graph.cmd ph.rrd www\graph.png'
expect "draw-graph.cmd: every word" [ "$(call)" = "[info][ph.rrd]"$'\n'"[graph][www\\graph.png.new.png][--start][end-1d]$options$(legend pop3 ph.rrd 1f77b4 'POP3 ')$(legend http ph.rrd 2ca02c 'HTTP ')" ]
expect "draw-graph.cmd: the PNG in place" eval '[ -e kit/www/graph.png ] && [ ! -e kit/www/graph.png.new.png ]'
drive=$(winpath "$scratch/kit/db.rrd")
kit 0 "" "draw-graph.cmd $drive graph.png end-1w"
expect "draw-graph.cmd: the drive's colon escaped" grep -qF "$(legend ftp "Z\\${drive#Z}" d62728 'FTP  ')" <(call)
kit 2 'draw-graph.cmd: "other.rrd" has none of the data sources pop3, smtp, http, ftp; nothing was drawn' 'draw-graph.cmd other.rrd graph.png'

finish
