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
windows_path() {
    local path=${1//\//\\}
    printf 'Z:%s' "$path"
}

# Wine takes PATHEXT from its registry whatever the environment says, so a
# run made with pathext=VALUE starts from a cmd.exe that sets PATHEXT first.
unset pathext
run_program() {
    if [ -n "${pathext+set}" ]; then
        env "${program_env[@]}" wine cmd /c set "PATHEXT=$pathext&" "$(windows_path "$program")" "$@"
    else
        env "${program_env[@]}" wine "$program" "$@"
    fi
}

# The stand-in (rrdtool_standin_win32.cpp) appends each call to calls.txt
# beside it, as [word]... on one line. recorded NAME FOLDER WORDS: waits
# (20 s at most: estacount does not wait for it) for the one in FOLDER to
# record, then wants exactly one call, with WORDS.
recorded() {
    local i
    for ((i = 0; i < 200; i++)); do [ -s "$2/calls.txt" ] && break; sleep 0.1; done
    expect "$1" [ "$(cat "$2/calls.txt" 2>/dev/null)" = "$3" ]
    rm -f "$2/calls.txt"
}

cp -r "$examples/spool" example
mkdir bin empty bare here && touch db.rrd bare/rrdtool here/db.rrd
cp "${RRDTOOL_STANDIN:?RRDTOOL_STANDIN names the rrdtool stand-in the Windows build makes}" bin/rrdtool.exe
cp bin/rrdtool.exe here/
bin=$(windows_path "$scratch/bin")
all='[POP3.SMTP.HTTP.FTP]'
no_start=$'\nimpossible to start rrdtool to update the rrd at [db.rrd]\n'
no_rrdtool='estacount: rrdtool: not found in the current folder or on PATH'

# --- what rrdtool receives, and the search for it ---------------------------------

# A run that finds rrdtool in FOLDER exits 1 and sends it WORDS; one that
# finds none (no WORDS) refuses.
while IFS='|' read -r name folder list words; do
    if [ -n "$words" ]; then
        WINEPATH=$folder check "$name" 1 "" db.rrd example "$list" fillrrd
        recorded "$name: the words" bin "$words"
    else
        err=$no_rrdtool WINEPATH=$folder check "$name" 255 "$no_start" db.rrd example "$list" fillrrd
    fi
done <<EOF
all four|$bin|$all|[update][db.rrd][N:3:2:5:1]
two services|$bin|[http.POP3]|[update][db.rrd][N:3:5]
quoted PATH folder|"$bin"|[FTP]|[update][db.rrd][N:1]
no rrdtool|$(windows_path "$scratch/empty")|$all|
rrdtool without extension|$(windows_path "$scratch/bare")|$all|
EOF
err=$no_rrdtool pathext='.BAT;.CMD' WINEPATH=$bin check "PATHEXT without .EXE" 255 "$no_start" db.rrd example "$all" fillrrd
unset pathext

# cmd.exe looks in the current folder before PATH.
cd here || exit 2
check "rrdtool in the current folder" 1 "" db.rrd ../example '[FTP]' fillrrd
recorded "rrdtool in the current folder: the words" . '[update][db.rrd][N:1]'
rm rrdtool.exe && mkdir rrdtool.exe
err=$no_rrdtool check "a folder named rrdtool.exe" 255 "$no_start" db.rrd ../example '[FTP]' fillrrd
cd "$scratch" || exit 2

# --- refused paths ---------------------------------------------------------------

# The message around the path: "${refused}PATH${refused_end}".
refused=$'\nimpossible to pass the rrd at ['
refused_end=$'] to the command interpreter: it holds one of " % ! ^ & | < > ( ) or a control character\n'
acted_on=': cmd.exe would act on a character of the path: one of " % ! ^ & | < > ( ) or a control character'

# Windows allows these in file names: the database exists and opens, and only
# the refusal stands between the path and cmd.exe.
export WINEPATH=$bin
for path in 'x&mkdir pwned&.rrd' 'x%PATH%.rrd' 'x!PATH!.rrd' 'x^.rrd' 'x(.rrd' 'x).rrd' $'x\x7f.rrd'; do
    touch "$path"
    err="estacount: $(shown "$path")$acted_on" check "refused: $(printf '%q' "$path")" 255 "$refused$path$refused_end" "$path" example "$all" fillrrd
done
# Windows forbids these in file names, but resolves ".." in the text of a
# path before it looks at the disk, so each path below opens db.rrd.
for c in '"' '<' '>' '|' $'\x01' $'\t' $'\n' $'\x1f'; do
    path="x${c}y\\..\\db.rrd"
    err="estacount: $(shown "$path")$acted_on" check "refused: $(printf '%q' "$c")" 255 "$refused$path$refused_end" "$path" example "$all" fillrrd
done
# Paths that rrdtool would take as other words, options or other files than
# the one checked, refused on every platform; cmd.exe's refusal comes first,
# so control characters keep its message above. Windows forbids ':' in a
# file name; the last path opens db.rrd.
touch -- 'my stats.rrd' ' lead.rrd' -t --daemon=x '-a b.rrd'
for path in 'my stats.rrd' ' lead.rrd' -t --daemon=x '-a b.rrd' 'x.rrd --daemon unix:\..\db.rrd'; do
    [ "${path:0:1}" = - ] && what='begins with -' || what='holds a space'
    [ "${path:0:1}" = - ] && said='a path that begins with - as an option' || said='a path with a space as several words'
    err="estacount: $path: rrdtool would take $said" check "refused: $path" 255 $'\nimpossible to pass the rrd at ['"$path] to rrdtool: it $what"$'\n' "$path" example "$all" fillrrd
done
# The refusal comes after every other check.
err="estacount: no&.rrd: ${why}No such file" check "missing database before refusal" 255 $'\nimpossible to find the rrd choosen at [no&.rrd]\n' 'no&.rrd' example "$all" fillrrd
check "list before refusal" 255 $'\nWrong passing parameters.\nuse [POP3.SMTP.HTTP.FTP] syntax' 'x^.rrd' example POP3 fillrrd
err="estacount: nowhere\\netstatdump.log: ${why}No such file" check "dump before refusal" 255 $'\nCan\'t find netstat output file' 'x^.rrd' nowhere "$all" fillrrd
check "video never refuses" 1 $'Connection established:\n\nFTP: 1\n\nestacount (c) 2026 the estacount authors - report problems on the estacount issue tracker\n' 'x^.rrd' example '[FTP]' video
# Had any refused run started cmd.exe, its call would be recorded before this
# one, which was started after them all.
check "a run after the refusals" 1 "" db.rrd example '[FTP]' fillrrd
recorded "nothing run for a refused path" bin '[update][db.rrd][N:1]'
expect "no folder made by a refused path" [ ! -e pwned ]

# --- the database check ------------------------------------------------------------

err='estacount: NUL: not a regular file' check "database is the NUL device" 255 $'\nimpossible to find the rrd choosen at [NUL]\n' NUL example "$all" fillrrd

# --- the Windows kit ----------------------------------------------------------------

# The stand-in keeps a database as text: its sources, then the time of its
# last update.
mkdir kit && cp "$examples"/*.cmd "$program" kit/
for d in 'db.rrd:pop3 smtp http ftp' 'ph.rrd:pop3 http' 'hp.rrd:http pop3' 'other.rrd:imap' 'x^y.rrd:pop3 http'; do
    printf '%s\n0\n' "${d#*:}" >"kit/${d%%:*}"
done
last() { sed -n 2p "kit/$1"; }

# kit NAME STATUS STDOUT STDERR LINE: runs LINE, written as in a console, from
# a .cmd file in the kit's folder (the scripts and estacount.exe side by
# side, as in the zip); wants STATUS and exactly STDOUT and STDERR.
kit() {
    local id=$BASHPID status out err  # runs at once keep apart
    printf '@echo off\r\n%s\r\n' "$5" >"kit/run$id.cmd"
    (cd kit && wine cmd /c "run$id.cmd" >"../.kout$id" 2>"../.kerr$id")
    status=$?
    out=$(tr -d '\r' <".kout$id") err=$(tr -d '\r' <".kerr$id")
    if [ "$status" = "$2" ] && [ "$out" = "$3" ] && [ "$err" = "$4" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL: %s: status %s; stdout, stderr:\n%s\n%s\n' "$1" "$status" "$out" "$err" | head -n 20
    fi
}
# call: the recorded calls, then none.
call() { cat bin/calls.txt 2>/dev/null; rm -f bin/calls.txt; }

# collect.cmd, end to end: wine's netstat lists this machine's connections.
# One of our own to port 110 (POP3), on loopback, held while it runs, gives
# the count something to find (where the port can be had: it needs root).
perl -MIO::Socket::INET -e '
    my $l = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 110, Listen => 1, ReuseAddr => 1) or exit 3;
    my $c = IO::Socket::INET->new(PeerAddr => "127.0.0.1", PeerPort => 110) or exit 3;
    my $s = $l->accept or exit 3;
    $| = 1; print "held\n"; sleep 60' >held.txt 2>/dev/null &
holder=$!
for ((i = 0; i < 50; i++)); do [ -s held.txt ] || ! kill -0 $holder 2>/dev/null && break; sleep 0.1; done
before=$(last db.rrd)
kit "collect.cmd" 0 "" "" 'collect.cmd db.rrd spool'
kill $holder 2>/dev/null; wait $holder 2>/dev/null
# The update carries the counts of the saved listing, as a video run reads it.
video_counts() { wine "$program" x kit/spool "$1" video | tr -d '\r' | sed -n 's/^[A-Z0-9]*: //p' | paste -sd:; }
counts=$(video_counts '[POP3.SMTP.HTTP.FTP]')
calls=$(call)
expect "collect.cmd: the sources and the last update read first" [ "$(head -n 2 <<<"$calls")" = "[info][db.rrd]"$'\n'"[lastupdate][db.rrd]" ]
expect "collect.cmd: the saved listing's counts sent once" [ "$(grep -cxF "[update][db.rrd][N:$counts]" <<<"$calls")" = 1 ]
expect "collect.cmd: the sample landed" [ "$(last db.rrd)" -gt "$before" ]
expect "collect.cmd: a netstat listing saved, nothing left aside" \
    eval 'grep -q "Local Address" kit/spool/netstatdump.log && [ ! -e kit/spool/netstatdump.tmp ] && [ ! -e kit/db.rrd.lock ]'
[ -s held.txt ] && expect "collect.cmd: our POP3 connection counted" [ "${counts%%:*}" -ge 1 ]
kit "collect.cmd, two services" 0 "" "" 'collect.cmd ph.rrd "spool\" [http.POP3]'
expect "collect.cmd, two services" grep -qxF "[update][ph.rrd][N:$(video_counts '[http.POP3]')]" <(call)

# A run waits for the lock another holds, and sends nothing until it is free.
: >kit/db.rrd.lock
kit "collect.cmd waits for the lock" 0 "" "" 'collect.cmd db.rrd spool' >waited.txt &
sleep 4
expect "collect.cmd: nothing sent while the lock is held" [ -z "$(grep update bin/calls.txt 2>/dev/null)" ]
rm kit/db.rrd.lock && wait $!
expect "collect.cmd: sent once the lock is free" [ -z "$(cat waited.txt)" ]; cat waited.txt
# Two runs at once: as many successes as samples that landed, however the
# seconds fall (rrdtool keeps one update a second).
rm -f bin/updates.txt
for i in 1 2; do (kit "collect.cmd, two at once" 0 "" "" 'collect.cmd db.rrd spool' | grep -c FAIL >"ran$i") & done
wait
expect "collect.cmd, two at once: one success for each sample" \
    [ "$(grep -c landed bin/updates.txt)" = "$(grep -l '^0$' ran1 ran2 | wc -l)" ]
call >/dev/null

# Each loss: a status, one line on stderr, no new sample, the old listing kept.
cp kit/spool/netstatdump.log listing.txt
t=$(last db.rrd) lost="collect.cmd: the sample did not land in \"db.rrd\" within 5 seconds: the last update stayed at"
no_listing='collect.cmd: netstat'"'"'s output in "spool\netstatdump.tmp" is empty or has no "Proto" header line (a full disk?); the old listing is kept and no sample was sent'
while IFS='|' read -r name status message setup undo; do
    eval "$setup"
    kit "collect.cmd: $name" "$status" "" "$message" 'collect.cmd db.rrd spool'
    eval "$undo"
    expect "collect.cmd: $name: no sample" [ "$(last db.rrd)" = "$t" ]
    [ "$status" = 3 ] && expect "collect.cmd: $name: the old listing kept" cmp -s listing.txt kit/spool/netstatdump.log
done <<EOF
update dropped|4|$lost $t; the database is writable|touch bin/drop|rm bin/drop
read-only database|4|$lost $t; the database is read-only|chmod 444 kit/db.rrd|chmod 644 kit/db.rrd
dead daemon|4|$lost $t; the database is writable; the daemon at unix:$scratch/dead.sock does not answer|export RRDCACHED_ADDRESS=unix:$scratch/dead.sock|unset RRDCACHED_ADDRESS
netstat failed|3|collect.cmd: the netstat listing could not be saved in "spool"; no sample was sent|cp bin/rrdtool.exe kit/netstat.exe|rm kit/netstat.exe
empty listing (a full disk)|3|$no_listing|cp bin/rrdtool.exe kit/netstat.exe; : >kit/netstat.txt|rm kit/netstat.*
listing without header|3|$no_listing|cp bin/rrdtool.exe kit/netstat.exe; echo 'TCP 1.2.3.4:110 5.6.7.8:9 ESTABLISHED' >kit/netstat.txt|rm kit/netstat.*
EOF
expect "losses: the lock removed" [ ! -e kit/db.rrd.lock ]
call >/dev/null

# estacount's own refusal is passed on.
kit "collect.cmd passes on a refusal" 255 $'\nimpossible to pass the rrd at [x^y.rrd] to the command interpreter: it holds one of " % ! ^ & | < > ( ) or a control character' \
    "estacount: x^y.rrd$acted_on"$'\ncollect.cmd: estacount exited with status -1; no sample was sent' 'collect.cmd "x^y.rrd" spool [POP3.HTTP]'

# Refused before anything runs: no listing, no database, nothing sent.
rm -rf kit/spool bin/calls.txt
list_usage='LIST must be [ names separated by dots ], each POP3, SMTP, HTTP or FTP, in capitals or in lower case, such as [POP3.SMTP.HTTP.FTP]'
too_many='too many words: cmd.exe splits a word at each comma, semicolon or equals sign outside quotes; usage:'
not_found='rrdtool not found in the current folder or on PATH (check with: where rrdtool);'
while IFS='|' read -r script line path message; do
    WINEPATH=${path:-$bin} kit "$script $line" 2 "" "$script: $message" "$script $line"
done <<EOF
collect.cmd|db.rrd spool|$(windows_path "$scratch/empty")|$not_found no sample was sent
create-database.cmd|new.rrd|$(windows_path "$scratch/empty")|$not_found no database was made
draw-graph.cmd|db.rrd graph.png|$(windows_path "$scratch/empty")|$not_found nothing was drawn
collect.cmd|db.rrd spool [POP3,HTTP]||$too_many collect.cmd DB SPOOL [LIST]
create-database.cmd|new.rrd [POP3,HTTP]||$too_many create-database.cmd DB [LIST]
collect.cmd|none.rrd spool||no database at "none.rrd" (create-database.cmd makes one)
collect.cmd|ph.rrd spool [POP3.SMTP.HTTP]||LIST selects pop3.smtp.http but "ph.rrd" has the data sources pop3.http, in that order
collect.cmd|ph.rrd spool [HTTP]||LIST selects http but "ph.rrd" has the data sources pop3.http, in that order
collect.cmd|hp.rrd spool [HTTP.POP3]||LIST selects pop3.http but "hp.rrd" has the data sources http.pop3, in that order
collect.cmd|"my stats.rrd" spool||estacount would split a database path that holds a space: "my stats.rrd"
create-database.cmd|db.rrd||"db.rrd" already exists
create-database.cmd|"a&b.rrd"||estacount cannot update a database whose path holds a space or one of ! ^ & | < > ( ): "a&b.rrd"
draw-graph.cmd|none.rrd graph.png||no database at "none.rrd"
EOF
while IFS='|' read -r list message; do
    kit "collect.cmd $list" 2 "" "collect.cmd: $message" "collect.cmd db.rrd spool $list"
    kit "create-database.cmd $list" 2 "" "create-database.cmd: $message" "create-database.cmd new.rrd $list"
done <<EOF
[]|LIST names no service
[Pop3]|$list_usage
"[pop3&calc]"|$list_usage
"[pop3!]"|$list_usage
[pop3..ftp]|$list_usage
[.ftp]|$list_usage
[ftp.]|$list_usage
POP3|$list_usage
[POP3]x]|$list_usage
EOF
expect "refusals: no listing, no database, nothing sent" eval '[ ! -e kit/spool ] && [ ! -e kit/new.rrd ] && ! call | grep -q -e update -e create'

# The words create-database.cmd gives rrdtool make, with the real rrdtool,
# the sources LIST selects, in estacount's order.
while IFS='|' read -r db list sources; do
    kit "create-database.cmd $db $list" 0 "" "" "create-database.cmd $db $list"
    words=$(call | sed 's/^\[create\]\[[^]]*\]\[//; s/\]$//; s/\]\[/ /g')
    rrdtool create real.rrd $words && rrdtool info real.rrd | sed -n 's/^ds\[\(.*\)\]\.index.*/\1/p' | paste -sd. >got
    expect "create-database.cmd $db $list: the sources" [ "$(cat got)" = "$sources" ]
    rm -f real.rrd got
done <<'EOF'
sub\dir\new.rrd|[ftp.HTTP.pop3]|pop3.http.ftp
all.rrd||pop3.smtp.http.ftp
EOF
expect "create-database.cmd: the databases and their folder" test -e kit/sub/dir/new.rrd -a -e kit/all.rrd

# draw-graph.cmd draws the sources the database has, into a new file that
# replaces the PNG, under a title that names the computer, on an axis of
# whole numbers; the % formats reach rrdtool whole.
legend() {
    printf '[DEF:%s=%s:%s:AVERAGE][DEF:%speak=%s:%s:MAX][VDEF:%slast=%s,LAST][VDEF:%savg=%s,AVERAGE][VDEF:%smax=%speak,MAXIMUM]' \
        "$1" "$2" "$1" "$1" "$2" "$1" "$1" "$1" "$1" "$1" "$1" "$1"
    printf '[LINE2:%s#%s:%s][GPRINT:%slast:last %%4.0lf][GPRINT:%savg:average %%6.1lf][GPRINT:%smax:max %%4.0lf\\l]' "$1" "$3" "$4" "$1" "$1" "$1"
}
host=$(wine cmd /c echo %COMPUTERNAME% | tr -d '\r')
options="[--end][now][--imgformat][PNG][--title][Established connections on $host][--vertical-label][connections][--width][600][--height][200][--lower-limit][0][--upper-limit][4][--left-axis-format][%.0lf][--units-exponent][0]"
kit "draw-graph.cmd" 0 "" "" 'draw-graph.cmd ph.rrd www\graph.png'
expect "draw-graph.cmd: every word" [ "$(call)" = "[info][ph.rrd]"$'\n'"[graph][www\\graph.png.new.png][--start][end-1d]$options$(legend pop3 ph.rrd 1f77b4 'POP3 ')$(legend http ph.rrd 2ca02c 'HTTP ')" ]
expect "draw-graph.cmd: the PNG in place" eval '[ -e kit/www/graph.png ] && [ ! -e kit/www/graph.png.new.png ]'
drive=$(windows_path "$scratch/kit/db.rrd")
kit "draw-graph.cmd, a drive" 0 "" "" "draw-graph.cmd $drive graph.png end-1w"
expect "draw-graph.cmd: the drive's colon escaped" grep -qF "$(legend ftp "Z\\${drive#Z}" d62728 'FTP  ')" <(call)
kit "draw-graph.cmd: no source" 2 "" 'draw-graph.cmd: "other.rrd" has none of the data sources pop3, smtp, http, ftp; nothing was drawn' \
    'draw-graph.cmd other.rrd graph.png'

finish
