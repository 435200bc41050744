#!/usr/bin/env bash
# Remakes the scan's seed dumps in fuzz/corpus/scan:  make_scan_seeds.sh [MAKE_DUMP]
# MAKE_DUMP, the dump generator of the benchmarks (estacount_make_dump), adds
# two generated listings when given.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$here/corpus/scan
mkdir -p "$out"
crlf() { sed 's/$/\r/'; }

cp "$here/../examples/spool/netstatdump.log" "$out/windows_example"

# netstat -tan on Linux: LF line ends, a Recv-Q and Send-Q column, IPv4
# clients of a server on [::], a link-local address with a scope.
cat >"$out/linux_tan" <<'DUMP'
Active Internet connections (servers and established)
Proto Recv-Q Send-Q Local Address           Foreign Address         State      
tcp        0      0 0.0.0.0:25              0.0.0.0:*               LISTEN     
tcp        0      0 0.0.0.0:110             0.0.0.0:*               LISTEN     
tcp        0      0 10.0.0.4:110            10.0.0.77:51234         ESTABLISHED
tcp        0      0 10.0.0.4:25             198.51.100.3:40112      ESTABLISHED
tcp        0     36 10.0.0.4:22             10.0.0.9:60122          ESTABLISHED
tcp        0      0 10.0.0.4:51000          93.184.216.34:80        ESTABLISHED
tcp6       0      0 :::80                   :::*                    LISTEN     
tcp6       0      0 :::21                   :::*                    LISTEN     
tcp6       0      0 10.0.0.4:80             10.0.0.31:40222         ESTABLISHED
tcp6       0      0 ::1:80                  ::1:40224               ESTABLISHED
tcp6       0      0 fe80::1%eth0:21         fe80::2%eth0:5000       ESTABLISHED
DUMP

# IPv6 endpoints of every form Windows writes, in brackets, each line
# followed by an IPv4 one that must still be walked in step.
crlf >"$out/windows_ipv6" <<'DUMP'
  Proto  Local Address          Foreign Address        State
  TCP    [2001:db8::10]:80      [2001:db8::20]:50123   ESTABLISHED
  TCP    192.168.1.10:110       192.168.1.77:51234     ESTABLISHED
  TCP    [2001:db8:0:1::5]:25   [2001:db8:0:2::9]:50124  ESTABLISHED
  TCP    [2001:db8:85a3:8d3:1319:8a2e:370:7348]:110  [2001:db8:85a3:8d3:1319:8a2e:370:7349]:50125  ESTABLISHED
  TCP    [fe80::1c2d:3e4f:5a6b:7c8d%12]:139  [::]:0  LISTENING
  TCP    192.168.1.10:21        192.168.1.77:51235     ESTABLISHED
  TCP    [::ffff:10.0.0.9]:80   [::ffff:10.0.0.7]:50126  ESTABLISHED
  TCP    [2001:0:4136:e378:8000:63bf:3fff:fdd2]:21  [2606:4700:4700::1111]:443  ESTABLISHED
  UDP    [fe80::1c2d:3e4f:5a6b:7c8d%3]:1900  *:*
  TCP    192.168.1.10:80        192.168.1.77:51236     ESTABLISHED
DUMP

# netstat -tanW on Linux: IPv6 endpoints bare, each with its port after the
# last colon, and one cut to 23 columns as netstat -tan writes it.
cat >"$out/linux_tanw" <<'DUMP'
Proto Recv-Q Send-Q Local Address           Foreign Address         State      
tcp6       0      0 :::80                   :::*                    LISTEN     
tcp6       0      0 2001:db8::5:80          2001:db8::9:50000       ESTABLISHED
tcp6       0      0 ::1:25                  ::1:40000               ESTABLISHED
tcp6       0      0 fd00::2:110             fd00::3:50001           ESTABLISHED
tcp6       0      0 ::ffff:127.0.0.1:21     ::ffff:127.0.0.1:50002  ESTABLISHED
tcp6       0      0 fe80::fc:ff:fe00:1:80   fe80::fc:ff:fe00:2:50003 ESTABLISHED
tcp6       0      0 2001:db8:0:0:0:0:0:5:80 2001:db8:0:0:0:0:0:9:50004 ESTABLISHED
tcp6       0      0 2600:1f18:61c:8a00:4:80 2a01:4f8:c17:b2f1::50000 ESTABLISHED
tcp        0      0 10.0.0.4:25             10.0.0.9:41234          ESTABLISHED
DUMP

# Lines that almost count: a port that only begins like a service's, a
# remote service port, a state with a trailing space, a tab, lower case,
# another state, a field cut by the end of the line, and two that do count.
crlf >"$out/near_misses" <<'DUMP'
  Proto  Local Address          Foreign Address        State
  TCP    192.168.1.10:1100      192.168.1.77:51234     ESTABLISHED
  TCP    192.168.1.10:2         192.168.1.77:51235     ESTABLISHED
  TCP    192.168.1.10:800       192.168.1.77:51236     ESTABLISHED
  TCP    192.168.1.10:51000     192.168.1.77:110       ESTABLISHED
  TCP    192.168.1.10:25        192.168.1.77:51237     ESTABLISHED 
  TCP    192.168.1.10:80	192.168.1.77:51238     ESTABLISHED
  TCP    192.168.1.10:21        192.168.1.77:51239     established
  TCP    192.168.1.10:21        192.168.1.77:51240     ESTABLISHE
  TCP    192.168.1.10:110       192.168.1.77:51241     CLOSE_WAIT
  TCP    [::]:80                [::]:0                 LISTENING
  TCP    [::1]:25               [::1]:50311            ESTABLISHED
  TCP    192.168.1.10:21        192.168.1.77:51242     ESTABLISHED
DUMP

# The same lines with bare CR and bare LF line ends, and a last line that
# ends at the end of the file with no line end at all.
printf '  TCP    10.1.1.1:80            10.1.1.2:5000          ESTABLISHED\r  TCP    10.1.1.1:110           10.1.1.2:5001          ESTABLISHED\r  TCP    10.1.1.1:21            10.1.1.2:5002          TIME_WAIT\r' >"$out/cr_only"
printf '  TCP    10.1.1.1:80            10.1.1.2:5000          ESTABLISHED\n  TCP    10.1.1.1:25            10.1.1.2:5001          ESTABLISHED\n  TCP    10.1.1.1:21            10.1.1.2:5002          ESTABLISHED' >"$out/lf_no_final"

# A time with one colon before the table puts the walk out of step; one
# with two does not.
crlf >"$out/stray_colon" <<'DUMP'
Saved at 10:15 by the collector
  Proto  Local Address          Foreign Address        State
  TCP    192.168.1.10:110       192.168.1.77:51234     ESTABLISHED
  TCP    192.168.1.10:25        192.168.1.77:110       ESTABLISHED
  TCP    192.168.1.10:80        192.168.1.77:51236     ESTABLISHED
Saved at 10:15:30
  TCP    192.168.1.10:21        192.168.1.77:51237     ESTABLISHED
DUMP

# Stored with two bytes per character: counts nothing.
printf '  TCP    10.1.1.1:80            10.1.1.2:5000          ESTABLISHED\r\n' |
    iconv -f ASCII -t UTF-16LE >"$out/two_bytes_per_character"

if [ $# -ge 1 ]; then
    "$1" "$out/generated_4k_1" 4096 1
    "$1" "$out/generated_4k_2" 4096 2
fi
