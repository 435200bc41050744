#!/usr/bin/env bash
# End-to-end cases, shared by both builds: each runs the program in a scratch
# folder and compares stdout byte for byte, the lines on stderr (none unless
# the row gives them) and the exit status.
#   cases.sh PROGRAM | cases.sh --wine PROGRAM.exe
set -u
. "$(dirname "$0")/lib.sh"

services=" -- are the demon connection to count. They must be inside square brackets and can be one or more separed by '.'"$'\n'
usage=$'\n\nUse this utility in this way:\nestacount ? | help -- for this help\nestacount V -- print the version\n\nestacount rrd nspath [SMTP.POP3.HTTP.FTP] fillrrd | video\nwhere:\nrrd -- is the round robin database to update\nnepath -- is the path where to put the output file of netstat\n'
usage_end=$'\nfillrrd | video  -- can choose to print the counts on a rrd or to video\n\n\n\n'
version=$'\n\nestacount v1.0\n(c) 2026 the estacount authors - report problems on the estacount issue tracker\n\n\n\n'
wrong_use='wrong use of parameters. use [estacount ?] for help'
wrong_list=$'\nWrong passing parameters.\nuse [POP3.SMTP.HTTP.FTP] syntax'
no_dump=$'\nCan\'t find netstat output file'
no_db=$'\nimpossible to find the rrd choosen at ['  # then the path and $']\n'
all='[POP3.SMTP.HTTP.FTP]'
# On stderr: the dump path, and the system's words for why a file was not read.
sep=/; [ -n "$wine" ] && sep='\'
absent="${why}No such file or directory"
odd='not a regular file'
w='estacount: warning:'
none='selects no service: no count is delivered'
# When nothing counted, what the listing looks like and what to do.
zero='POP3: 0|SMTP: 0|HTTP: 0|FTP: 0'
save=": save netstat's listing in English, as estacount-kit collect does"
utf16="is stored with two bytes per character (UTF-16, as PowerShell 5's > writes), which the count cannot read$save"

check "no argument"            0   "$usage[SMTP.POP3.HTTP.FTP]$services$usage_end"
# Keywords alone, and before the word count: "V a b c" prints the version.
for word in '?' help HELP --help -h; do for more in '' a; do check "$word $more" 0 "$usage[SMTP,POP3,HTTP,FTP]$services$usage_end" "$word" ${more:+a b c}; done; done
for word in V v --version; do for more in '' a; do check "$word $more" 0 "$version" "$word" ${more:+a b c}; done; done
check "Help is no keyword"     255 "$wrong_use" Help
# A Windows user's help switch; elsewhere a path.
if [ -n "$wine" ]; then check "/?" 0 "$usage[SMTP,POP3,HTTP,FTP]$services$usage_end" '/?'; else check "/?" 255 "$wrong_use" '/?'; fi
check "three arguments"        255 "$wrong_use" db.rrd spool '[POP3]'

dump spool $'  TCP    10.0.0.5:110    10.0.0.9:50000    ESTABLISHED\r\n  TCP    10.0.0.5:25     10.0.0.9:50001    ESTABLISHED\r\n  TCP    10.0.0.5:25     10.0.0.9:50002    ESTABLISHED\r\n  TCP    10.0.0.5:80     10.0.0.9:50003    ESTABLISHED\r\n'
check "list without brackets"  255 "$wrong_list" db.rrd spool SMTP video
check "list without ]"         255 "$wrong_list" db.rrd spool '[SMTP' video
check "list before dump"       255 "$wrong_list" db.rrd nowhere '' video
check_report "all four"        'POP3: 1|SMTP: 2|HTTP: 1|FTP: 0' db.rrd spool "$all" video
check_report "table order"     'POP3: 1|SMTP: 2|HTTP: 1' db.rrd spool '[smtp.HTTP.pop3]' video
check_report "video never opens word 1" 'POP3: 1' "$(printf 'x%.0s' {1..5000})" spool '[POP3]' video
# Words taken as they are, but with a warning: the run and stdout are as ever.
err="$w the service list [] $none" check_report "none selected" '' db.rrd spool '[]' video
err="$w \"Pop3\" in the service list is no service: write each name all in capitals or all in lower case"$'\n'"$w the service list [Pop3] $none" check_report "mixed case" '' db.rrd spool '[Pop3]' video
err="$w \"SMTP,POP3\" in the service list is no service: separate the names with dots, as in [POP3.SMTP]"$'\n'"$w the service list [SMTP,POP3] $none" check_report "commas" '' db.rrd spool '[SMTP,POP3]' video
err="$w \"Pear\" in the service list is no service (nor is 1 more of its names): the services are POP3, SMTP, HTTP and FTP" check_report "unknown names" 'POP3: 1' db.rrd spool '[Pear.pop3.Ftp]' video
err="$w the mode \"FILLRRD\" is neither video nor fillrrd: the run counts as video" check_report "FILLRRD is video" 'HTTP: 1' db.rrd spool '[HTTP]' FILLRRD more words
err="$w the mode \"vi\\x0Ade\\x09 o\" is neither video nor fillrrd: the run counts as video" check_report "control characters shown" 'HTTP: 1' db.rrd spool '[HTTP]' $'vi\nde\t o'

