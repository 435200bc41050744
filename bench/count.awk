# count.awk DUMP (awk -f bench/count.awk DUMP): the awk an administrator
# would write to count what estacount counts in a netstat -an dump saved on
# Windows, printed as estacount prints its counts: strip the CR, keep the
# lines whose 4th field is ESTABLISHED, take the local endpoint's last
# ':'-separated piece as the port, count by port. Plain POSIX awk, so that
# mawk (Debian's default) and gawk run it alike.
{ sub(/\r$/, "") }
$4 == "ESTABLISHED" { n = split($2, p, ":"); c[p[n]]++ }
END { printf "POP3: %d\nSMTP: %d\nHTTP: %d\nFTP: %d\n", c["110"], c["25"], c["80"], c["21"] }
