#!/usr/bin/env bash
# fillrrd on POSIX, one case a line: samples written by the real rrdtool,
# directly and through rrdcached; the words and the start-up state that a
# recording stand-in for rrdtool receives; the database paths refused before
# any launch, and the order of the refusals.   fillrrd.sh PROGRAM
set -u
. "$(dirname "$0")/lib.sh"
cp -r "$examples/spool" example   # POP3 3, SMTP 2, HTTP 5, FTP 1
all='[POP3.SMTP.HTTP.FTP]'
none='estacount: warning: the service list [] selects no service: no count is delivered'

# The program does not wait for rrdtool, so the test polls, for 20 s at most.
wait_for() { local i; for ((i = 0; i < 200; i++)); do "$@" && return; sleep 0.1; done; false; }

# One gauge per source, in order, dated 1970 so that the update shows in
# the file's date: polling with rrdtool would take the lock and make the very
# update under test fail ("could not lock RRD").
for db in four cached; do rrdtool create $db.rrd DS:{pop3,smtp,http,ftp}:GAUGE:600:0:U RRA:LAST:0.5:1:10; done
rrdtool create two.rrd DS:{pop3,http}:GAUGE:600:0:U RRA:LAST:0.5:1:10 && touch -d @1 {four,two,cached}.rrd
written() { [ "$(date -r "$1" +%s)" != 1 ]; }

# One rrdcached batching many collectors' writes: RRDCACHED_ADDRESS, passed
# on in the environment, sends the sample to it; the file has it once flushed.
# Started on a line of its own: after &&, $! would be a subshell, and the
# trap's kill would leave the daemon running.
mkdir journal
rrdcached -g -p "$scratch/pid" -l "unix:$scratch/sock" -j "$scratch/journal" -b "$scratch" -w 3600 -f 7200 >/dev/null 2>&1 &
cache=$!
trap 'kill $cache 2>/dev/null; wait; rm -rf "$scratch"' EXIT
wait_for test -S sock

# The stand-in notes what it started with before bash changes any of it,
# prints noise that must reach nobody, waits while "hold" exists and
# "release" does not, then records its words and notes.
mkdir bin noexec
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
chmod +x bin/rrdtool && cp bin/rrdtool noexec/ && chmod -x noexec/rrdtool
touch hold

# Every run is started as a careless caller might: SIGHUP ignored (nohup),
# SIGUSR1 blocked, descriptor 7 open, PROBE in the environment. A program
# that waited for rrdtool would hang on the held stand-in till the timeout.
# The signal state is set after timeout, which handles SIGHUP itself.
run_program() {
    (exec 7>fd7; PROBE=env-passed timeout 20 perl -MPOSIX -e '$SIG{HUP} = "IGNORE";
        sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGUSR1)) or die; exec @ARGV' \
        env "${program_env[@]}" "$program" "$@")
}

# The messages a row may want; %s stands for the row's database.
pass=$'\nimpossible to pass the rrd at [%s] to rrdtool: it'
space="$pass holds a space"$'\n' dash="$pass begins with -"$'\n' control="$pass holds a control character"$'\n'
no_db=$'\nimpossible to find the rrd choosen at [%s]\n'
no_start=$'\nimpossible to start rrdtool to update the rrd at [%s]\n'
wrong_list=$'\nWrong passing parameters.\nuse [POP3.SMTP.HTTP.FTP] syntax' no_dump=$'\nCan\'t find netstat output file'
ftp_report=$'Connection established:\n\nFTP: 1\n\nestacount (c) 2026 the estacount authors - report problems on the estacount issue tracker\n'
one_record() { [ "$(ls record.* 2>/dev/null | wc -l)" = 1 ]; }
stored() { { [ "$1" != cached ] || rrdtool flushcached --daemon "unix:$scratch/sock" "$2"; } && written "$2"; }

