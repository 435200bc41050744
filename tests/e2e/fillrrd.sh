#!/usr/bin/env bash
# fillrrd on POSIX: samples written by the real rrdtool, directly and through
# rrdcached; then the words and the start-up state that rrdtool receives,
# seen by a recording stand-in first on PATH, and the database paths refused
# before any launch.   fillrrd.sh PROGRAM
set -u
. "$(dirname "$0")/lib.sh"
cp -r "$examples/spool" example   # POP3 3, SMTP 2, HTTP 5, FTP 1
all='[POP3.SMTP.HTTP.FTP]'
none='estacount: warning: the service list [] selects no service: no count is delivered'

# The program does not wait for rrdtool, so the test polls, for 20 s at most.
wait_for() { local i; for ((i = 0; i < 200; i++)); do "$@" && return; sleep 0.1; done; false; }

# create DB DS...: one gauge per source, in order, dated 1970 so that the
# update shows in the file's date: polling with rrdtool would take the lock
# and make the very update under test fail ("could not lock RRD").
create() {
    local db=$1 ds sources=()
    shift
    for ds in "$@"; do sources+=("DS:$ds:GAUGE:600:0:U"); done
    rrdtool create "$db" --step 300 "${sources[@]}" RRA:LAST:0.5:1:10 && touch -d @1 "$db"
}
written() { [ "$(date -r "$1" +%s)" != 1 ]; }
values() { [ "$(rrdtool lastupdate "$1" | sed -n 's/^[0-9]*: //p')" = "$2" ]; }

create four.rrd pop3 smtp http ftp
create two.rrd pop3 http
create cached.rrd pop3 smtp http ftp
check "four services"          1 "" four.rrd example "$all" fillrrd
check "two services"           1 "" two.rrd example '[HTTP.pop3]' fillrrd
wait_for written four.rrd && wait_for written two.rrd
expect "four values in table order" values four.rrd "3 2 5 1"
expect "two values in table order"  values two.rrd "3 5"

# One rrdcached batching many collectors' writes: RRDCACHED_ADDRESS, passed
# on in the environment, sends the sample to it; the file has it once flushed.
mkdir journal
rrdcached -g -p "$scratch/pid" -l "unix:$scratch/sock" -j "$scratch/journal" -b "$scratch" -w 3600 -f 7200 >/dev/null 2>&1 &
cache=$!
trap 'kill $cache 2>/dev/null; wait; rm -rf "$scratch"' EXIT
wait_for test -S sock
program_env=(RRDCACHED_ADDRESS="unix:$scratch/sock")
check "through rrdcached"      1 "" cached.rrd example "$all" fillrrd
flushed() { rrdtool flushcached --daemon "unix:$scratch/sock" cached.rrd && written cached.rrd; }
expect "flushed by the daemon" wait_for flushed
expect "with four values"      values cached.rrd "3 2 5 1"

