#!/usr/bin/env bash
# fillrrd in the Windows build, under wine: the update goes to cmd.exe, which
# runs the first rrdtool it finds; a recording stand-in takes its place.
# Checks the words it receives, the search for it, and the paths refused
# before cmd.exe could act on them or rrdtool take them as other words; then
# estacount-kit.exe (beside PROGRAM.exe), end to end, with the stand-in.
#   RRDTOOL_STANDIN=rrdtool_standin_win32.exe fillrrd_wine.sh PROGRAM.exe
set -u
. "$(dirname "$0")/lib.sh" --wine "$@"

# Wine shows the root of the file system as drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# With $line set, lib.sh's check runs that line from a .cmd file in the
# current folder, as typed in a console; else the program.
run_program() {
    [ -z "${line-}" ] || { printf '@echo off\r\n%s\r\n' "$line" >run.cmd && wine cmd /c run.cmd; return; }
    env "${program_env[@]}" wine "$program" "$@"
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

# --- estacount-kit ------------------------------------------------------------------

# The kit runs in kit/, beside an rrdtool.exe planted there that must never
# run, as none in a relative PATH folder must. The stand-in it should run is
# in tools/, behind a folder named rrdtool.com; each copy records its calls
# beside it.
kit_program=$(dirname "$program")/estacount-kit.exe
mkdir -p kit/tools/rrdtool.com kit/batch 'kit/Program Files (x86)/rrdtool' && cd kit || exit 2
for d in tools 'Program Files (x86)/rrdtool' .; do cp ../bin/rrdtool.exe "$d/"; done
printf '@echo off\r\n' >batch/rrdtool.cmd
tools=$(winpath "$scratch/kit/tools") batch=$(winpath "$scratch/kit/batch") dead=unix:$scratch/dead.sock
export WINEPATH=$tools
calls=(calls.txt tools/calls.txt 'Program Files (x86)/rrdtool/calls.txt')
# kit_calls: the calls recorded, then none; verbs: their first words alone.
kit_calls() { cat "${calls[@]}" 2>/dev/null; rm -f "${calls[@]}"; }
verbs() { kit_calls | sed 's/^\[\([a-z]*\)\].*/\1/' | paste -sd' '; }
# kit NAME STATUS LINE WORDS...: a run in kit/ wants STATUS, nothing on
# stdout, and "estacount-kit: LINE" on stderr (nothing when LINE is empty).
kit() {
    local name=$1 status=$2 said=$3
    shift 3
    program=$kit_program err=${said:+estacount-kit: $said} check "$name" "$status" "" "$@"
}
# The stand-in keeps a database as text: its sources, then the time of its
# last update.
for d in 'db.rrd:pop3 smtp http ftp' 'ph.rrd:pop3 http' 'other.rrd:imap' 'ro.rrd:pop3 smtp http ftp' 'a&b.rrd:pop3'; do
    printf '%s\n0\n' "${d#*:}" >"${d%%:*}"
done
chmod 444 ro.rrd && echo old >old.png
# The counts estacount reads in SPOOL's listing, as N:...'s values.
video_counts() { wine "$program" x "$1" "$2" video | tr -d '\r' | sed -n 's/^[A-Z0-9]*: //p' | paste -sd:; }

# True while the stand-in from tools/ runs: wine shows its Windows path.
rrdtool_running() { pgrep -f "${scratch//\//.}.kit.tools.rrdtool" >/dev/null; }

# Each refusal and each loss: status 2 and its one line, and what rrdtool
# was asked for (the verbs, in order; none when empty). PATH is tools/
# unless given; ENV holds NAME=VALUE words for the run alone. <refused>
# stands for the words of a path cmd.exe would act on, which hold a '|'.
refused=' holds one of " % ! ^ & | < > ( ) or a control character, which cmd.exe would act on'
no_daemon="through rrdcached at $dead: ERROR: Unable to connect to rrdcached: Connection refused"
while IFS='|' read -r name path environment words said wanted; do
    read -ra program_env <<<"$environment"
    said=${said//<refused>/"$refused"} started=$SECONDS
    WINEPATH=${path:-$tools} kit "$name" 2 "$said" $words
    expect "$name: rrdtool asked for ${wanted:-nothing}" [ "$(verbs)" = "$wanted" ]
    [[ $environment == RRDTOOL_HANGS* ]] && expect "$name: stopped at its bound, with rrdtool" \
        eval '[ $((SECONDS - started)) -ge 20 ] && [ $((SECONDS - started)) -lt 40 ] && ! rrdtool_running'
done <<EOF2
a character cmd.exe acts on|||collect a&b.rrd spool|the database path a&b.rrd<refused>: no sample was sent|
parentheses, as in Program Files (x86)|||create x(86).rrd|the database path x(86).rrd<refused>|
create over a database|||create db.rrd|db.rrd already exists: remove it first to start again|
collect without a database|||collect none.rrd spool|no database at none.rrd: make it with estacount-kit create none.rrd [POP3.SMTP.HTTP.FTP]: no sample was sent|
a list unlike the sources|||collect ph.rrd spool [POP3.SMTP]|the service list [POP3.SMTP] sends pop3 smtp, but ph.rrd holds pop3 http: give the list that names its sources, in that order; no sample was sent|info
a graph of no service|||graph other.rrd old.png|other.rrd holds none of pop3, smtp, http, ftp (it holds imap): old.png was left as it was|info
a batch file first on PATH|$batch;$tools||collect db.rrd spool|cannot read db.rrd: rrdtool could not be started: rrdtool: $batch\\rrdtool.cmd is a batch file, which estacount-kit does not run: put the folder of rrdtool.exe first on PATH: no sample was sent|
rrdtool in the current and relative folders only|tools;.;..\\kit\\tools||collect db.rrd spool|cannot read db.rrd: rrdtool could not be started: rrdtool: not found in the absolute folders of PATH: no sample was sent|
a read-only database|||collect ro.rrd spool|the sample did not land in ro.rrd: ERROR: opening 'ro.rrd': Permission denied|info update
a daemon that does not answer||RRDCACHED_ADDRESS=$dead|collect db.rrd spool|cannot read db.rrd $no_daemon: no sample was sent|info flushcached
create through a daemon that does not answer||RRDCACHED_ADDRESS=$dead|create new.rrd|new.rrd was not made through rrdcached at $dead: cannot read new.rrd $no_daemon|create info flushcached
a graph through a daemon that does not answer||RRDCACHED_ADDRESS=$dead|graph db.rrd old.png|cannot read db.rrd $no_daemon: old.png was left as it was|info flushcached
a graph that rrdtool fails||RRDTOOL_FAILS=graph|graph db.rrd old.png|rrdtool could not draw db.rrd: ERROR: graph failed, as RRDTOOL_FAILS asked: old.png was left as it was|info graph
a textfile not named .prom|||textfile spool out.txt|out.txt does not end in .prom: node_exporter would never read it: out.txt was left as it was|
a textfile without a listing|||textfile nowhere out.prom|no listing at nowhere\\netstatdump.log: out.prom was left as it was|
rrdtool that hangs||RRDTOOL_HANGS=1|collect db.rrd spool|cannot read db.rrd: rrdtool info did not end within 20 s and was stopped: no sample was sent|info
EOF2
program_env=()
expect "refusals and losses: nothing made, the old PNG kept, nothing left aside" \
    eval '[ ! -e new.rrd ] && [ ! -e "x(86).rrd" ] && [ ! -e out.txt ] && [ ! -e out.prom ] && [ ! -e nowhere ] && [ "$(cat old.png)" = old ] && [ -z "$(ls -A | grep "^\.estacount")" ]'
expect "a read-only database: the listing saved all the same" [ -s spool/netstatdump.log ]

# create: the sources LIST selects, in estacount's order, never over a file;
# the folders on the way made.
kit "create" 0 "" create new.rrd '[ftp.HTTP.pop3]'
expect "create: the sources in table order, never over a file" eval '[ "$(head -n 1 new.rrd)" = "pop3 http ftp" ] && kit_calls | grep -qF "[create][new.rrd][--no-overwrite]"'
kit "create in folders to be made" 0 "" create 'sub\dir\new.rrd'
expect "create in folders to be made: made" [ "$(head -n 1 sub/dir/new.rrd 2>/dev/null)" = "pop3 smtp http ftp" ]
kit_calls >/dev/null

# collect, with connections of our own on loopback, IPv4 and IPv6, each held
# while it runs, to the first service port of a list that can be had (one
# below 1024: root only; another test may hold one). held<FAMILY>.txt:
# "PORT CLIENT_PORT" once held.
hold() {
    perl -MIO::Socket::IP -e '$| = 1; my $a = shift;
        for my $p (@ARGV) {
            my $l = IO::Socket::IP->new(LocalHost => $a, LocalPort => $p, Listen => 1, ReuseAddr => 1) or next;
            my $c = IO::Socket::IP->new(PeerHost => $a, PeerPort => $p) or exit 3;
            my $s = $l->accept or exit 3; print "$p ", $c->sockport, "\n"; sleep 60 }' "$@" >"held$1.txt" 2>/dev/null &
}
hold 127.0.0.1 110 25 80 21; holders=$!
hold ::1 21 80 25 110; holders="$holders $!"
for ((i = 0; i < 50; i++)); do [ -s held127.0.0.1.txt ] && [ -s held::1.txt ] && break; sleep 0.1; done
kit "collect" 0 "" collect db.rrd spool
kill $holders 2>/dev/null; { wait $holders; } 2>/dev/null
counts=$(video_counts spool '[POP3.SMTP.HTTP.FTP]')
second=$(tr -d '\r\n' <spool/.estacount-kit.last)
expect "collect: the saved listing's counts sent, in the second noted, by the rrdtool on PATH alone" \
    [ "$(kit_calls)" = "[info][db.rrd]"$'\n'"[update][db.rrd][$second:$counts]" ]
expect "collect: a listing with netstat's heading and CR LF, nothing left aside" \
    eval 'head -n 1 spool/netstatdump.log | grep -qx "Proto .*State"$'"'\r'"' && [ "$(ls -A spool | paste -sd" ")" = ".estacount-kit.last .estacount-kit.lock netstatdump.log" ]'
# Both ends of each connection listed, and the service's count takes it in.
for held in 'tcp 127.0.0.1 127\.0\.0\.1' 'tcp6 ::1 \[::1\]'; do
    read -r proto family address <<<"$held"  # the address as a pattern
    read -r port client <"held$family.txt" || { echo "skipped: no connection held to a service port of $family"; continue; }
    column=$(case $port in 110) echo 1 ;; 25) echo 2 ;; 80) echo 3 ;; 21) echo 4 ;; esac)
    expect "collect: our $proto connection to port $port listed and counted" eval \
        'grep -qE "^$proto +$address:$port +$address:$client +ESTABLISHED" spool/netstatdump.log &&
         grep -qE "^$proto +$address:$client +$address:$port +ESTABLISHED" spool/netstatdump.log &&
         [ "$(cut -d: -f$column <<<"$counts")" -ge 1 ]'