# fillrrd checks the database first, and shows its path whole.
long=$(printf 'd%.0s' {1..300}).rrd
mkdir -p dirdb.rrd dirdump/netstatdump.log
err="estacount: missing.rrd: $absent" check "missing database" 255 "${no_db}missing.rrd]"$'\n' missing.rrd nowhere SMTP fillrrd
err="estacount: dirdb.rrd: $odd" check "database is a folder" 255 "${no_db}dirdb.rrd]"$'\n' dirdb.rrd spool '[POP3]' fillrrd
err="estacount: $long: ${why}File name too long" check "long path shown whole" 255 "${no_db}$long]"$'\n' "$long" spool '[POP3]' fillrrd
touch db.rrd
check "then the list"          255 "$wrong_list" db.rrd nowhere SMTP fillrrd
err="estacount: nowhere${sep}netstatdump.log: $absent" check "then the dump" 255 "$no_dump" db.rrd nowhere '[POP3]' fillrrd
err="$w the service list [] $none" check "nothing to send" 1 "" db.rrd spool '[]' fillrrd

# Text that never reached standard output (a full disk, a closed descriptor)
# was not delivered: -1, whatever was asked for.
for args in '' help V 'db.rrd spool [POP3] video'; do
    for to in '>/dev/full' '>&-'; do expect "'$args' $to: not delivered" eval "run_program $args $to; [ \$? = 255 ]"; done
done

