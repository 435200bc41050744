#!/usr/bin/env bash
# fillrrd in the Windows build, under wine: the update goes to cmd.exe, which
# runs the first rrdtool it finds; a recording rrdtool.cmd stands in for it.
# Checks the words it receives, the search for it, and the paths refused
# before cmd.exe could act on them or rrdtool take them as other words.
#   fillrrd_wine.sh PROGRAM.exe
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

# recorder FOLDER: puts a rrdtool.cmd in FOLDER that appends to
# FOLDER/calls.txt one line per call: the words it was given, each in
# brackets, so that the line shows where cmd.exe split them. "rrdtool info"
# prints FOLDER/info.txt instead, when there is one.
recorder() {
    mkdir -p "$1"
    printf '%s\r\n' '@echo off' 'if "%~1"=="info" if exist "%~dp0info.txt" type "%~dp0info.txt" & exit /b 0' \
        'set words=' ':next' 'if "%~1"=="" goto done' \
        'set words=%words%[%1]' 'shift' 'goto next' ':done' \
        '>>"%~dp0calls.txt" echo %words%' >"$1/rrdtool.cmd"
}

# recorded NAME FOLDER WORDS: waits (20 s at most) for the recorder in FOLDER
# to end a line, then wants exactly one call, with WORDS.
recorded() {
    local calls=$2/calls.txt i
    for ((i = 0; i < 200; i++)); do
        [ -s "$calls" ] && [ -z "$(tail -c 1 "$calls")" ] && break  # a line ended
        sleep 0.1
    done
    expect "$1" [ "$(cat "$calls" 2>/dev/null)" = "$3"$'\r' ]
    rm -f "$calls"
}

cp -r "$examples/spool" example
touch db.rrd
recorder bin
bin=$(windows_path "$scratch/bin")
all='[POP3.SMTP.HTTP.FTP]'

# --- what rrdtool receives ------------------------------------------------------

WINEPATH=$bin check "all four" 1 "" db.rrd example "$all" fillrrd
recorded "all four" bin '[update][db.rrd][N:3:2:5:1]'
WINEPATH=$bin check "two services" 1 "" db.rrd example '[http.POP3]' fillrrd
recorded "two services" bin '[update][db.rrd][N:3:5]'

# --- the search for rrdtool ------------------------------------------------------

no_start=$'\nimpossible to start rrdtool to update the rrd at [db.rrd]\n'
not_found='estacount: rrdtool: not found in the current folder or on PATH'

mkdir -p empty bare && touch bare/rrdtool
err=$not_found WINEPATH=$(windows_path "$scratch/empty") check "no rrdtool" 255 "$no_start" db.rrd example "$all" fillrrd
err=$not_found WINEPATH=$(windows_path "$scratch/bare") check "rrdtool without extension" 255 "$no_start" db.rrd example "$all" fillrrd
WINEPATH=\"$bin\" check "quoted PATH folder" 1 "" db.rrd example '[FTP]' fillrrd
recorded "quoted PATH folder" bin '[update][db.rrd][N:1]'
err=$not_found pathext='.EXE;.BAT' WINEPATH=$bin check "PATHEXT without .CMD" 255 "$no_start" db.rrd example "$all" fillrrd

# cmd.exe looks in the current folder before PATH.
recorder here
cp db.rrd here/
cd here || exit 2
check "rrdtool in the current folder" 1 "" db.rrd ../example '[FTP]' fillrrd
recorded "rrdtool in the current folder" . '[update][db.rrd][N:1]'
rm rrdtool.cmd && mkdir rrdtool.cmd
err=$not_found check "a folder named rrdtool.cmd" 255 "$no_start" db.rrd ../example '[FTP]' fillrrd
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

