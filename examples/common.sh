# common.sh: sourced by the kit's scripts, so that they all read a service
# LIST and a database path as estacount does, save a listing with the same
# checks, confirm a sample the same way, and fail with one line. POSIX sh,
# with GNU stat and mv -T (Debian's coreutils).

# What the kit writes (the listing, the graph, the .prom file) is for others
# to read: the web server, node_exporter. Its mode comes from the umask when
# the file is made, never from a chmod by path afterwards, which would follow
# a symlink that whoever owns the folder swapped in.
umask 022

# say MESSAGE: MESSAGE on stderr as one line, whatever rrdtool or another
# tool put into it, so that a failure is one line in cron's mail or the journal.
say() {
    printf '%s: %s\n' "$0" "$(printf '%s' "$*" | tr -s '\n' ' ')" >&2
}

# fail MESSAGE: say MESSAGE, then exit 2. Every script of the kit exits 0 only
# when its work is done, and 2 otherwise; never 1, which is estacount's own
# success and would read as a success to a caller still written for it.
fail() {
    say "$@"
    exit 2
}

# services_in LIST: sets $services to the data sources that LIST selects, in
# table order (pop3 smtp http ftp), separated by spaces. estacount's rules:
# [ and ], names separated by dots, each POP3/pop3, SMTP/smtp, HTTP/http or
# FTP/ftp, any order, a name given twice counts once, the list ends at its
# first ]. Where estacount would quietly select nothing for a name (mixed
# case, a comma, an empty name), this prints why on stderr and returns 1; so
# does a list that selects nothing.
services_in() {
    services=
    case $1 in
    \[*\]) ;;
    *)
        echo "$0: the service list $1 is not in brackets: write it as [POP3.SMTP.HTTP.FTP]" >&2
        return 1
        ;;
    esac
    _rest=${1#\[}
    _rest=${_rest%%\]*}
    _pop3= _smtp= _http= _ftp=
    while [ -n "$_rest" ]; do
        _name=${_rest%%.*}
        case $_name in
        POP3 | pop3) _pop3=pop3 ;;
        SMTP | smtp) _smtp=smtp ;;
        HTTP | http) _http=http ;;
        FTP | ftp) _ftp=ftp ;;
        *,*)
            echo "$0: the service list $1 selects nothing: separate the names with dots, as in [POP3.SMTP.HTTP.FTP], not commas" >&2
            return 1
            ;;
        *)
            echo "$0: '$_name' in the service list $1 is no service name: write POP3, SMTP, HTTP or FTP, all in capitals or all in lower case, separated by single dots" >&2
            return 1
            ;;
        esac
        [ "$_name" != "$_rest" ] || break
        _rest=${_rest#*.}
        [ -n "$_rest" ] || {
            echo "$0: the service list $1 ends in a dot" >&2
            return 1
        }
    done
    services=$(echo $_pop3 $_smtp $_http $_ftp)
    [ -n "$services" ] || {
        echo "$0: the service list $1 selects nothing: name at least one service, as in [HTTP]" >&2
        return 1
    }
}

# check_database_path DB: refuses (message on stderr, return 1) a path that
# estacount refuses for fillrrd (a space, which would split it, a leading -,
# which rrdtool would read as an option, a control character) or reads as a
# keyword (v, V, ?, help, HELP print the version or the usage).
check_database_path() {
    case $1 in
    *' '*) echo "$0: the database path $1 holds a space: estacount refuses it, as rrdtool would get it in pieces" >&2 ;;
    -*) echo "$0: the database path $1 begins with -: estacount refuses it, as rrdtool would take it for an option; write ./$1" >&2 ;;
    *[[:cntrl:]]*) echo "$0: the database path holds a control character: estacount refuses it" >&2 ;;
    v | V | \? | help | HELP) echo "$0: the database path $1 is one of estacount's keywords: write ./$1" >&2 ;;
    *) return 0 ;;
    esac
    return 1
}