done
# Each PATH entry is taken without its quotes.
WINEPATH="\"$(winpath "$scratch/kit/Program Files (x86)/rrdtool")\"" kit "collect, rrdtool in a quoted PATH folder with parentheses" 0 "" collect ph.rrd spool '[http.POP3]'
expect "collect: that rrdtool ran" eval 'grep -q "^\[update\]\[ph\.rrd\]\[[0-9]*:[0-9]*:[0-9]*\]$" "Program Files (x86)/rrdtool/calls.txt"'
kit_calls >/dev/null

# graph: rrdtool's PNG taken from its stdout byte for byte, into a new file
# renamed over the old; every word reaches it whole, with its spaces, % and \.
host=$(wine cmd /c echo %COMPUTERNAME% | tr -d '\r')
kit "graph" 0 "" graph db.rrd 'www\graph.png'
graph_calls=$(kit_calls)
expect "graph: the PNG whole, nothing left aside" eval 'cmp -s <(head -c 8 www/graph.png) <(printf "\x89PNG\r\n\x1a\n") && [ "$(ls -A www)" = graph.png ]'
for word in '[graph][-][--start][end-1d]' "[--title][Established connections on $host]" '[DEF:pop3=db.rrd:pop3:AVERAGE]' \
    '[DEF:ftp=db.rrd:ftp:AVERAGE]' '[GPRINT:pop3last:last %4.0lf]' '[GPRINT:ftpmax:max %4.0lf\l]'; do
    expect "graph: the word $word" grep -qF "$word" <<<"$graph_calls"
