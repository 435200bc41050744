# /etc/cron.d/estacount: for hosts without systemd (with systemd, enable
# estacount-collect.timer and estacount-graph.timer instead). Remove the #
# of the lines you want. The file stays when the package is removed (not
# purged), so each line first checks that the program is still there. Make
# the database first, as the user the lines run as:
#   runuser -u estacount -- estacount-kit create /var/lib/estacount/estacount.rrd
#
# A sample every five minutes, on the minute; the graph at other minutes,
# so that it never holds rrdtool's lock while a sample comes.
# */5 * * * * estacount test -x /usr/bin/estacount-kit && /usr/bin/estacount-kit collect /var/lib/estacount/estacount.rrd /var/spool/estacount
# 2-59/5 * * * * estacount test -x /usr/bin/estacount-kit && /usr/bin/estacount-kit graph /var/lib/estacount/estacount.rrd /var/lib/estacount/estacount.png
#
# A Prometheus-only host, instead of the two lines above: saves a fresh
# listing and writes the counts for node_exporter's textfile collector.
# Its folder is root's on Debian, hence root.
# */5 * * * * root test -x /usr/bin/estacount-kit && /usr/bin/estacount-kit textfile --save /var/spool/estacount /var/lib/prometheus/node-exporter/estacount.prom
