#!/usr/bin/env bash
# Live end-to-end case: real sockets in a network namespace of the test's
# own, listed by the real netstat, counted by the program and by ss.
#   live_ipv6.sh PROGRAM KIT
# In the namespace: lo up with 2001:db8::1 and the ULA fd00::1 added, one
# perl process listening on 80, 25, 110 and 21 (on ::, so IPv4 clients too)
# and holding a known number of client connections to them over 127.0.0.1,
# ::1, 2001:db8::1 written compressed and in eight full groups, and fd00::1.
# Then `netstat -tanW` is the dump, and the program's four counts must equal
# both the known numbers and `ss -tanH state established` grouped by local
# port. Then estacount-kit, in the same namespace, in German (netstat's
# translation in place) and with netstat hidden: the sample, the .prom file
# and the saved listing must hold the same counts. Exits 77 (a skip) where
# it may not make a namespace (not root).
# Everything it starts is killed by pid and the namespace deleted on exit.
set -u
kit=$(realpath "${2:?usage: $0 PROGRAM KIT}")
. "$(dirname "$0")/lib.sh"
skip() { echo "skipped: $*"; exit 77; }

[ "$(id -u)" = 0 ] || skip "making a network namespace and adding addresses needs root"
for tool in ip netstat ss perl; do
    command -v "$tool" >/dev/null ||
        { echo "FAIL: $tool not found (Debian: apt-get install iproute2 net-tools perl)"; exit 1; }
done

ns=estacount-live-$$
helper=
cleanup() {
    [ -n "$helper" ] && kill "$helper" 2>/dev/null && wait "$helper" 2>/dev/null
    ip netns del "$ns" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
ip netns add "$ns" 2>.err || skip "cannot make a network namespace: $(cat .err)"
in_ns() { ip netns exec "$ns" "$@"; }
{ ip -n "$ns" link set lo up && ip -n "$ns" addr add 2001:db8::1/64 dev lo nodad &&
    ip -n "$ns" addr add fd00::1/64 dev lo nodad; } 2>.err || skip "cannot set up lo in the namespace: $(cat .err)"

# Connections per service port, as ADDRESS=COUNT pairs.
plan='80 127.0.0.1=2 ::1=1 2001:db8::1=2 2001:0db8:0000:0000:0000:0000:0000:0001=1 fd00::1=1
25 127.0.0.1=1 ::1=2 2001:db8::1=1 fd00::1=2
110 ::1=3 2001:db8:0:0:0:0:0:1=1 127.0.0.1=1
21 fd00::1=1 127.0.0.1=1'

# Listens, connects, accepts every connection, says "ready", then holds them
# until killed (or for 60 seconds at most). Started as one command, not
# through in_ns, so that $! is the process itself: ip netns exec becomes
# timeout, which hands the kill on to perl.
ip netns exec "$ns" timeout 60 perl -e '
    use strict; use IO::Socket::IP; $| = 1;
    my (@held, %listener);
    for my $line (split /\n/, $ARGV[0]) {
        my ($port, @pairs) = split " ", $line;
        $listener{$port} = IO::Socket::IP->new(LocalHost => "::", LocalPort => $port, Listen => 64,
            ReuseAddr => 1, V6Only => 0) or die "listen $port: $@\n";
        for (@pairs) {
            my ($host, $count) = split /=/;
            for (1 .. $count) {
                push @held, IO::Socket::IP->new(PeerHost => $host, PeerPort => $port)
                    or die "connect $host $port: $@\n";
                push @held, $listener{$port}->accept or die "accept $port: $!\n";
            }
        }
    }
    print "ready\n";
    sleep 60;' "$plan" >.helper 2>&1 &
helper=$!
for _ in $(seq 100); do
    ! grep -q ready .helper && kill -0 "$helper" 2>/dev/null && sleep 0.1 || break
done
grep -q ready .helper || skip "cannot bind or connect in the namespace: $(cat .helper)"

mkdir spool
in_ns netstat -tanW >spool/netstatdump.log
# Both sides as the report prints them, from PORT COUNT lines.
as_report() { awk '{ c[$1] += $2 } END { printf "POP3: %d|SMTP: %d|HTTP: %d|FTP: %d", c[110], c[25], c[80], c[21] }'; }
truth=$(in_ns ss -tanH state established | awk '{ n = split($3, p, ":"); print p[n], 1 }' | as_report)
known=$(tr '=' ' ' <<<"$plan" | awk '{ for (i = 3; i <= NF; i += 2) print $1, $i }' | as_report)
expect "ss counts the connections made ($known; ss: $truth)" [ "$truth" = "$known" ]
check_report "netstat -tanW, counted live" "$known" db.rrd spool '[POP3.SMTP.HTTP.FTP]' video

# The kit reads the kernel's table: a German netstat, here hidden behind a
# bind mount, has no say. The locale is made if missing (Debian: locales).
locale -a | grep -qx de_DE.utf8 || localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null
expect "netstat translates in German (the case at hand)" eval 'LANG=de_DE.UTF-8 in_ns netstat -tan | grep -q VERBUNDEN'
german() { in_ns unshare -m sh -c 'mount --bind /dev/null "$0" && exec "$@"' "$(command -v netstat)" env LANG=de_DE.UTF-8 "$kit" "$@"; }
counts=$(sed 's/[A-Z0-9]*: //g; s/|/ /g' <<<"$known")
expect "netstat hidden" eval '! in_ns unshare -m sh -c "mount --bind /dev/null \"\$0\" && exec netstat -tan" "$(command -v netstat)" >/dev/null 2>&1'
expect "kit: the database made" german create kit.rrd
expect "kit: collect lands" german collect kit.rrd kitspool
expect "kit: the sample holds the true counts" [ "$(rrdtool lastupdate kit.rrd | sed -n 's/^[0-9]*: //p')" = "$counts" ]
check_report "kit: the saved listing replays to them" "$known" db.rrd kitspool '[POP3.SMTP.HTTP.FTP]' video
expect "kit: textfile --save writes them" german textfile --save kitspool metrics/estacount.prom
expect "kit: the .prom holds them" [ "$(sed -n 's/^estacount_established_connections{.*} //p' metrics/estacount.prom | paste -sd' ')" = "$counts" ]
finish