done
drive=$(winpath "$scratch/kit/db.rrd")
kit "graph of a path with a drive" 0 "" graph "$drive" graph.png end-1w
expect "graph: the drive's colon escaped" grep -qF "[DEF:http=Z\\${drive#Z}:http:AVERAGE]" <(kit_calls)

# textfile: the counts and the listing's time, written whole.
kit "textfile" 0 "" textfile spool 'prom\estacount.prom'
IFS=: read -r pop3 smtp http ftp <<<"$(video_counts spool '[POP3.SMTP.HTTP.FTP]')"
expect "textfile: the counts and the listing's time" [ "$(grep -v '^#' prom/estacount.prom)" = "$(printf 'estacount_established_connections{service="%s"} %s\n' pop3 "$pop3" smtp "$smtp" http "$http" ftp "$ftp"; echo "estacount_listing_timestamp_seconds $(stat -c %Y spool/netstatdump.log)")" ]
touch -d '-1 hour' spool/netstatdump.log
kit "textfile of an old listing" 2 "the listing spool\\netstatdump.log is ${why}3600 s old, more than 600 s: out.prom was left as it was" textfile spool out.prom
touch -d '+1 hour' spool/netstatdump.log
kit "textfile of a listing from the future" 2 "the listing spool\\netstatdump.log is dated ${why}3600 s ahead of this clock: out.prom was left as it was" textfile --max-age 60 spool out.prom
kit "textfile --save" 0 "" textfile --save spool out.prom '[HTTP]'
expect "textfile --save: a fresh listing, its counts" eval '[ $(($(date +%s) - $(stat -c %Y spool/netstatdump.log))) -lt 30 ] && [ "$(grep -v "^#" out.prom | head -n 1)" = "estacount_established_connections{service=\"http\"} $(video_counts spool "[HTTP]")" ]'
kit_calls >/dev/null

