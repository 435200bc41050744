#!/usr/bin/env bash
# fillrrd end to end on POSIX: samples written by the real rrdtool, directly
# and through rrdcached, and the words rrdtool receives, seen by a recording
# stand-in put first on PATH.
#
#   fillrrd.sh PROGRAM
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

cp -r "$examples/spool" example   # POP3 3, SMTP 2, HTTP 5, FTP 1
all='[POP3.SMTP.HTTP.FTP]'

# wait_for COMMAND...: polls until COMMAND succeeds. The program does not wait
# for rrdtool, so the test does, for at most 20 seconds.
wait_for() {
    local tries=0
    until "$@"; do
        tries=$((tries + 1))
        [ "$tries" -lt 200 ] || return 1
        sleep 0.1
    done
}

# create DB DS...: a database with one gauge per data source, in that order,
# dated 1970 so that written() can see the update arrive.
create() {
    local db=$1 ds
    shift
    local sources=()
    for ds in "$@"; do
        sources+=("DS:$ds:GAUGE:600:0:U")
    done
    rrdtool create "$db" --step 300 "${sources[@]}" RRA:LAST:0.5:1:10 && touch -d @1 "$db"
}

# Polling with rrdtool itself would take the database's lock and make the
# update it waits for fail ("could not lock RRD"); the file's date does not.
written() { [ "$(date -r "$1" +%s)" != 1 ]; }

# last_values DB: the values of the database's last update ("" before any).
last_values() {
    rrdtool lastupdate "$1" | sed -n 's/^[0-9]*: //p' | grep -v '^U\( U\)*$'
}

has_values() { [ "$(last_values "$1")" = "$2" ]; }

# --- the real rrdtool --------------------------------------------------------

create four.rrd pop3 smtp http ftp
check "fillrrd prints nothing"     1 "" four.rrd example "$all" fillrrd
wait_for written four.rrd
expect "four values in table order" wait_for has_values four.rrd "3 2 5 1"

create two.rrd pop3 http
check "two-service list"           1 "" two.rrd example '[HTTP.pop3]' fillrrd
wait_for written two.rrd
expect "two values in table order"  wait_for has_values two.rrd "3 5"

# One rrdcached batches the writes of many collectors; RRDCACHED_ADDRESS,
# passed on in the environment, sends the update there instead of the file.
mkdir journal
rrdcached -g -l "unix:$scratch/cache.sock" -p "$scratch/cache.pid" -j "$scratch/journal" \
    -b "$scratch" -w 3600 -f 7200 >/dev/null 2>&1 &
cache_pid=$!
trap 'kill "$cache_pid" 2>/dev/null; wait "$cache_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
wait_for test -S cache.sock
create cached.rrd pop3 smtp http ftp
program_env=(RRDCACHED_ADDRESS="unix:$scratch/cache.sock")
check "through rrdcached"          1 "" cached.rrd example "$all" fillrrd
# Held by the daemon until flushed: the file itself shows nothing yet.
sleep 0.5
expect "the daemon holds the sample" [ -z "$(last_values cached.rrd)" ]
flushed() {
    rrdtool flushcached --daemon "unix:$scratch/cache.sock" cached.rrd &&
        has_values cached.rrd "3 2 5 1"
}
expect "flushed sample in the file"  wait_for flushed

# --- the words rrdtool receives ------------------------------------------------