# data_sources DB: prints the data sources of the database DB in their order,
# separated by spaces; returns 1 with rrdtool's message if it is no database.
# Straight from the file: the sources never change, and asking rrdcached
# would flush the file's pending updates every time.
data_sources() {
    _info=$(unset RRDCACHED_ADDRESS && rrdtool info "$1" 2>&1) || {
        echo "$0: $_info" >&2
        return 1
    }
    echo $(printf '%s\n' "$_info" |
        sed -n 's/^ds\[\([^]]*\)\]\.index = \([0-9]*\)$/\2 \1/p' | sort -n | cut -d' ' -f2)
}

# save_listing SPOOL: saves netstat -tanW as SPOOL/netstatdump.log; returns 1
# with one line on stderr, the old listing kept, when the new one is not whole.
# netstat ignores write errors (netstat -tanW >/dev/full exits 0), so its
# output goes through cat, whose status tells a full disk; and a listing
# without netstat's header line is no listing (it would count as all zeros).
save_listing() {
    command -v netstat >/dev/null || {
        say "netstat not found (Debian: apt-get install net-tools): no listing was saved"
        return 1
    }
    _err=$(mkdir -p "$1" 2>&1) || { say "cannot make the spool folder $1: $_err"; return 1; }
    _listing=$(netstat -tanW 2>/dev/null) || {
        say "netstat -tanW failed with status $?: the old listing is kept"
        return 1
    }
    case $_listing in
    *'Proto Recv-Q Send-Q Local Address'*) ;;
    *)
        say "netstat -tanW printed no connection table: the old listing is kept"
        return 1
        ;;
    esac
    # A name no file has yet, created by the shell with noclobber (O_EXCL): a
    # symlink planted under it by whoever may write in SPOOL is refused, not
    # followed; mv -T then replaces a symlink at netstatdump.log itself.
    _tmp=$(mktemp -u "$1/.netstatdump.XXXXXX") || { say "cannot name a file in $1"; return 1; }
    _err=$( (set -C && printf '%s\n' "$_listing" | cat >"$_tmp") 2>&1) &&
        _err=$(mv -fT "$_tmp" "$1/netstatdump.log" 2>&1) || {
        rm -f "$_tmp"
        say "cannot save the listing in $1: $_err: the old listing is kept"
        return 1
    }
}

# read_last_update DB: sets $last to the time of DB's last update, asking
# rrdcached (which writes what it holds first) when RRDCACHED_ADDRESS is set;
# returns 1 with rrdtool's words in $last_error.
read_last_update() {
    _out=$(rrdtool lastupdate "$1" 2>&1) || {
        last_error=$(printf '%s\n' "$_out" | grep '^ERROR') || last_error=$_out
        return 1
    }
    last=$(printf '%s\n' "$_out" | sed -n 's/^\([0-9][0-9]*\):.*/\1/p')
    [ -n "$last" ] || { last_error="rrdtool lastupdate printed no time"; return 1; }
}

# note_database DB: sets $before (the last update) and $stamp (the file's
# change time) for wait_for_sample; returns 1 as read_last_update does.
note_database() {
    stamp=$(stat -c %y "$1") && read_last_update "$1" && before=$last
}

# wait_for_sample DB: waits, five seconds at most, until DB's last update is
# later than $before; when it never is, $last_error tells whether the last
# read failed. rrdtool reads under a lock, and an update that finds the
# file locked is dropped: without rrdcached, read only once the file has
# changed, when the update holds its lock or is done with it. A read that
# finds the lock taken fails, and counts as "not yet".
wait_for_sample() {
    _tries=0
    while [ "$_tries" -lt 50 ]; do
        if [ -n "${RRDCACHED_ADDRESS:-}" ] || [ "$(stat -c %y "$1")" != "$stamp" ]; then
            read_last_update "$1" && [ "$last" -gt "$before" ] && return 0
        fi
        sleep 0.1
        _tries=$((_tries + 1))
    done
    last_error=
    read_last_update "$1" && [ "$last" -gt "$before" ]
}
