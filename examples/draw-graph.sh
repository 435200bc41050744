#!/bin/sh
# draw-graph.sh DB PNG [START]: draws every service the database DB holds
# (pop3, smtp, http, ftp: whichever create-database.sh gave it) into PNG,
# from START (default end-1d, any rrdtool time such as end-1w or end-1y)
# until now. Makes PNG's folder if needed. The line and the legend's last
# and average come from the AVERAGE archives, the legend's max from the MAX
# archives, as averaging over a week or more flattens the peaks.
# Exit status: 0 when drawn, 2 when refused, else rrdtool's.
. "$(dirname "$0")/common.sh"

[ $# -ge 2 ] && [ $# -le 3 ] || fail "usage: $0 DB PNG [START]"
db=$1
png=$2
start=${3:-end-1d}
[ -f "$db" ] || fail "no database at $db"
# rrdtool takes a word beginning with - for an option.
case $db in -*) db=./$db ;; esac
sources=$(data_sources "$db") || exit 2
case $png in -*) png=./$png ;; esac
mkdir -p "$(dirname "$png")" || fail "cannot make the folder of $png"
# rrdtool splits DEF lines at colons, so a colon in the path must be escaped.
def_db=$(printf '%s\n' "$db" | sed 's/:/\\:/g')
peak=MAX
(unset RRDCACHED_ADDRESS && rrdtool info "$db") 2>/dev/null | grep -q '^rra\[[0-9]*\]\.cf = "MAX"$' || peak=AVERAGE

set -- --start "$start" --end now --imgformat PNG \
    --title "Established connections" --vertical-label connections \
    --width 600 --height 200 --lower-limit 0
drawn=
for service in pop3:POP3:1f77b4 smtp:SMTP:ff7f0e http:HTTP:2ca02c ftp:FTP:d62728; do
    name=${service%%:*}
    case " $sources " in *" $name "*) ;; *) continue ;; esac
    label=${service#*:}
    label=$(printf '%-5s' "${label%:*}")
    colour=${service##*:}
    drawn="$drawn $name"
    set -- "$@" \
        "DEF:$name=$def_db:$name:AVERAGE" \
        "DEF:${name}peak=$def_db:$name:$peak" \
        "VDEF:${name}last=$name,LAST" \
        "VDEF:${name}avg=$name,AVERAGE" \
        "VDEF:${name}max=${name}peak,MAXIMUM" \
        "LINE2:$name#$colour:$label" \
        "GPRINT:${name}last:last %4.0lf" \
        "GPRINT:${name}avg:average %6.1lf" \
        "GPRINT:${name}max:max %4.0lf\\l"
done
[ -n "$drawn" ] || fail "$db holds none of pop3, smtp, http, ftp (it holds $sources)"
set -- "$@" "COMMENT:last and average from the AVERAGE archive, max from the $peak archive\\l"
# rrdtool prints the image size; the PNG is what matters.
rrdtool graph "$png" "$@" >/dev/null
