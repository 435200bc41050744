#!/usr/bin/env bash
# The packages CPack makes from a build folder, checked as a user gets them.
#   packages.sh deb BUILD CPACK   the .deb: its files and fields, lintian
#                                 (errors fail), then dpkg -i, runs from
#                                 /usr/bin, man -w, the units (verify, their
#                                 sandbox's score, a sample and a graph made
#                                 by their commands as their user), the
#                                 timers through remove and reinstall, and
#                                 what purge takes and leaves. Needs root.
#   packages.sh zip BUILD CPACK   the Windows zip: its files, then the .exe
#                                 run from it under wine.
# Exits 77 (skipped) where it must not or cannot install.
set -u
kind=$1 build=$(realpath "$2") cpack=$3 prom=/var/lib/prometheus/node-exporter/estacount.prom
case $kind in
deb)
    [ "$(id -u)" = 0 ] || { echo "skipped: dpkg -i needs root"; exit 77; }
    # Someone's install is left alone, and so is what a purge would take.
    # The test removes the user and group its install makes: none may be
    # there before.
    dpkg-query -W -f '${Status}' estacount 2>/dev/null | grep -q installed ||
        getent passwd estacount >/dev/null || getent group estacount >/dev/null ||
        ls -d /usr/bin/estacount /usr/bin/estacount-kit /var/lib/estacount /var/spool/estacount $prom 2>/dev/null | grep -q . &&
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
    for path in ./usr/bin/estacount ./usr/bin/estacount-kit \
        ./usr/share/man/man1/estacount.1.gz ./usr/share/man/man1/estacount-kit.1.gz \
        ./usr/share/doc/estacount/copyright ./usr/share/doc/estacount/changelog.gz ./usr/share/doc/estacount/README.md.gz ./usr/share/doc/estacount/linux.md.gz \
        ./usr/share/estacount/examples/demo.sh ./usr/share/estacount/examples/spool/netstatdump.log \
        ./etc/cron.d/estacount ./usr/lib/systemd/system/estacount-graph.timer; do
        expect "deb holds $path" grep -qxF "$path" files
    done
    expect "deb: no Windows files" [ -z "$(grep -e '\.cmd$' -e windows.txt files)" ]
    expect "deb: no script but the demo" [ "$(grep '\.sh$' files)" = ./usr/share/estacount/examples/demo.sh ]
    expect "deb: the cron lines a conffile" [ "$(dpkg-deb -I "$deb" conffiles)" = /etc/cron.d/estacount ]
    expect "deb: all under /usr but the cron lines, nothing under /usr/local" [ -z "$(grep -v -e '^\./usr$' -e '^\./usr/' -e '^\./$' -e '^\./etc\(/cron\.d\(/estacount\)\?\)\?$' files; grep '^\./usr/local' files)" ]
    expect "deb: units only where systemd looks" [ -z "$(grep '\.\(service\|timer\)$' files | grep -v '^\./usr/lib/systemd/system/')" ]
    expect "deb: architecture" [ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ]
    expect "deb: rrdtool alone recommended" [ "$(dpkg-deb -f "$deb" Recommends)" = rrdtool ]
    dpkg-deb -x "$deb" unpacked
    for p in estacount estacount-kit; do
        expect "deb: $p stripped" [ -z "$(readelf -S unpacked/usr/bin/$p | grep -e '\.symtab' -e '\.debug_')" ]
    done

    # Its tags, errors or not, go to the test's log.
    lintian --fail-on error "$deb" >lintian.log 2>&1; expect "lintian: no error" [ $? = 0 ]
    grep -v 'running with root privileges' lintian.log

    # Undoes, in this order, what the rows below leave: the statoverride
    # (dpkg refuses to run while it names a missing group), the package,
    # the folders, and the user and group, which the package keeps but the
    # skip above shows this test's install made.
    override=$scratch/owned made=
    for d in /var/lib/prometheus "${prom%/*}"; do [ -d "$d" ] || { made=$d; break; }; done
    clean_up() {
        dpkg-statoverride --list "$override" >/dev/null && dpkg-statoverride --quiet --remove "$override"
        dpkg -P estacount >/dev/null 2>&1
        rm -rf /var/lib/estacount /var/spool/estacount $prom $made
        getent passwd estacount >/dev/null && deluser --quiet --system estacount >/dev/null 2>&1
        getent group estacount >/dev/null && delgroup --quiet --system estacount >/dev/null 2>&1
        rm -rf "$scratch"
    }
    trap clean_up EXIT
    runs "dpkg -i" dpkg -i "$deb"
    version=$("$build/estacount" v; echo .)  # the built program's, whole
    check "installed: version" 0 "${version%.}" v
    check_report "installed: the example listing" "$all_four" x /usr/share/estacount/examples/spool '[POP3.SMTP.HTTP.FTP]' video
    for page in estacount estacount-kit; do
        expect "man -w $page" [ "$(man -w $page)" = /usr/share/man/man1/$page.1.gz ]
    done
    for page in README.md doc/linux.md; do
        expect "installed: /usr/share/doc/estacount holds $page" cmp -s <(zcat "/usr/share/doc/estacount/${page#doc/}.gz") "$examples/../$page"
    done
    expect "cron lines all commented out" [ -z "$(grep -v -e '^#' -e '^$' /etc/cron.d/estacount)" ]
    owner() { stat -c %U "$1" 2>&1; }
    for dir in /var/lib/estacount /var/spool/estacount; do
        expect "dpkg -i: $dir made, the user's, marked as the package's" \
            [ "$(owner $dir) $(owner $dir/.made-by-estacount-package)" = "estacount root" ]
    done
    units=(/usr/lib/systemd/system/estacount-{collect,graph}.{service,timer})
    runs "units verify" systemd-analyze verify "${units[@]}"
    for unit in /usr/lib/systemd/system/estacount-*.service; do
        score=$(systemd-analyze security --offline=yes "$unit" 2>/dev/null | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
        expect "$unit rated 3.0 or lower (got '$score')" awk -v s="$score" 'BEGIN { exit !(s != "" && s <= 3.0) }'
    done
    # Each service's command as its user, from / in a bare environment, as
    # systemd runs it (the sandbox itself needs a running systemd). Split
    # on blanks, not by a shell, which would take [POP3...] for a pattern.
    as_unit() {
        local words
        read -ra words <<<"$(sed -n 's/^ExecStart=//p' "/usr/lib/systemd/system/$1")"
        (cd / && env -i PATH=/usr/bin:/bin setpriv --reuid=estacount --regid=estacount --init-groups "${words[@]}")
    }
    db=/var/lib/estacount/estacount.rrd
    runs "estacount-kit create as the user" runuser -u estacount -- env -i PATH=/usr/bin:/bin estacount-kit create $db
    runs "the collect unit's command" as_unit estacount-collect.service
    expect "the collect unit's command lands a sample" eval "rrdtool lastupdate $db | grep -qE '^[0-9]+: [0-9]+ [0-9]+ [0-9]+ [0-9]+\$'"
    runs "the graph unit's command" as_unit estacount-graph.service
    expect "the graph unit's command draws" [ "$(owner /var/lib/estacount/estacount.png)" = estacount ]
    # The cron lines' commands, uncommented, each as its user from / in the
    # environment cron gives.
    lines=0
    while read -r _ _ _ _ _ user command; do
        runs "cron line as $user: ${command#*&& }" runuser -u "$user" -- env -i PATH=/usr/bin:/bin sh -c "cd / && $command"
        lines=$((lines + 1))
    done < <(sed -n 's/^# \(\([^ ]\+ \)\{5\}[a-z]\+ test -x .*\)/\1/p' /etc/cron.d/estacount)
    expect "the cron lines: collect, graph and textfile found ($lines)" [ $lines = 3 ]
    expect "the textfile cron line writes $prom" grep -q '^estacount_listing_timestamp_seconds ' $prom
    runs "systemctl enable" systemctl enable estacount-collect.timer estacount-graph.timer
    both_enabled() { [ "$(systemctl is-enabled estacount-collect.timer estacount-graph.timer 2>&1 | paste -sd' ')" = "enabled enabled" ]; }

    runs "dpkg -r" dpkg -r estacount
    expect "dpkg -r: nothing left" test ! -e /usr/bin/estacount -a ! -e /usr/bin/estacount-kit -a ! -e /usr/share/estacount
    expect "dpkg -r: the database kept" test -f $db
    runs "dpkg -r, dpkg -i" dpkg -i "$deb"
    expect "dpkg -r, dpkg -i: the timers still enabled" both_enabled

    # Purged three times: the defaults' files; then with a statoverride
    # naming the group; then over an admin's /var/lib/estacount and .prom.
    dpkg-statoverride --add estacount estacount 0755 "$override"
    runs "dpkg -P" dpkg -P estacount
    for gone in /var/lib/estacount /var/spool/estacount $prom /etc/cron.d/estacount; do expect "dpkg -P: no $gone" test ! -e $gone; done
    expect "dpkg -P: no unit link left" [ -z "$(find /etc/systemd -name 'estacount*')" ]
    expect "dpkg -P: the timers forgotten" [ -z "$(find /var/lib/systemd/deb-systemd-helper-enabled -name 'estacount*' 2>/dev/null)" ]
    expect "dpkg -P: user and group kept" eval 'getent passwd estacount >/dev/null && getent group estacount >/dev/null'
    runs "dpkg -P, a statoverride naming the group: dpkg -i" dpkg -i "$deb"
    expect "dpkg -P, dpkg -i: the timers not enabled" [ "$(systemctl is-enabled estacount-collect.timer 2>&1)" = disabled ]
    runs "dpkg -P again" dpkg -P estacount
    mkdir /var/lib/estacount && echo kept >/var/lib/estacount/own.rrd
    mkdir -p "${prom%/*}" && printf 'estacount_listing_timestamp_seconds 1\nsite_own 1\n' >$prom
    runs "dpkg -i over an admin's folder" dpkg -i "$deb"
    expect "dpkg -i: the admin's folder left as it was" [ "$(owner /var/lib/estacount; ls -A /var/lib/estacount)" = "root"$'\n'"own.rrd" ]
    runs "dpkg -P over an admin's folder" dpkg -P estacount
    expect "dpkg -P: the admin's folder kept whole" [ "$(cat /var/lib/estacount/own.rrd; ls -A /var/lib/estacount)" = "kept"$'\n'"own.rrd" ]
    expect "dpkg -P: the folder the package made gone" test ! -e /var/spool/estacount
    expect "dpkg -P: a .prom with other lines kept" test -f $prom
else
    (mkdir unpacked && cd unpacked && cmake -E tar xf ../out/estacount-*-win64.zip)
    top=$(echo unpacked/estacount-*-win64)
    (cd "$top" && find . -type f | sort) >files
    expect "zip: just these files" [ "$(paste -sd' ' files)" = "./README.txt ./estacount-kit.exe ./estacount-kit.txt ./estacount.exe ./estacount.txt ./spool/netstatdump.log" ]
    expect "zip: the texts have CR LF line ends" perl -ne 'exit 1 if /(?<!\r)\n/' "$top"/*.txt
    # README.txt is the Windows page, which names the manual pages beside it,
    # rendered as plain text (no backspaces, no escapes).
    expect "zip: README.txt is the Windows page, with nothing of Linux" eval 'cmp -s <(tr -d "\r" <"$top/README.txt") <(tr -d "\r" <"$examples/../doc/windows.txt") && ! grep -qiE "debian|systemd|cron|benchmark" "$top/README.txt"'
    expect "zip: README.txt names the manual pages" eval 'grep -q estacount.txt "$top/README.txt" && grep -q estacount-kit.txt "$top/README.txt"'
    for page in estacount estacount-kit; do
        expect "zip: $page.txt is its manual page as text" eval 'grep -q "^SYNOPSIS" "$top/$page.txt" && grep -q "^ *$page " "$top/$page.txt" && ! grep -q "[[:cntrl:]]" <(tr -d "\r" <"$top/$page.txt")'
    done
    version=$(wine "$build/estacount.exe" v | tr -d '\r'; echo .)  # the built program's, whole
    program=$(realpath "$top/estacount.exe")
    check "zip: version" 0 "${version%.}" v
    cd "$top" || exit 2
    check_report "zip: the sample listing" "$all_four" x spool '[POP3.SMTP.HTTP.FTP]' video
    # The kit beside it counts the same listing, however old the zip's copy.
    program=$(realpath estacount-kit.exe)
    check "zip: the kit's version" 0 $'estacount-kit 1.0\n' --version
    check "zip: the kit's textfile of the sample listing" 0 "" textfile --max-age 999999999 spool '..\..\zip.prom'
    expect "zip: its counts" [ "$(grep -v '^#' "$scratch/zip.prom" | sed -n 's/.*service="\(.*\)"} /\1 /p' | paste -sd' ')" = "pop3 3 smtp 2 http 5 ftp 1" ]
fi
finish