# Killed at any moment, with its process group, a run never stops the next
# from landing its sample.
rm -f tools/updates.txt
for i in 1 2 3 4 5 6; do
    setsid wine "$kit_program" collect db.rrd spool >/dev/null 2>&1 &
    pid=$! ms=$((RANDOM % 1200))
    sleep "$((ms / 1000)).$(printf %03d $((ms % 1000)))"
    kill -KILL -- -$pid 2>/dev/null; { wait $pid; } 2>/dev/null
    # Its rrdtool, ended with it, may still have been landing a sample.
    sleep 0.2; landed=$(cat tools/updates.txt 2>/dev/null | wc -l)
    kit "a run after one killed at $ms ms" 0 "" collect db.rrd spool
    expect "a run after one killed at $ms ms: landed" [ "$(wc -l <tools/updates.txt)" -ge $((landed + 1)) ]
done
# Killed while its rrdtool hangs, a run takes it along: none is left to
# change the database behind the next run's back.
kit_calls >/dev/null
RRDTOOL_HANGS=1 setsid wine "$kit_program" collect db.rrd spool >/dev/null 2>&1 &
pid=$!
for ((i = 0; i < 100; i++)); do [ -s tools/calls.txt ] && rrdtool_running && break; sleep 0.1; done
kill -KILL -- -$pid; { wait $pid; } 2>/dev/null
for ((i = 0; i < 50; i++)); do rrdtool_running || break; sleep 0.1; done
expect "a run killed while rrdtool hangs: rrdtool ended with it" eval '! rrdtool_running'
kit_calls >/dev/null
expect "kills: the listing whole" eval 'head -n 1 spool/netstatdump.log | grep -q "^Proto " && [ -z "$(tail -c 2 spool/netstatdump.log | tr -d "\r\n")" ]'

# Runs at once on one database: each that exits 0 landed its sample.
rm -f tools/updates.txt
for i in 1 2 3 4 5; do (wine "$kit_program" collect db.rrd spool >/dev/null 2>&1; echo $? >"at_once$i") & done
wait
ok=$(cat at_once? | grep -cx 0)
expect "5 runs at once: one sample landed for each success" [ "$(wc -l <tools/updates.txt)" = "$ok" ]
expect "5 runs at once: all landed" [ "$ok" = 5 ]
kit_calls >/dev/null

