#!/bin/sh
# draw-graph.sh DB PNG [START]: draws every service the database DB holds
# (pop3, smtp, http, ftp: whichever create-database.sh gave it) into PNG,
# from START (default end-1d, any rrdtool time such as end-1w or end-1y)
# until now. Makes PNG's folder if needed. The line and the legend's last
# and average come from the AVERAGE archives, the legend's max from the MAX
# archives, as averaging over a week or more flattens the peaks.
# The image is drawn into a new file beside PNG, then renamed over it: a
# reader never sees half an image, and a symlink planted at PNG by whoever may
# write in its folder is replaced, not written through.
# Exit status: 0 when PNG was drawn; 2 otherwise, with one line on stderr
# saying why, and PNG left as it was.
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
dir=$(dirname "$png")
err=$(mkdir -p "$dir" 2>&1) || fail "cannot make the folder $dir: $err"
# rrdtool splits DEF lines at colons, so a colon in the path must be escaped.
def_db=$(printf '%s\n' "$db" | sed 's/:/\\:/g')
peak=MAX
(unset RRDCACHED_ADDRESS && rrdtool info "$db") 2>/dev/null | grep -q '^rra\[[0-9]*\]\.cf = "MAX"$' || peak=AVERAGE

set -- --start "$start" --end now --imgformat PNG \
    --title "Established connections on $(uname -n)" --vertical-label connections \
    --width 600 --height 200 --lower-limit 0 \
    --upper-limit 10 --left-axis-format %.0lf --units-exponent 0
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
# Connections come whole: labels without decimals or k, and an axis of at
# least 0 to 10 (--upper-limit without --rigid), as over a smaller range
# rrdtool steps by halves, which the labels would round to pairs.
# rrdtool writes the image to standard output ("-"), into a name that the
# shell creates with noclobber (O_EXCL), so nothing planted there is followed.
tmp=$(mktemp -u "$dir/.estacount-graph.XXXXXX") || fail "cannot name a file in $dir"
trap 'rm -f "$tmp"' EXIT
trap 'exit 2' HUP INT TERM
err=$( (set -C && rrdtool graph - "$@" >"$tmp") 2>&1) || fail "rrdtool could not draw $db: $err: $png was left as it was"
err=$(mv -fT "$tmp" "$png" 2>&1) || fail "cannot rename $tmp to $png: $err"