err="estacount: nowhere${sep}netstatdump.log: $absent" check "no dump" 255 "$no_dump" db.rrd nowhere '[POP3]' video
err="estacount: dirdump${sep}netstatdump.log: $odd" check "dump is a folder" 255 "$no_dump" db.rrd dirdump '[POP3]' video
err="estacount: db.rrd${sep}netstatdump.log: ${why}Not a directory" check "spool is a file" 255 "$no_dump" db.rrd db.rrd '[POP3]' video
err="estacount: a\\x0Ab${sep}netstatdump.log: $absent" check "control character shown" 255 "$no_dump" db.rrd $'a\nb' '[POP3]' video
if [ -z "$wine" ]; then
    # Each FIFO has a writer waiting in its open for a reader. The runs must
    # leave them waiting: an open would release them and drop what they write.
    mkdir fifo && mkfifo fifo/netstatdump.log fifo.rrd
    echo x >fifo/netstatdump.log & dump_writer=$!
    echo x >fifo.rrd & database_writer=$!
    sleep 0.3
    err="estacount: fifo/netstatdump.log: $odd" check "dump is a FIFO" 255 "$no_dump" db.rrd fifo '[POP3]' video
    err="estacount: fifo.rrd: $odd" check "database is a FIFO" 255 "${no_db}fifo.rrd]"$'\n' fifo.rrd spool '[POP3]' fillrrd
    sleep 0.3
    expect "both writers still wait" eval "kill -0 $dump_writer && kill -0 $database_writer"
    kill $dump_writer $database_writer 2>/dev/null
    wait $dump_writer $database_writer
    # sysfs promises 4096 bytes and hands over a few: a short read.
    mkdir short && ln -s /sys/devices/system/cpu/online short/netstatdump.log
    err="estacount: short/netstatdump.log: could not be read whole" check "short read" 255 "" db.rrd short '[POP3]' video
    mkdir device && ln -s /dev/zero device/netstatdump.log
    err="estacount: device/netstatdump.log: $odd" check "dump is a device" 255 "$no_dump" db.rrd device '[POP3]' video
    # Root reads any file: the run gets the rights of nobody, with a copy of
    # the program that nobody may run and reach, wherever the build folder is.
    mkdir locked && cp spool/netstatdump.log locked/ && chmod 000 locked/netstatdump.log
    chmod o+x "$scratch" && cp "$program" estacount-copy
    [ "$(id -u)" = 0 ] && program_env=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    program=$scratch/estacount-copy err="estacount: locked/netstatdump.log: Permission denied" check "unreadable dump" 255 "$no_dump" db.rrd locked '[POP3]' video
    program_env=()
    # A service line past 2 GiB, after a hole: a 32-bit build must still
    # open the dump and learn its size.
    mkdir large && truncate -s 2G large/netstatdump.log
    printf '\r\n  TCP    10.0.0.5:110    10.0.0.9:50000    ESTABLISHED\r\n' >>large/netstatdump.log
    check_report "service line past 2 GiB" 'POP3: 1' db.rrd large '[POP3]' video

    # Words of 100 KB (beyond what a Windows command line can hold) and a
    # list of 20,000 names, most of them unknown.
    word=$(printf 'w%.0s' {1..100000})
    names=$(printf 'POP3.x.%.0s' {1..10000})
    check_report "100 KB database path, video" 'POP3: 1' "$word" spool '[POP3]' video
    err="estacount: $word: File name too long" check "100 KB database path, fillrrd" 255 "${no_db}$word]"$'\n' "$word" spool '[POP3]' fillrrd
    err="estacount: $word/netstatdump.log: File name too long" check "100 KB spool folder" 255 "$no_dump" db.rrd "$word" '[POP3]' video
    check "100 KB list, unbracketed" 255 "$wrong_list" db.rrd spool "[$word" video
    err="$w \"x\" in the service list is no service (nor are 9999 more of its names): the services are POP3, SMTP, HTTP and FTP" check_report "20,000 names" 'POP3: 1|FTP: 0' db.rrd spool "[${names}ftp]" video
fi

if [ -n "$wine" ]; then
    # A named pipe as the dump: the open reaches its server, which never
    # writes, and the pipe is then found out and not read.
    $wine "${PIPE_SERVER:?PIPE_SERVER names the pipe server the Windows build makes}" \
        netstatdump.log >pipe.out 2>&1 &
    server=$!
    for ((i = 0; i < 200; i++)); do grep -q listening pipe.out && break; sleep 0.1; done
    err='estacount: \\.\pipe\netstatdump.log: '$why check "dump is a named pipe" 255 "$no_dump" db.rrd '\\.\pipe' '[POP3]' video
    for ((i = 0; i < 100; i++)); do kill -0 $server 2>/dev/null || break; sleep 0.1; done
    kill $server 2>/dev/null
    wait $server
    expect "its server saw the open" grep -q connected pipe.out
fi