# kit NAME STATUS STDOUT STDERR LINE: runs LINE, written as in a console, from
# a .cmd file in the kit's folder (the scripts and estacount.exe side by
# side, as in the zip); wants STATUS and exactly STDOUT and STDERR.
mkdir kit && cp "$examples"/*.cmd "$program" kit/
kit() {
    printf '@echo off\r\n%s\r\n' "$5" >kit/run.cmd
    (cd kit && wine cmd /c run.cmd >../.kout 2>../.kerr)
    local status=$?
    perl -0777 -pi -e 's/\r\n/\n/g' .kout .kerr
    if [ "$status" = "$2" ] && [ "$(cat .kout)" = "$3" ] && [ "$(cat .kerr)" = "$4" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $1: status $status; stdout, stderr:"
        cat -A .kout .kerr | head -n 20 | sed 's/^/  /'
    fi
}
# sources NAME...: what "rrdtool info" tells of the database's data sources.
sources() {
    local i=0 name
    for name; do printf 'ds[%s].index = %d\r\nds[%s].type = "GAUGE"\r\n' "$name" $i "$name"; i=$((i + 1)); done >bin/info.txt
}
touch kit/db.rrd kit/old.rrd
sources pop3 smtp http ftp

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
kit "collect.cmd" 1 "" "" 'collect.cmd db.rrd spool'
kill $holder 2>/dev/null; wait $holder 2>/dev/null
# The words rrdtool receives carry the counts of the listing collect.cmd
# saved, as a video run reads it: video_counts LIST prints them as N:...
video_counts() {
    wine "$program" x kit/spool "$1" video | tr -d '\r' | sed -n 's/^[A-Z0-9]*: //p' | paste -sd:
}
counts=$(video_counts '[POP3.SMTP.HTTP.FTP]')
recorded "collect.cmd: the saved listing's counts" bin "[update][db.rrd][N:$counts]"
expect "collect.cmd: a netstat listing saved" grep -q "Local Address" kit/spool/netstatdump.log
expect "collect.cmd: nothing left aside" [ ! -e kit/spool/netstatdump.tmp ]
[ -s held.txt ] && expect "collect.cmd: our POP3 connection counted" [ "${counts%%:*}" -ge 1 ]
sources pop3 http
kit "collect.cmd, two services" 1 "" "" 'collect.cmd db.rrd "spool\" [http.POP3]'
recorded "collect.cmd, two services" bin "[update][db.rrd][N:$(video_counts '[http.POP3]')]"
# estacount's own refusal is passed on.
touch 'kit/x^y.rrd'
kit "collect.cmd passes on a refusal" 255 $'\nimpossible to pass the rrd at [x^y.rrd] to the command interpreter: it holds one of " % ! ^ & | < > ( ) or a control character' \
    "estacount: x^y.rrd$acted_on"$'\ncollect.cmd: estacount exited with status -1; no sample was sent' 'collect.cmd "x^y.rrd" spool [POP3.HTTP]'

# Refused before anything runs: no listing, no database, nothing recorded.
rm -rf kit/spool
list_usage='LIST must be [ names separated by dots ], each POP3, SMTP, HTTP or FTP, in capitals or in lower case, such as [POP3.SMTP.HTTP.FTP]'
too_many='too many words: cmd.exe splits a word at each comma, semicolon or equals sign outside quotes; usage:'
kit "collect.cmd, the comma form" 2 "" "collect.cmd: $too_many collect.cmd DB SPOOL [LIST]" 'collect.cmd db.rrd spool [POP3,HTTP]'
kit "create-database.cmd, the comma form" 2 "" "create-database.cmd: $too_many create-database.cmd DB [LIST]" \
    'create-database.cmd new.rrd [POP3,HTTP]'
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
kit "collect.cmd: no database" 2 "" 'collect.cmd: no database at "none.rrd" (create-database.cmd makes one)' 'collect.cmd none.rrd spool'
kit "collect.cmd: sources differ" 2 "" 'collect.cmd: LIST selects pop3.smtp.http but "db.rrd" has the data sources pop3.http, in that order' 'collect.cmd db.rrd spool [POP3.SMTP.HTTP]'
kit "collect.cmd: fewer sources" 2 "" 'collect.cmd: LIST selects http but "db.rrd" has the data sources pop3.http, in that order' 'collect.cmd db.rrd spool [HTTP]'
sources http pop3
kit "collect.cmd: sources in another order" 2 "" 'collect.cmd: LIST selects pop3.http but "db.rrd" has the data sources http.pop3, in that order' 'collect.cmd db.rrd spool [HTTP.POP3]'
sources pop3 http
kit "collect.cmd: space in the path" 2 "" 'collect.cmd: estacount would split a database path that holds a space: "my stats.rrd"' 'collect.cmd "my stats.rrd" spool'
WINEPATH=$(windows_path "$scratch/empty") kit "collect.cmd: no rrdtool" 2 "" \
    'collect.cmd: cannot read the data sources of "db.rrd": rrdtool info failed, or rrdtool.exe is not on PATH' 'collect.cmd db.rrd spool'
expect "refusals: no listing" [ ! -e kit/spool ]
expect "refusals: no database" [ ! -e kit/new.rrd ]
expect "refusals: nothing recorded" [ ! -e bin/calls.txt ]

# call: the words of the one recorded call, one a line, unquoted; a run of
# create-database.cmd or draw-graph.cmd has ended with rrdtool's.
call() {
    perl -ne 's/\r?\n//; s/^\[//; s/\]$//; print map { s/^"(.*)"$/$1/r . "\n" } split /\]\[/' bin/calls.txt
    rm -f bin/calls.txt
}
# The words create-database.cmd gives rrdtool make, with the real rrdtool,
# the sources LIST selects, in estacount's order.
kit "create-database.cmd" 0 "" "" 'create-database.cmd sub\dir\new.rrd [ftp.HTTP.pop3]'
mapfile -t words < <(call)
expect "create-database.cmd: the database's folder" [ -d kit/sub/dir ]
expect "create-database.cmd: the database's name" [ "${words[1]}" = 'sub\dir\new.rrd' ]
rrdtool "${words[0]}" new.rrd "${words[@]:2}" &&
    expect "create-database.cmd: three sources" [ "$(rrdtool info new.rrd | sed -n 's/^ds\[\(.*\)\]\.index.*/\1/p' | paste -sd.)" = pop3.http.ftp ]