# row NAME WORLD STATUS STDOUT EFFECT DB SPOOL LIST MODE: one case. EFFECT
# is "-" for no launch, the last values of a real database, or the words of
# counts the stand-in gets. The stand-in, held until the run is over, must
# not have recorded yet; once released it must record this launch alone (a
# refused run that launched would show up here as a second record), with
# nothing inherited and no noise let through. Its databases are made on the
# fly, all but the missing one.
row() {
    local name=$1 world=$2 status=$3 want effect=$5 db=$6
    case $world in
    real) program_env=() ;;
    cached) program_env=(RRDCACHED_ADDRESS="unix:$scratch/sock") ;;
    standin) program_env=(PATH="$scratch/bin:$PATH") ;;
    *) program_env=(PATH="$scratch/$world") ;;
    esac
    [ "$4" = "$no_db" ] || [ -e "$db" ] || { mkdir -p "$(dirname -- "$db")" && touch -- "$db"; }
    printf -v want "$4" "$db"
    # Each refusal's line on stderr: the path (control bytes as \xHH) and why.
    local err= reason='No such file or directory'
    [ "$world" = noexec ] && reason='Permission denied'
    case $4 in
    "$space") err="estacount: $(shown "$db"): rrdtool would take a path with a space as several words" ;;
    "$dash") err="estacount: $(shown "$db"): rrdtool would take a path that begins with - as an option" ;;
    "$control") err="estacount: $(shown "$db"): a control character in the path could break rrdtool's command" ;;
    "$no_db") err="estacount: $db: $reason" ;;
    "$no_dump") err="estacount: $7/netstatdump.log: $reason" ;;
    "$no_start") err="estacount: rrdtool: $reason" ;;
    esac
    [ "$8" = '[]' ] && err=$none
    shift 5
    check "$name" "$status" "$want" "$@"
    case $world:$effect in
    *:-) ;;
    standin:*)
        expect "$name: not waited for" [ -z "$(ls record.* 2>/dev/null)" ]
        touch release
        wait_for one_record && sleep 0.15
        expect "$name: recorded" [ "$(cat record.* 2>/dev/null)" = "update"$'\n'"$db"$'\n'"$effect"$'\n''stdio /dev/null /dev/null /dev/null leader env-passed' ]
        expect "$name: ran nothing else" [ -z "$(ls -d p? 2>/dev/null)" -a ! -s .out -a ! -s .err ]
        rm -f record.* release ;;
    *) expect "$name: stored" wait_for stored "$world" "$db" &&
        expect "$name: values" [ "$(rrdtool lastupdate "$db" | sed -n 's/^[0-9]*: //p')" = "$effect" ] ;;
    esac
}

# Tabs and spaces are refused below; ${IFS} would split there in a shell.
evil='x;touch${IFS}p1|touch${IFS}p2&$(touch${IFS}p3)`touch${IFS}p4`>p5"<'\''\é.rrd'

# name                       world   status stdout        effect    database               spool   list          mode
row "four services"          real    1      ""            "3 2 5 1" four.rrd               example "$all"        fillrrd
row "two services"           real    1      ""            "3 5"     two.rrd                example '[HTTP.pop3]' fillrrd
row "through rrdcached"      cached  1      ""            "3 2 5 1" cached.rrd             example "$all"        fillrrd
row "shell characters"       standin 1      ""            N:1       "$evil"                example '[FTP]'       fillrrd
# Paths that rrdtool would take as other words, options or other files
# than the one checked: each exists, and each is refused unstarted.
row "options in the name"    standin 255    "$space"      -         'x.rrd --daemon unix:/tmp/evil.sock' example "$all" fillrrd
row "leading space"          standin 255    "$space"      -         ' lead.rrd'            example "$all"        fillrrd
row "--daemon=x"             standin 255    "$dash"       -         --daemon=x             example "$all"        fillrrd
row "dash, then a space"     standin 255    "$dash"       -         '-a b.rrd'             example "$all"        fillrrd
row "tab"                    standin 255    "$control"    -         $'x\ty.rrd'            example "$all"        fillrrd
row "0x1F"                   standin 255    "$control"    -         $'x\x1f.rrd'           example "$all"        fillrrd
row "DEL"                    standin 255    "$control"    -         $'x\x7f.rrd'           example "$all"        fillrrd
# The path's refusal comes after every other check, "[]" included.
row "missing database first" standin 255    "$no_db"      -         'no such.rrd'          example "$all"        fillrrd
row "then the list"          standin 255    "$wrong_list" -         ' lead.rrd'            example POP3          fillrrd
row "then the dump"          standin 255    "$no_dump"    -         ' lead.rrd'            nowhere "$all"        fillrrd
row "then nothing selected"  standin 1      ""            -         ' lead.rrd'            example '[]'          fillrrd
row "video never refuses"    standin 1      "$ftp_report" -         ' lead.rrd'            example '[FTP]'       video
# Had "[]" or any refused run above launched, "then one" would get two records.
row "nothing selected"       standin 1      ""            -         db.rrd                 example '[]'          fillrrd
row "then one"               standin 1      ""            N:5       db.rrd                 example '[HTTP]'      fillrrd
row "no rrdtool on PATH"     nowhere 255    "$no_start"   -         db.rrd                 example "$all"        fillrrd
row "rrdtool not executable" noexec  255    "$no_start"   -         db.rrd                 example "$all"        fillrrd

finish