# A dump that changes while it is read is no one listing: refused as one
# read short. The change comes once a process is seen holding the dump open
# (in /proc), well within the half second that reading its hole of 1 GiB
# takes; a run that still ends first is run again, three times at most.
# changed_while_read NAME COMMAND: COMMAND changes changing/netstatdump.log.
changed_while_read() {
    local try status watcher
    for try in 1 2 3; do
        rm -rf changing && mkdir changing && truncate -s 1G changing/netstatdump.log
        printf '\r\n  TCP    10.0.0.5:110    10.0.0.9:50000    ESTABLISHED\r\n' >>changing/netstatdump.log
        touch -m -d 2001-01-01 changing/netstatdump.log
        for ((i = 0; i < 500; i++)); do
            find /proc/[0-9]*/fd -lname "*/${scratch##*/}/changing/netstatdump.log" 2>/dev/null | grep -q . && { eval "$2"; break; }
            sleep 0.01
        done &
        watcher=$!
        run_program db.rrd changing '[POP3]' video >"$scratch/.out" 2>"$scratch/.err"
        status=$?
        kill $watcher 2>/dev/null
        wait $watcher
        [ "$status" = 255 ] && break
    done
    [ -n "$wine" ] && perl -0777 -pi -e 's/\r\n/\n/g' "$scratch/.err"
    expect "$1: status $status after $try runs" eval '[ "$status" = 255 ] && [ ! -s "$scratch/.out" ] &&
        err_matches "estacount: changing${sep}netstatdump.log: could not be read whole"'
}
# Grown with its time put back (as a clock of whole seconds would leave it);
# rewritten in place, its size kept.
changed_while_read "grown while read" 'printf x >>changing/netstatdump.log; touch -m -d 2001-01-01 changing/netstatdump.log'
changed_while_read "rewritten while read" 'printf x | dd of=changing/netstatdump.log bs=1 conv=notrunc status=none'
rm -rf changing

# Every kind of line end, and a last line without one.
for ends in '\r\n \r\n' '\r \r' '\n \n' '\r\n '; do
    printf "  TCP    10.0.0.5:80     10.0.0.9:50003    ESTABLISHED${ends% *}  TCP    10.0.0.5:80     10.0.0.9:50003    ESTABLISHED${ends#* }" | dump ends
    check_report "line ends $ends" 'HTTP: 2' db.rrd ends '[HTTP]' video
done
dump empty ''
dump linux $'Proto Recv-Q Send-Q Local Address           Foreign Address         State      \ntcp        0      0 0.0.0.0:25              0.0.0.0:*               LISTEN     \ntcp        0      0 192.168.1.4:25          192.168.1.9:41234       ESTABLISHED\ntcp        0      0 192.168.1.4:52000       192.168.1.9:80          ESTABLISHED\n'
dump ipv6 $'  TCP    [2001:db8::10]:80      [2001:db8::20]:50123   ESTABLISHED\r\n  TCP    10.0.0.5:110    10.0.0.9:50000    ESTABLISHED\r\n  TCP    [fe80::1c2d:3e4f:5a6b:7c8d%12]:139  [::]:0  LISTENING\r\n  TCP    [2001:db8:0:1::5]:25   [2606:4700:4700::1111]:443  ESTABLISHED\r\n  TCP    10.0.0.5:21     10.0.0.9:50003    ESTABLISHED\r\n'
cp -r "$examples/spool" example
err="$w empty${sep}netstatdump.log holds no connection line and no English netstat header$save" check_report "empty dump" "$zero" db.rrd empty "$all" video
check_report "Linux netstat"   'SMTP: 1|HTTP: 0' db.rrd linux '[SMTP.HTTP]' video
check_report "IPv6 in brackets" 'POP3: 1|SMTP: 1|HTTP: 1|FTP: 1' db.rrd ipv6 "$all" video
check_report "bundled example" 'POP3: 3|SMTP: 2|HTTP: 5|FTP: 1' db.rrd example "$all" video