expect "create-database.cmd: made by rrdtool" [ -e new.rrd ]
kit "create-database.cmd: all four" 0 "" "" 'create-database.cmd all.rrd'
mapfile -t words < <(call)
rrdtool "${words[0]}" all.rrd "${words[@]:2}" &&
    expect "create-database.cmd: four sources" [ "$(rrdtool info all.rrd | sed -n 's/^ds\[\(.*\)\]\.index.*/\1/p' | paste -sd.)" = pop3.smtp.http.ftp ]
kit "create-database.cmd: an existing file" 2 "" 'create-database.cmd: "old.rrd" already exists' 'create-database.cmd old.rrd'
kit "create-database.cmd: a path estacount refuses" 2 "" \
    'create-database.cmd: estacount cannot update a database whose path holds a space or one of ! ^ & | < > ( ): "a&b.rrd"' 'create-database.cmd "a&b.rrd"'

# draw-graph.cmd draws the sources the database has. (Under wine, cmd.exe
# reads a %% again in a value it expands, so the legend's formats are not
# compared here.)
kit "draw-graph.cmd" 0 "" "" 'draw-graph.cmd db.rrd www\graph.png'
mapfile -t words < <(call)
expect "draw-graph.cmd: the PNG's folder" [ -d kit/www ]
expect "draw-graph.cmd: the PNG" [ "${words[0]} ${words[1]} ${words[3]}" = 'graph www\graph.png end-1d' ]
expect "draw-graph.cmd: pop3 and http" [ "$(printf '%s\n' "${words[@]}" | sed -n 's/^DEF:\([a-z0-9]*\)=db.rrd:.*:AVERAGE$/\1/p' | paste -sd.)" = pop3.http ]
kit "draw-graph.cmd, a drive" 0 "" "" "draw-graph.cmd $(windows_path "$scratch/kit/db.rrd") graph.png end-1w"
expect "draw-graph.cmd: the drive's colon escaped" grep -qF "DEF:http=Z\\:$(windows_path "$scratch/kit/db.rrd" | cut -c3-):http:AVERAGE" <(call)
printf '' >bin/info.txt
kit "draw-graph.cmd: no source" 2 "" 'draw-graph.cmd: "db.rrd" has none of the data sources pop3, smtp, http, ftp (or rrdtool.exe is not on PATH)' \
    'draw-graph.cmd db.rrd graph.png'
kit "draw-graph.cmd: no database" 2 "" 'draw-graph.cmd: no database at "none.rrd"' 'draw-graph.cmd none.rrd graph.png'

finish