# The stand-in notes what it started with before bash changes any of it,
# prints noise that must reach nobody, waits for "release" while "hold"
# exists, then records its words and notes.
mkdir bin
cat >bin/rrdtool <<'STANDIN'
#!/usr/bin/env bash
notes="stdio $(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2 | tr '\n' ' ')"
[ -e /proc/$$/fd/7 ] && notes+="fd7 "
read -r stat </proc/$$/stat && fields=(${stat##*) }) && [ "${fields[3]}" = $$ ] && notes+="leader "
while read -r key value; do  # SIGHUP is bit 0 of SigIgn, SIGUSR1 bit 9 of SigBlk
    [ "$key" = SigIgn: ] && (( 16#$value & 1 )) && notes+="hup-ignored "
    [ "$key" = SigBlk: ] && (( 16#$value >> 9 & 1 )) && notes+="usr1-blocked "
done </proc/$$/status
echo noise; echo noise >&2
while [ -e hold ] && [ ! -e release ]; do sleep 0.05; done
printf '%s\n' "$@" "$notes${PROBE:-}" >record.tmp && mv record.tmp "record.$RANDOM$RANDOM"
STANDIN
chmod +x bin/rrdtool
program_env=(PATH="$scratch/bin:$PATH")
one_record() { [ "$(ls record.* 2>/dev/null | wc -l)" = 1 ]; }
# recorded NAME LINES: the one record holds LINES, its words and its notes.
recorded() {
    wait_for one_record
    expect "$1" [ "$(cat record.* 2>/dev/null)" = "$2" ]
    rm -f record.*
}
quiet='stdio /dev/null /dev/null /dev/null leader '

touch db.rrd
# Tabs and spaces are refused below; ${IFS} would split there in a shell.
evil='x;touch${IFS}p1|touch${IFS}p2&$(touch${IFS}p3)`touch${IFS}p4`>p5"<'\''\é.rrd'
touch "$evil"
check "shell characters"       1 "" "$evil" example '[FTP]' fillrrd
recorded "arrive literally"    "update"$'\n'"$evil"$'\nN:1\n'"$quiet"
expect "and run nothing"       [ -z "$(ls -d p? 2>/dev/null)" ]

# Paths that rrdtool would take as other words, options or other files than
# the one checked: each exists, and each is refused with nothing started.
# On stderr the path, its control characters written as \xHH, and why.
declare -A said=(['holds a space']='rrdtool would take a path with a space as several words'
    ['begins with -']='rrdtool would take a path that begins with - as an option'
    ['holds a control character']="a control character in the path could break rrdtool's command")
refused() {
    mkdir -p "$(dirname -- "$2")" && touch -- "$2"
    err="estacount: $(shown "$2"): ${said[$3]}" check "refused: $1" 255 $'\nimpossible to pass the rrd at ['"$2] to rrdtool: it $3"$'\n' "$2" example "$all" fillrrd
}
refused "spaces"               'my stats.rrd' 'holds a space'
refused "leading space"        ' lead.rrd' 'holds a space'
refused "options in the name"  'x.rrd --daemon unix:/tmp/evil.sock' 'holds a space'
refused "-t"                   -t 'begins with -'
refused "--daemon=x"           --daemon=x 'begins with -'
refused "dash, then a space"   '-a b.rrd' 'begins with -'
refused "SOH"                  $'x\x01.rrd' 'holds a control character'
refused "tab"                  $'x\ty.rrd' 'holds a control character'
refused "line feed"            $'x\ny.rrd' 'holds a control character'
refused "0x1F"                 $'x\x1f.rrd' 'holds a control character'
refused "DEL"                  $'x\x7f.rrd' 'holds a control character'
# The refusal comes after every other check, "[]" included.
err='estacount: no such.rrd: No such file or directory' check "missing database first" 255 $'\nimpossible to find the rrd choosen at [no such.rrd]\n' 'no such.rrd' example "$all" fillrrd
check "then the list"          255 $'\nWrong passing parameters.\nuse [POP3.SMTP.HTTP.FTP] syntax' ' lead.rrd' example POP3 fillrrd
err='estacount: nowhere/netstatdump.log: No such file or directory' check "then the dump" 255 $'\nCan\'t find netstat output file' ' lead.rrd' nowhere "$all" fillrrd
err="$none" check "then nothing selected" 1   "" ' lead.rrd' example '[]' fillrrd
check_report "video never refuses" 'FTP: 1' ' lead.rrd' example '[FTP]' video
# Had a refused run started rrdtool, its record would be there too.
check "a run after the refusals" 1 "" db.rrd example '[FTP]' fillrrd
recorded "nothing started for them" $'update\ndb.rrd\nN:1\n'"$quiet"

# Started as a careless caller might: SIGHUP ignored (nohup), SIGUSR1
# blocked, descriptor 7 open. A program that waited would hang till timeout.
touch hold
(trap '' HUP; exec 7>fd7; PROBE=env-passed timeout 20 env "${program_env[@]}" perl -MPOSIX -e \
    'sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGUSR1)) or die; exec @ARGV' \
    "$program" db.rrd example '[SMTP]' fillrrd) >held.out 2>held.err
expect "exits 1 at once"       [ $? = 1 -a -z "$(ls record.* 2>/dev/null)" ]
touch release
recorded "inherits none of it" $'update\ndb.rrd\nN:2\n'"${quiet}env-passed"
expect "its noise reached nobody" [ ! -s held.out -a ! -s held.err ]
rm hold

# A launch is one record; had "[]" launched, there would be two.
err="$none" check "nothing selected" 1 "" db.rrd example '[]' fillrrd
check "then one"               1 "" db.rrd example '[HTTP]' fillrrd
wait_for one_record && sleep 0.5
recorded "only the second ran" $'update\ndb.rrd\nN:5\n'"$quiet"

no_start=$'\nimpossible to start rrdtool to update the rrd at [db.rrd]\n'
mkdir noexec && cp bin/rrdtool noexec/ && chmod -x noexec/rrdtool
program_env=(PATH="$scratch/nowhere")
err='estacount: rrdtool: No such file or directory' check "no rrdtool on PATH" 255 "$no_start" db.rrd example "$all" fillrrd
program_env=(PATH="$scratch/noexec")
err='estacount: rrdtool: Permission denied' check "rrdtool not executable" 255 "$no_start" db.rrd example "$all" fillrrd

finish
