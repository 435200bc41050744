# common.sh: sourced by the kit's scripts, so that they all read a service
# LIST and a database path as estacount does. POSIX sh.

# fail MESSAGE: MESSAGE on stderr, then exit 2 (the kit's own refusal, which
# no caller can take for estacount's 1).
fail() {
    echo "$0: $*" >&2
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