# The event log: wine's ReportEventW keeps nothing, but shows on its debug
# channels the source, the type, category and ID of the event and its
# number of strings (fixme:advapi), and its one string (err:eventlog).
said='estacount-kit: no database at none.rrd: make it with estacount-kit create none.rrd [POP3.SMTP.HTTP.FTP]: no sample was sent'
WINEDEBUG=-all,fixme+advapi,err+eventlog wine "$kit_program" collect none.rrd spool 2>eventlog.txt
expect "event log: the line on stderr" [ "$(head -n 1 eventlog.txt | tr -d '\r')" = "$said" ]
expect "event log: source estacount" grep -qF 'RegisterEventSourceW ((null),L"estacount")' eventlog.txt
expect "event log: an error (1), category 0, ID 1, one string" grep -qE 'ReportEventW \([0-9A-F]+,0x0001,0x0000,0x00000001,[0-9A-F]+,0x0001,' eventlog.txt
expect "event log: the line as its string" grep -qF "err:eventlog:ReportEventW L\"$said\"" eventlog.txt
WINEDEBUG=-all,fixme+advapi,err+eventlog wine "$kit_program" collect db.rrd spool 2>eventlog.txt
expect "event log: nothing for a run that landed" [ -z "$(grep ReportEventW eventlog.txt)" ]
kit_calls >/dev/null

# In Russian: paths in the ANSI code page (1251) reach the system and
# rrdtool whole, the listing keeps its English words, the line is exact, and
# the event log gets it in Unicode. localedef adds the one locale (Debian's
# locale-gen would rebuild them all from /etc/locale.gen).
russian=ru_RU.UTF-8
locale -a | grep -qix 'ru_RU.utf-\?8' || localedef -i ru_RU -f UTF-8 $russian 2>/dev/null
if ! locale -a | grep -qix 'ru_RU.utf-\?8'; then
    echo "skipped: the Russian rows, as $russian cannot be had here (localedef -i ru_RU -f UTF-8 $russian failed)"
else
    export LC_ALL=$russian
    cp1251() { printf '%s' "$1" | iconv -f UTF-8 -t CP1251; }
    kit "ru: create" 0 "" create 'база\данные.rrd' '[pop3.http]'
    kit "ru: collect" 0 "" collect 'база\данные.rrd' 'спул' '[POP3.HTTP]'
    expect "ru: the sample of the listing saved" [ "$(kit_calls | tail -n 1)" = "$(cp1251 "[update][база\\данные.rrd][$(tr -d '\r\n' <спул/.estacount-kit.last):$(video_counts 'спул' '[POP3.HTTP]')]")" ]
    expect "ru: the listing in English" eval 'head -n 1 спул/netstatdump.log | grep -q "^Proto Local Address" && grep -qE " (LISTEN|ESTABLISHED|TIME_WAIT)"$'"'\r'"' спул/netstatdump.log'
    kit "ru: graph" 0 "" graph 'база\данные.rrd' 'граф.png'
    kit "ru: textfile" 0 "" textfile 'спул' 'метрики.prom' '[POP3.HTTP]'
    expect "ru: the PNG and the textfile" eval 'cmp -s <(head -c 4 граф.png) <(printf "\x89PNG") && grep -q "^estacount_established_connections{service=\"http\"} " метрики.prom'
    kit "ru: a line with a path" 2 "$(cp1251 "no database at нет\\данные.rrd: make it with estacount-kit create нет\\данные.rrd [POP3.SMTP.HTTP.FTP]: no sample was sent")" collect 'нет\данные.rrd' 'спул'
    WINEDEBUG=-all,err+eventlog wine "$kit_program" collect 'нет.rrd' 'спул' 2>eventlog.txt
    expect "ru: the event log's string in Unicode" grep -qF 'L"estacount-kit: no database at \043d\0435\0442.rrd:' eventlog.txt
    unset LC_ALL
    kit_calls >/dev/null
fi

finish
