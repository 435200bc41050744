#!/usr/bin/env bash
# The packages CPack makes from a build folder, checked as a user gets them.
#   packages.sh deb BUILD CPACK   the .deb: its files and fields, lintian
#                                 (errors fail), then dpkg -i, runs from
#                                 /usr/bin, man -w, dpkg -r. Needs root.
#   packages.sh zip BUILD CPACK   the Windows zip: its files, then the .exe
#                                 run from it under wine.
# Exits 77 (skipped) where it must not or cannot install.
set -u
kind=$1 build=$(realpath "$2") cpack=$3
case $kind in
deb)
    [ "$(id -u)" = 0 ] || { echo "skipped: dpkg -i needs root"; exit 77; }
    # Someone's install is left alone.
    if dpkg-query -W -f '${Status}' estacount 2>/dev/null | grep -q installed || [ -e /usr/bin/estacount ]; then
        echo "skipped: estacount is installed on this machine already"
        exit 77
    fi
    . "$(dirname "$0")/lib.sh" /usr/bin/estacount
    ;;
zip) . "$(dirname "$0")/lib.sh" --wine "$build/estacount.exe" ;;
*) echo "usage: $0 deb|zip BUILD CPACK" >&2; exit 2 ;;
esac

# The output and CPack's staging go to the scratch folder, not the build's.
"$cpack" -G "${kind^^}" --config "$build/CPackConfig.cmake" -B "$scratch/out" >cpack.log 2>&1 || {
    cat cpack.log
    exit 1
}
# has LISTING PATH...: each PATH is in LISTING.
has() {
    local listing=$1 path
    shift
    for path; do expect "$kind holds $path" grep -qxF "$path" "$listing"; done
}
# runs NAME COMMAND...: COMMAND succeeds; its output is shown if it fails.
runs() {
    local name=$1
    shift
    if "$@" >run.log 2>&1; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name:"
        sed 's/^/  /' run.log
    fi
}
all_four='POP3: 3|SMTP: 2|HTTP: 5|FTP: 1'  # the sample listing's counts

if [ "$kind" = deb ]; then
    deb=$(echo out/estacount_*.deb)
    dpkg-deb -c "$deb" | awk '{print $6}' | sed 's,/$,,' >files
    has files ./usr/bin/estacount ./usr/share/man/man1/estacount.1.gz \
        ./usr/share/doc/estacount/copyright ./usr/share/doc/estacount/changelog.gz \
        ./usr/share/estacount/examples/collect.sh ./usr/share/estacount/examples/spool/netstatdump.log
    expect "deb: all under /usr, nothing under /usr/local" [ -z "$(grep -v -e '^\./usr$' -e '^\./usr/' -e '^\./$' files; grep '^\./usr/local' files)" ]
    expect "deb: units only where systemd looks" [ -z "$(grep '\.\(service\|timer\)$' files | grep -v '^\./usr/lib/systemd/system/')" ]
    expect "deb: architecture" [ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ]
    expect "deb: rrdtool recommended" grep -qw rrdtool <(dpkg-deb -f "$deb" Recommends)
    dpkg-deb -x "$deb" unpacked
    expect "deb: the program stripped" [ -z "$(readelf -S unpacked/usr/bin/estacount | grep -e '\.symtab' -e '\.debug_')" ]

    # Its tags, errors or not, go to the test's log.
    lintian --fail-on error "$deb" >lintian.log 2>&1
    expect "lintian: no error" [ $? = 0 ]
    grep -v 'running with root privileges' lintian.log

    runs "dpkg -i" dpkg -i "$deb"
    trap 'dpkg -r estacount >/dev/null 2>&1; rm -rf "$scratch"' EXIT
    version=$("$build/estacount" v; echo .)  # the built program's, whole
    check "installed: version" 0 "${version%.}" v
    check_report "installed: the example listing" "$all_four" x /usr/share/estacount/examples/spool '[POP3.SMTP.HTTP.FTP]' video
    expect "man -w" [ "$(man -w estacount)" = /usr/share/man/man1/estacount.1.gz ]
    # An installed unit runs a program that the package installed.
    for unit in /usr/lib/systemd/system/estacount*; do
        [ -e "$unit" ] || continue
        exec_path=$(sed -n 's/^ExecStart=[-@+!]*\([^ ]*\).*/\1/p' "$unit")
        [ -z "$exec_path" ] || expect "$unit runs $exec_path" [ -x "$exec_path" ]
    done
    runs "dpkg -r" dpkg -r estacount
    expect "dpkg -r: nothing left" test ! -e /usr/bin/estacount -a ! -e /usr/share/estacount
else
    mkdir unpacked
    (cd unpacked && cmake -E tar xf ../out/estacount-*-win64.zip)
    top=$(echo unpacked/estacount-*-win64)
    (cd "$top" && find . -type f | sort) >files
    expect "zip: just these files" [ "$(paste -sd' ' files)" = "./README-windows.txt ./README.txt ./collect.cmd ./create-database.cmd ./draw-graph.cmd ./estacount.exe ./estacount.txt ./spool/netstatdump.log" ]
    for text in "$top"/*.cmd "$top"/*.txt; do
        expect "zip: $(basename "$text") has CR LF line ends" perl -ne 'exit 1 if /(?<!\r)\n/' "$text"
    done
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
