#!/usr/bin/env bash
# The packages CPack makes from a build folder, checked as a user gets them.
#   packages.sh deb BUILD CPACK   the .deb: its files and fields, lintian
#                                 (errors fail), then dpkg -i, runs from
#                                 /usr/bin, man -w, the units (verify, their
#                                 sandbox's score, a sample and a graph made
#                                 by their commands as their user), dpkg -r
#                                 and -P. Needs root.
#   packages.sh zip BUILD CPACK   the Windows zip: its files, then the .exe
#                                 run from it under wine.
# Exits 77 (skipped) where it must not or cannot install.
set -u
kind=$1 build=$(realpath "$2") cpack=$3 prom=/var/lib/prometheus/node-exporter/estacount.prom
case $kind in
deb)
    [ "$(id -u)" = 0 ] || { echo "skipped: dpkg -i needs root"; exit 77; }
    # Someone's install is left alone, and so is what a purge would take.
    dpkg-query -W -f '${Status}' estacount 2>/dev/null | grep -q installed || getent passwd estacount >/dev/null ||
        ls -d /usr/bin/estacount /var/lib/estacount /var/spool/estacount $prom 2>/dev/null | grep -q . &&
        { echo "skipped: estacount is installed on this machine already, or its user or folders are there"; exit 77; }
    . "$(dirname "$0")/lib.sh" /usr/bin/estacount
    ;;
zip) . "$(dirname "$0")/lib.sh" --wine "$build/estacount.exe" ;;
*) echo "usage: $0 deb|zip BUILD CPACK" >&2; exit 2 ;;
esac

# The output and CPack's staging go to the scratch folder, not the build's.
"$cpack" -G "${kind^^}" --config "$build/CPackConfig.cmake" -B "$scratch/out" >cpack.log 2>&1 || { cat cpack.log; exit 1; }
# runs NAME COMMAND...: COMMAND succeeds; its output is shown if it fails.
runs() {
    "${@:2}" >run.log 2>&1 || { sed 's/^/  /' run.log; false; }
    expect "$1" [ $? = 0 ]
}
all_four='POP3: 3|SMTP: 2|HTTP: 5|FTP: 1'  # the sample listing's counts

