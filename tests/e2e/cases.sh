#!/usr/bin/env bash
# End-to-end cases: each one runs the built program in a scratch folder and
# compares its stdout byte for byte, its stderr (always empty) and its exit
# status (255 is the -1 of a refusal).
#
#   cases.sh PROGRAM              a POSIX build
#   cases.sh --wine PROGRAM.exe   the Windows build, under wine
#
# The same cases serve both builds. Under wine only the line ends of the
# output differ: the Windows C runtime writes each "\n" as CR LF, and that is
# undone before comparing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

# --- usage and version -------------------------------------------------------

usage_head=$'\n\nUse this utility in this way:\nestacount ? | help -- for this help\nestacount V -- print the version\n\nestacount rrd nspath [SMTP.POP3.HTTP.FTP] fillrrd | video\nwhere:\nrrd -- is the round robin database to update\nnepath -- is the path where to put the output file of netstat\n'
usage_tail=$'\nfillrrd | video  -- can choose to print the counts on a rrd or to video\n\n\n\n'
services_rest=" -- are the demon connection to count. They must be inside square brackets and can be one or more separed by '.'"$'\n'
usage_dot="$usage_head[SMTP.POP3.HTTP.FTP]$services_rest$usage_tail"
usage_comma="$usage_head[SMTP,POP3,HTTP,FTP]$services_rest$usage_tail"
version=$'\n\nestacount v1.0\n(c) 2026 the estacount authors - report problems on the estacount issue tracker\n\n\n\n'

wrong_use='wrong use of parameters. use [estacount ?] for help'
wrong_list=$'\nWrong passing parameters.\nuse [POP3.SMTP.HTTP.FTP] syntax'
no_dump=$'\nCan\'t find netstat output file'

check "no argument"              0   "$usage_dot"
check "help ?"                   0   "$usage_comma" '?'
check "help"                     0   "$usage_comma" help
check "HELP"                     0   "$usage_comma" HELP
check "help, more words"         0   "$usage_comma" help a b c
check "V"                        0   "$version" V
check "v"                        0   "$version" v
check "V before the word count"  0   "$version" V a b c
check "Help is no keyword"       255 "$wrong_use" Help
check "one argument"             255 "$wrong_use" db.rrd
check "three arguments"          255 "$wrong_use" db.rrd spool '[POP3]'

# --- the service list ----------------------------------------------------------

dump spool $'  TCP    10.0.0.5:110    10.0.0.9:50000    ESTABLISHED\r\n  TCP    10.0.0.5:25     10.0.0.9:50001    ESTABLISHED\r\n  TCP    10.0.0.5:25     10.0.0.9:50002    ESTABLISHED\r\n  TCP    10.0.0.5:80     10.0.0.9:50003    ESTABLISHED\r\n  TCP    10.0.0.5:80     10.0.0.9:50004    ESTABLISHED\r\n  TCP    10.0.0.5:80     10.0.0.9:50005    ESTABLISHED\r\n'

check "list without brackets"    255 "$wrong_list" db.rrd spool SMTP video
check "list without ]"           255 "$wrong_list" db.rrd spool '[SMTP' video
check "list without ["           255 "$wrong_list" db.rrd spool 'SMTP]' video
check "list is ["                255 "$wrong_list" db.rrd spool '[' video
check "empty list word"          255 "$wrong_list" db.rrd spool '' video
check "list before dump"         255 "$wrong_list" db.rrd nowhere SMTP video
check_report "all four" 'POP3: 1|SMTP: 2|HTTP: 3|FTP: 0' db.rrd spool '[POP3.SMTP.HTTP.FTP]' video
check_report "table order, any case" 'POP3: 1|SMTP: 2|HTTP: 3' db.rrd spool '[smtp.HTTP.pop3]' video
check_report "mixed case selects none" '' db.rrd spool '[Smtp]' video
check_report "first ] ends the list" 'SMTP: 2' db.rrd spool '[SMTP]HTTP]' video
check_report "empty name" 'SMTP: 2|FTP: 0' db.rrd spool '[SMTP..FTP]' video
check_report "commas are no separator" '' db.rrd spool '[SMTP,HTTP]' video
check_report "empty list" '' db.rrd spool '[]' video
check_report "long unknown name" 'FTP: 0' db.rrd spool '[abcdefghijabcdefghijabcdefghijabcdefghij.ftp]' video
check_report "misspelt mode is video" 'HTTP: 3' db.rrd spool '[HTTP]' FILLRRD
check_report "words after the fourth" 'HTTP: 3' db.rrd spool '[HTTP]' video extra words
check_report "video never opens word 1" 'POP3: 1' "$(printf 'x%.0s' {1..5000})" spool '[POP3]' video

# --- the database check of fillrrd ------------------------------------------