# Listings in which nothing can count get one line on stderr; stdout is the
# zero report all the same. German net-tools translates ESTABLISHED alone,
# and not its header; German Windows writes its code page (0x99 is O umlaut).
dump de_linux $'Aktive Internetverbindungen (Server und stehende Verbindungen)\nProto Recv-Q Send-Q Local Address           Foreign Address         State      \ntcp        0      0 0.0.0.0:25              0.0.0.0:*               LISTEN     \ntcp        0      0 10.0.0.5:25             10.0.0.9:41234          VERBUNDEN  \ntcp        0      0 10.0.0.5:50100          10.0.0.9:443            TIME_WAIT  \n'
dump de_windows $'\r\nAktive Verbindungen\r\n\r\n  Proto  Lokale Adresse         Remoteadresse          Status\r\n  TCP    0.0.0.0:80             0.0.0.0:0              ABH\x99REN\r\n  TCP    10.0.0.5:80            10.0.0.9:50000         HERGESTELLT\r\n  UDP    0.0.0.0:123            *:*                    \r\n'
dump ss $'State  Recv-Q Send-Q Local Address:Port  Peer Address:Port Process\nLISTEN 0      128          0.0.0.0:25         0.0.0.0:*\nESTAB  0      0           10.0.0.5:25        10.0.0.9:41234\n'
{ printf '\xFF\xFE'; iconv -f ASCII -t UTF-16LE example/netstatdump.log; } | dump bom
# English ones where no service is busy stay quiet: the example with other
# ports, and the header of an idle host alone.
sed -E 's/:(21|25|80|110) /:8\1 /g' example/netstatdump.log | dump idle_services
dump idle_host $'Active Internet connections (w/o servers)\nProto Recv-Q Send-Q Local Address           Foreign Address         State      \n'
states="gives the connections' states in another language"
err="$w de_linux${sep}netstatdump.log $states (\"VERBUNDEN\"), and only ESTABLISHED counts$save" check_report "German net-tools" "$zero" db.rrd de_linux "$all" video
err="$w de_windows${sep}netstatdump.log $states (\"ABH\\x99REN\"), and only ESTABLISHED counts$save" check_report "German Windows" "$zero" db.rrd de_windows "$all" video
err="$w ss${sep}netstatdump.log is a listing of ss, whose lines the count cannot read$save" check_report "ss -tan" "$zero" db.rrd ss "$all" video
err="$w bom${sep}netstatdump.log $utf16" check_report "UTF-16 with its mark" 'SMTP: 0' db.rrd bom '[SMTP]' video
check_report "English, no service busy" "$zero" db.rrd idle_services "$all" video
check_report "English header alone" 'HTTP: 0' db.rrd idle_host '[HTTP]' video
# Past 1 MiB, only the head is looked at, up to its last line end: the
# first line sets where 1 MiB falls, inside an ESTABLISHED (after ESTABLI).
line=$'  TCP    10.0.0.5:8080   10.0.0.9:50000   ESTABLISHED\r\n'
pad=$(( (1048576 - (${#line} - 6)) % ${#line} + ${#line} ))
{ printf '%*s\r\n' $((pad - 2)) ''; yes "${line%$'\n'}" | head -n 20000; } | dump past_head
check_report "English, cut at 1 MiB" 'HTTP: 0' db.rrd past_head '[HTTP]' video
# How stderr shows a word's bytes: C0 and C1 controls as \xHH, in UTF-8
# too, and any other character as it is, in UTF-8 or a code page. (%b
# turns \xHH into the byte and \\xHH into the text \xHH.)
while read -r name raw want; do
    dump shown "  TCP    10.0.0.5:80     10.0.0.9:50000    $(printf %b "$raw")"$'\r\n'
    err="$w shown${sep}netstatdump.log $states (\"$(printf %b "$want")\"), and only ESTABLISHED counts$save" check_report "$name shown" 'HTTP: 0' db.rrd shown '[HTTP]' video
done <<'EOF'
escape     X\x1B[31mY                          X\\x1B[31mY
CSI        X\x9B31mY                           X\\x9B31mY
C1_ends    X\x80\x9FY                          X\\x80\\x9FY
U+009B     X\xC2\x9B31mY                       X\\xC2\\x9B31mY
U+009F     X\xC2\x9FY                          X\\xC2\\x9FY
U+00A0     X\xC2\xA0Y                          X\xC2\xA0Y
U+07C0     X\xDF\x80Y                          X\xDF\x80Y
U+201B_end X\xE2\x80\x9B                       X\xE2\x80\x9B
U+203F     X\xE2\x80\xBFY                      X\xE2\x80\xBFY
U+0905     X\xE0\xA4\x85Y                      X\xE0\xA4\x85Y
U+FFDA     X\xEF\xBF\x9AY                      X\xEF\xBF\x9AY
U+10F000   X\xF4\x8F\x80\x80Y                  X\xF4\x8F\x80\x80Y
U+1F600    X\xF0\x9F\x98\x80Y                  X\xF0\x9F\x98\x80Y
Latin-1    H\xD6RT                             H\xD6RT
overlong   X\xE0\x80\x9B\xF0\x8F\x80\x80Y      X\xE0\\x80\\x9B\xF0\\x8F\\x80\\x80Y
bad_third  X\xE2\x80AY                         X\xE2\\x80AY
surrogate  X\xED\xA0\x80Y                      X\xED\xA0\\x80Y
past_max   X\xF4\x90\x80\x80\xF5\x80\x80\x80Y  X\xF4\\x90\\x80\\x80\xF5\\x80\\x80\\x80Y
cut        X\xE2\x80                           X\xE2\\x80
EOF

# 100,000 lines of 50 bytes: the 5,000,000 bytes of one read, then a line more.
big=$'  TCP  10.0.0.5:110   10.0.0.9:50000 ESTABLISHED\r'
yes "$big" | head -n 100000 | dump exact
{ cat exact/netstatdump.log; echo "$big"; } | dump over
check_report "dump of 5,000,000 bytes" 'POP3: 100000' db.rrd exact '[POP3]' video
check_report "one line more"   'POP3: 100001' db.rrd over '[POP3]' video
# 12 MB: shares and windows, whose edges fall inside lines.
for _ in {1..4000}; do cat example/netstatdump.log; done | dump windows
check_report "windows of a larger dump" 'POP3: 12000|SMTP: 8000|HTTP: 20000|FTP: 4000' db.rrd windows "$all" video
# With no second thread to be had (a task limit), the shares are scanned in turn.
# (LeakSanitizer's check at exit needs a thread of its own; qemu-user keeps
# one beside the program's, so under an emulator the limit is one more.)
if [ "$(id -u)" = 0 ] && [ -z "$wine" ]; then
    tasks=$((1 + (${#emulator[@]} > 0)))
    program_env=(ASAN_OPTIONS=detect_leaks=0 setpriv --reuid=65534 --regid=65534 --clear-groups prlimit --nproc=$tasks)
    program=$scratch/estacount-copy check_report "no thread to be had" 'POP3: 12000|SMTP: 8000|HTTP: 20000|FTP: 4000' db.rrd windows "$all" video
    program_env=()
fi
# On one processor (its affinity, as a supervisor may set it): one share.
if [ -z "$wine" ] && command -v taskset >/dev/null; then
    program_env=(taskset -c 0)
    check_report "one processor" 'POP3: 12000|SMTP: 8000|HTTP: 20000|FTP: 4000' db.rrd windows "$all" video
    program_env=()
fi

# Hostile dumps: counted as bytes, never a crash or a hang.
printf 'a\0b:80 x:1 ESTABLISHED\r\n\0\0\0  TCP 1:21 2:3 ESTABLISHED\r\n' | dump nul
# One line of 100 MB, its remote endpoint running through twenty windows.
{ printf '  TCP    10.0.0.5:80     '; head -c 100000000 /dev/zero | tr '\0' y; printf '   ESTABLISHED'; } | dump longline
# A word of 12 MB and six million colons, whose last one is an endpoint's.
{ printf '  TCP    ['; head -c 12000000 /dev/zero | tr '\0' : | sed 's/::/a:/g'; printf ']:80   [::1]:50000   ESTABLISHED\r\n  TCP    10.0.0.5:21     10.0.0.9:50003    ESTABLISHED\r\n'; } | dump longword
iconv -f ASCII -t UTF-16LE example/netstatdump.log | dump wide
check_report "NUL bytes"       'HTTP: 1|FTP: 1' db.rrd nul '[HTTP.FTP]' video
check_report "a 100 MB line"   'HTTP: 1' db.rrd longline '[HTTP]' video
check_report "a word of 12 MB" 'HTTP: 1|FTP: 1' db.rrd longword '[HTTP.FTP]' video
err="$w wide${sep}netstatdump.log $utf16" check_report "two bytes per character" "$zero" db.rrd wide "$all" video

finish
