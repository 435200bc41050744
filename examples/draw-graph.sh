#!/bin/sh
# draw-graph.sh DB PNG [START]: draws the four services of a database made by
# create-database.sh into PNG, from START (default end-1d, any rrdtool time
# such as end-1w or end-1y) until now.
set -eu

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
    echo "usage: $0 DB PNG [START]" >&2
    exit 2
fi
# rrdtool splits DEF lines at colons, so a colon in the path must be escaped.
db=$(printf '%s\n' "$1" | sed 's/:/\\:/g')
png=$2
start=${3:-end-1d}

set -- --start "$start" --end now --imgformat PNG \
    --title "Established connections" --vertical-label connections \
    --width 600 --height 200 --lower-limit 0
for service in pop3:POP3:1f77b4 smtp:SMTP:ff7f0e http:HTTP:2ca02c ftp:FTP:d62728; do
    name=${service%%:*}
    label=${service#*:}; label=$(printf '%-5s' "${label%:*}")
    colour=${service##*:}
    # The line is drawn from the averages; the maximum comes from the MAX
    # archives, as over a week or more averaging flattens the peaks.
    set -- "$@" \
        "DEF:$name=$db:$name:AVERAGE" \
        "DEF:${name}peak=$db:$name:MAX" \
        "VDEF:${name}last=$name,LAST" \
        "VDEF:${name}avg=$name,AVERAGE" \
        "VDEF:${name}max=${name}peak,MAXIMUM" \
        "LINE2:$name#$colour:$label" \
        "GPRINT:${name}last:last %4.0lf" \
        "GPRINT:${name}avg:average %6.1lf" \
        "GPRINT:${name}max:max %4.0lf\\l"
done
# rrdtool prints the image size; the PNG is what matters.
rrdtool graph "$png" "$@" >/dev/null