if [ "$kind" = deb ]; then
    deb=$(echo out/estacount_*.deb)
    dpkg-deb -c "$deb" | awk '{print $6}' | sed 's,/$,,' >files
    for path in ./usr/bin/estacount ./usr/share/man/man1/estacount.1.gz \
        ./usr/share/doc/estacount/copyright ./usr/share/doc/estacount/changelog.gz \
        ./usr/share/estacount/examples/collect.sh ./usr/share/estacount/examples/spool/netstatdump.log \
        ./etc/cron.d/estacount ./usr/lib/systemd/system/estacount-graph.timer; do
        expect "deb holds $path" grep -qxF "$path" files
    done
    expect "deb: no Windows files" [ -z "$(grep -e '\.cmd$' -e README-windows files)" ]
    expect "deb: the cron lines a conffile" [ "$(dpkg-deb -I "$deb" conffiles)" = /etc/cron.d/estacount ]
    expect "deb: all under /usr but the cron lines, nothing under /usr/local" [ -z "$(grep -v -e '^\./usr$' -e '^\./usr/' -e '^\./$' -e '^\./etc\(/cron\.d\(/estacount\)\?\)\?$' files; grep '^\./usr/local' files)" ]
    expect "deb: units only where systemd looks" [ -z "$(grep '\.\(service\|timer\)$' files | grep -v '^\./usr/lib/systemd/system/')" ]
    expect "deb: architecture" [ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ]
    expect "deb: rrdtool recommended" grep -qw rrdtool <(dpkg-deb -f "$deb" Recommends)
    dpkg-deb -x "$deb" unpacked
    expect "deb: the program stripped" [ -z "$(readelf -S unpacked/usr/bin/estacount | grep -e '\.symtab' -e '\.debug_')" ]

    # Its tags, errors or not, go to the test's log.
    lintian --fail-on error "$deb" >lintian.log 2>&1; expect "lintian: no error" [ $? = 0 ]
    grep -v 'running with root privileges' lintian.log

    runs "dpkg -i" dpkg -i "$deb"
    # The collector's folder, if the test makes it, goes with the test.
    made=
    for d in /var/lib/prometheus "${prom%/*}"; do [ -d "$d" ] || { made=$d; break; }; done
    trap 'dpkg -P estacount >/dev/null 2>&1; rm -rf $made "$scratch"' EXIT
    version=$("$build/estacount" v; echo .)  # the built program's, whole
    check "installed: version" 0 "${version%.}" v
    check_report "installed: the example listing" "$all_four" x /usr/share/estacount/examples/spool '[POP3.SMTP.HTTP.FTP]' video
    expect "man -w" [ "$(man -w estacount)" = /usr/share/man/man1/estacount.1.gz ]
    expect "cron lines all commented out" [ -z "$(grep -v -e '^#' -e '^$' /etc/cron.d/estacount)" ]
    units=(/usr/lib/systemd/system/estacount-{collect,graph}.{service,timer})
    runs "units verify" systemd-analyze verify "${units[@]}"
    for unit in /usr/lib/systemd/system/estacount-*.service; do
        score=$(systemd-analyze security --offline=yes "$unit" 2>/dev/null | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
        expect "$unit rated 3.0 or lower (got '$score')" awk -v s="$score" 'BEGIN { exit !(s != "" && s <= 3.0) }'
    done
    # Each service's command, as its user in its environment, does its work
    # (the sandbox itself needs a running systemd).
    as_unit() {
        local unit=/usr/lib/systemd/system/$1
        env $(sed -n 's/^Environment=//p' "$unit") setpriv --reuid=estacount --regid=estacount --init-groups \
            sh -c "$(sed -n 's/^ExecStart=//p' "$unit")"
    }
    db=/var/lib/estacount/estacount.rrd
    runuser -u estacount -- /usr/share/estacount/examples/create-database.sh $db
    as_unit estacount-collect.service >collect.log 2>&1
    # rrdtool may still be writing when an old collect.sh has returned.
    landed() { rrdtool lastupdate $db | grep -qE '^[0-9]+: [0-9]+ [0-9]+ [0-9]+ [0-9]+$'; }
    for _ in {1..50}; do landed && break; sleep 0.1; done
    expect "the collect unit's command lands a sample" landed
    as_unit estacount-graph.service >graph.log 2>&1
    expect "the graph unit's command draws" [ "$(stat -c %U /var/lib/estacount/estacount.png 2>&1)" = estacount ]
    cat collect.log graph.log
    runs "systemctl enable" systemctl enable estacount-collect.timer estacount-graph.timer
    mkdir -p "${prom%/*}"
    echo 'estacount_established_connections{service="http"} 5' >$prom

    runs "dpkg -r" dpkg -r estacount
    expect "dpkg -r: nothing left" test ! -e /usr/bin/estacount -a ! -e /usr/share/estacount
    expect "dpkg -r: no unit link left" [ -z "$(find /etc/systemd -name 'estacount*')" ]
    expect "dpkg -r: the database kept" test -f $db
    runs "dpkg -P" dpkg -P estacount
    for gone in /var/lib/estacount /var/spool/estacount $prom /etc/cron.d/estacount; do expect "dpkg -P: no $gone" test ! -e $gone; done
    expect "dpkg -P: no user estacount" [ -z "$(getent passwd estacount)" ]
else
    (mkdir unpacked && cd unpacked && cmake -E tar xf ../out/estacount-*-win64.zip)
    top=$(echo unpacked/estacount-*-win64)
    (cd "$top" && find . -type f | sort) >files
    expect "zip: just these files" [ "$(paste -sd' ' files)" = "./README-windows.txt ./README.txt ./collect.cmd ./create-database.cmd ./draw-graph.cmd ./estacount.exe ./estacount.txt ./spool/netstatdump.log" ]
    expect "zip: the scripts and texts have CR LF line ends" perl -ne 'exit 1 if /(?<!\r)\n/' "$top"/*.cmd "$top"/*.txt
    # What README-windows.txt points at: the README whole, the manual page
    # rendered as plain text (no backspaces, no escapes).
    expect "zip: README.txt is the README" cmp -s <(tr -d '\r' <"$top/README.txt") "$examples/../README.md"
    expect "zip: estacount.txt is the manual page as text" eval 'grep -q "^SYNOPSIS" "$top/estacount.txt" && ! grep -q "[[:cntrl:]]" <(tr -d "\r" <"$top/estacount.txt")'
    expect "zip: README-windows.txt names them" eval 'grep -q README.txt "$top/README-windows.txt" && grep -q estacount.txt "$top/README-windows.txt"'
    version=$(wine "$build/estacount.exe" v | tr -d '\r'; echo .)  # the built program's, whole
    program=$(realpath "$top/estacount.exe")
    check "zip: version" 0 "${version%.}" v
    cd "$top" || exit 2
    check_report "zip: the sample listing" "$all_four" x spool '[POP3.SMTP.HTTP.FTP]' video
fi
finish