# The message around the path: "${no_db}PATH${no_db_end}".
no_db=$'\nimpossible to find the rrd choosen at ['
no_db_end=$']\n'
long_path=$(printf 'd%.0s' {1..300}).rrd
mkdir -p dirdb.rrd

check "missing database"         255 "${no_db}missing.rrd${no_db_end}" missing.rrd spool '[POP3]' fillrrd
check "database is a folder"     255 "${no_db}dirdb.rrd${no_db_end}" dirdb.rrd spool '[POP3]' fillrrd
check "database before list"     255 "${no_db}missing.rrd${no_db_end}" missing.rrd spool SMTP fillrrd
check "database before dump"     255 "${no_db}missing.rrd${no_db_end}" missing.rrd nowhere '[POP3]' fillrrd
check "long path shown whole"    255 "${no_db}$long_path${no_db_end}" "$long_path" spool '[POP3]' fillrrd
touch db.rrd
check "list after database"      255 "$wrong_list" db.rrd spool SMTP fillrrd
check "dump after database"      255 "$no_dump" db.rrd nowhere '[POP3]' fillrrd
check "nothing selected"         1   "" db.rrd spool '[]' fillrrd

# --- the dump ----------------------------------------------------------------

check "no dump"                  255 "$no_dump" db.rrd nowhere '[POP3]' video
mkdir -p dirdump/netstatdump.log
check "dump is a folder"         255 "$no_dump" db.rrd dirdump '[POP3]' video
if [ -z "$wine" ]; then
    mkdir -p fifo && mkfifo fifo/netstatdump.log
    check "dump is a FIFO"       255 "$no_dump" db.rrd fifo '[POP3]' video
    run_program db.rrd spool '[POP3]' video >/dev/full 2>"$scratch/.err"
    expect "report that cannot be written" [ $? = 255 -a ! -s "$scratch/.err" ]
    # sysfs reports 4096 bytes and then hands over a few: a short read.
    if [ -r /sys/devices/system/cpu/online ]; then
        mkdir -p short && ln -s /sys/devices/system/cpu/online short/netstatdump.log
        check "short read"       255 "" db.rrd short '[POP3]' video
    else
        skip "short read" "no /sys/devices/system/cpu/online"
    fi
fi
dump empty ''
check_report "empty dump" 'POP3: 0|SMTP: 0|HTTP: 0|FTP: 0' db.rrd empty '[POP3.SMTP.HTTP.FTP]' video

all='[POP3.SMTP.HTTP.FTP]'
line=$'  TCP    10.0.0.5:80     10.0.0.9:50003    ESTABLISHED'
dump crlf "$line"$'\r\n'"$line"$'\r\n'
check_report "CR LF line ends" 'HTTP: 2' db.rrd crlf '[HTTP]' video
dump cr "$line"$'\r'"$line"$'\r'
check_report "bare CR line ends" 'HTTP: 2' db.rrd cr '[HTTP]' video
dump lf "$line"$'\n'"$line"$'\n'
check_report "bare LF line ends" 'HTTP: 2' db.rrd lf '[HTTP]' video
dump last "$line"$'\r\n'"$line"
check_report "last line unended" 'HTTP: 2' db.rrd last '[HTTP]' video
dump linux $'Active Internet connections (servers and established)\nProto Recv-Q Send-Q Local Address           Foreign Address         State      \ntcp        0      0 0.0.0.0:25              0.0.0.0:*               LISTEN     \ntcp        0      0 192.168.1.4:25          192.168.1.9:41234       ESTABLISHED\ntcp        0      0 192.168.1.4:110         192.168.1.9:41240       ESTABLISHED\ntcp        0      0 192.168.1.4:52000       192.168.1.9:80          ESTABLISHED\n'
check_report "Linux netstat -tan" 'POP3: 1|SMTP: 1|HTTP: 0|FTP: 0' db.rrd linux "$all" video
cp -r "$examples/spool" example
check_report "the bundled example" 'POP3: 3|SMTP: 2|HTTP: 5|FTP: 1' db.rrd example "$all" video

# 100,000 lines of 50 bytes: exactly the 5,000,000 bytes of one read, then one
# line more.
big_line=$'  TCP  10.0.0.5:110   10.0.0.9:50000 ESTABLISHED\r'
yes "$big_line" | head -n 100000 | dump_stdin exact
expect "the exact dump is 5,000,000 bytes" [ "$(wc -c <exact/netstatdump.log)" -eq 5000000 ]
check_report "dump of 5,000,000 bytes" 'POP3: 100000' db.rrd exact '[POP3]' video
{ yes "$big_line" | head -n 100000; printf '%s\n' "$big_line"; } | dump_stdin over
check_report "dump over 5,000,000 bytes" 'POP3: 100001' db.rrd over '[POP3]' video

finish