# The stand-in records its words, one a line, and what it was started with;
# it waits for a "release" file when one is asked for, and prints noise that
# must reach neither the program's stdout nor its stderr.
mkdir bin
cat >bin/rrdtool <<'EOF'
#!/usr/bin/env bash
# What it was started with is read first, before bash changes anything.
stdio="$(readlink /proc/$$/fd/0) $(readlink /proc/$$/fd/1) $(readlink /proc/$$/fd/2)"
while read -r key value; do
    case $key in
    SigIgn:) hup_ignored=$(( 16#$value & 1 )) ;;       # SIGHUP is bit 0
    SigBlk:) usr1_blocked=$(( (16#$value >> 9) & 1 )) ;; # SIGUSR1 is bit 9
    esac
done </proc/$$/status
read -r stat </proc/$$/stat
fields=(${stat##*) })
[ -e /proc/$$/fd/7 ] && fd7=1 || fd7=0
echo "stand-in on stdout"
echo "stand-in on stderr" >&2
while [ -e hold ] && [ ! -e release ]; do sleep 0.05; done
{
    printf '%s\n' "$@"
    echo "--"
    echo "stdio $stdio"
    echo "fd 7 $fd7, session leader $([ "${fields[3]}" = $$ ] && echo 1 || echo 0)"
    echo "hup ignored $hup_ignored, usr1 blocked $usr1_blocked"
    echo "env ${ESTACOUNT_PROBE:-unset}"
} >record.tmp
mv record.tmp "record.$(date +%s%N)"
EOF
chmod +x bin/rrdtool
program_env=(PATH="$scratch/bin:$PATH")

records() { ls record.* 2>/dev/null; }
one_record() { [ "$(records | wc -l)" -eq 1 ]; }
# take_record: the words of the one record, which is then removed.
take_record() {
    local file
    file=$(records)
    sed '/^--$/q' "$file" | sed '$d'
    rm -f "$file"
}

touch 'my stats.rrd'
check "path with spaces"           1 "" 'my stats.rrd' example "$all" fillrrd
wait_for one_record
expect "spaces split the path"     [ "$(take_record)" = $'update\nmy\nstats.rrd\nN:3:2:5:1' ]

# Tabs, not spaces, between the words: a shell would split at them and run
# every command, while the program splits at spaces alone.
evil=$'x;touch\tpwned1|touch\tpwned2&$(touch\tpwned3)`touch\tpwned4`>pwned5"<\'\\.rrd'
touch "$evil"
check "shell characters"           1 "" "$evil" example '[FTP]' fillrrd
wait_for one_record
expect "shell characters arrive literally" [ "$(take_record)" = "$(printf 'update\n%s\nN:1' "$evil")" ]
expect "and nothing else runs"     [ -z "$(ls -d pwned* 2>/dev/null)" ]

# The program is started as a careless caller might: SIGHUP ignored (as by
# nohup), SIGUSR1 blocked, descriptor 7 open. rrdtool must inherit none of it.
touch db.rrd hold
(
    trap '' HUP
    exec 7>fd7
    export ESTACOUNT_PROBE=passed
    # A program that waited would hang here: the stand-in waits for "release".
    env "${program_env[@]}" timeout 20 perl -MPOSIX -e \
        'sigprocmask(SIG_BLOCK, POSIX::SigSet->new(SIGUSR1)) or die; exec @ARGV or die' \
        -- "$program" db.rrd example '[SMTP]' fillrrd
) >held.out 2>held.err
status=$?
expect "exits 1 while rrdtool waits" [ "$status" = 1 ]
expect "before rrdtool has recorded" [ -z "$(records)" ]
touch release
wait_for one_record
record=$(records)
expect "released stand-in records"   grep -qx 'N:2' "$record"
expect "its output reaches nobody"   [ ! -s held.out -a ! -s held.err ]
expect "stdio on /dev/null"          grep -qx 'stdio /dev/null /dev/null /dev/null' "$record"
expect "own session, no fd of ours"  grep -qx 'fd 7 0, session leader 1' "$record"
expect "signals back to default"     grep -qx 'hup ignored 0, usr1 blocked 0' "$record"
expect "environment passed on"       grep -qx 'env passed' "$record"
rm -f hold release "$record"

# Nothing selected: nothing to send. The run after it is recorded; had the
# first launched anything, its record would be there too.
check "nothing selected"           1 "" db.rrd example '[]' fillrrd
check "then one selected"          1 "" db.rrd example '[HTTP]' fillrrd
wait_for one_record
sleep 0.5
expect "only the second launched"  one_record
expect "the second's words"        [ "$(take_record)" = $'update\ndb.rrd\nN:5' ]

not_started=$'\nimpossible to start rrdtool to update the rrd at [db.rrd]\n'
program_env=(PATH="$scratch/nowhere")
check "no rrdtool on PATH"         255 "$not_started" db.rrd example "$all" fillrrd
mkdir noexec && cp bin/rrdtool noexec/ && chmod -x noexec/rrdtool
program_env=(PATH="$scratch/noexec")
check "rrdtool not executable"     255 "$not_started" db.rrd example "$all" fillrrd

finish
