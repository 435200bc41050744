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
# brackets, so that the line shows where cmd.exe split them.
recorder() {
    mkdir -p "$1"
    printf '%s\r\n' '@echo off' 'set words=' ':next' 'if "%~1"=="" goto done' \
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

mkdir -p empty bare && touch bare/rrdtool
WINEPATH=$(windows_path "$scratch/empty") check "no rrdtool" 255 "$no_start" db.rrd example "$all" fillrrd
WINEPATH=$(windows_path "$scratch/bare") check "rrdtool without extension" 255 "$no_start" db.rrd example "$all" fillrrd
WINEPATH=\"$bin\" check "quoted PATH folder" 1 "" db.rrd example '[FTP]' fillrrd
recorded "quoted PATH folder" bin '[update][db.rrd][N:1]'
pathext='.EXE;.BAT' WINEPATH=$bin check "PATHEXT without .CMD" 255 "$no_start" db.rrd example "$all" fillrrd

# cmd.exe looks in the current folder before PATH.
recorder here
cp db.rrd here/
cd here || exit 2
check "rrdtool in the current folder" 1 "" db.rrd ../example '[FTP]' fillrrd
recorded "rrdtool in the current folder" . '[update][db.rrd][N:1]'
rm rrdtool.cmd && mkdir rrdtool.cmd
check "a folder named rrdtool.cmd" 255 "$no_start" db.rrd ../example '[FTP]' fillrrd
cd "$scratch" || exit 2

# --- refused paths ---------------------------------------------------------------

# The message around the path: "${refused}PATH${refused_end}".
refused=$'\nimpossible to pass the rrd at ['
refused_end=$'] to the command interpreter: it holds one of " % ! ^ & | < > ( ) or a control character\n'

# Windows allows these in file names: the database exists and opens, and only
# the refusal stands between the path and cmd.exe.
export WINEPATH=$bin
for path in 'x&mkdir pwned&.rrd' 'x%PATH%.rrd' 'x!PATH!.rrd' 'x^.rrd' 'x(.rrd' 'x).rrd' $'x\x7f.rrd'; do
    touch "$path"
    check "refused: $(printf '%q' "$path")" 255 "$refused$path$refused_end" "$path" example "$all" fillrrd
done
# Windows forbids these in file names, but resolves ".." in the text of a
# path before it looks at the disk, so each path below opens db.rrd.
for c in '"' '<' '>' '|' $'\x01' $'\t' $'\n' $'\x1f'; do
    path="x${c}y\\..\\db.rrd"
    check "refused: $(printf '%q' "$c")" 255 "$refused$path$refused_end" "$path" example "$all" fillrrd
done
# Paths that rrdtool would take as other words, options or other files than
# the one checked, refused on every platform; cmd.exe's refusal comes first,
# so control characters keep its message above. Windows forbids ':' in a
# file name; the last path opens db.rrd.
touch -- 'my stats.rrd' ' lead.rrd' -t --daemon=x '-a b.rrd'
for path in 'my stats.rrd' ' lead.rrd' -t --daemon=x '-a b.rrd' 'x.rrd --daemon unix:\..\db.rrd'; do
    [ "${path:0:1}" = - ] && what='begins with -' || what='holds a space'
    check "refused: $path" 255 $'\nimpossible to pass the rrd at ['"$path] to rrdtool: it $what"$'\n' "$path" example "$all" fillrrd
done
# The refusal comes after every other check.
check "missing database before refusal" 255 $'\nimpossible to find the rrd choosen at [no&.rrd]\n' 'no&.rrd' example "$all" fillrrd
check "list before refusal" 255 $'\nWrong passing parameters.\nuse [POP3.SMTP.HTTP.FTP] syntax' 'x^.rrd' example POP3 fillrrd
check "dump before refusal" 255 $'\nCan\'t find netstat output file' 'x^.rrd' nowhere "$all" fillrrd
check "video never refuses" 1 $'Connection established:\n\nFTP: 1\n\nestacount (c) 2026 the estacount authors - report problems on the estacount issue tracker\n' 'x^.rrd' example '[FTP]' video
# Had any refused run started cmd.exe, its call would be recorded before this
# one, which was started after them all.
check "a run after the refusals" 1 "" db.rrd example '[FTP]' fillrrd
recorded "nothing run for a refused path" bin '[update][db.rrd][N:1]'
expect "no folder made by a refused path" [ ! -e pwned ]

# --- the database check ------------------------------------------------------------

check "database is the NUL device" 255 $'\nimpossible to find the rrd choosen at [NUL]\n' NUL example "$all" fillrrd

finish
