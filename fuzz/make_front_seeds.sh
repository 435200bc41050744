#!/usr/bin/env bash
# Remakes the front end's seeds in fuzz/corpus/front, in the input format
# that front_fuzz.cpp describes. Takes its dumps from fuzz/corpus/scan.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=$here/corpus/front
dumps=$here/corpus/scan
mkdir -p "$out"

hex() { printf '\\x%02x' $(($1 & 255)); }

# seed NAME FLAGS WINDOW ROOM DUMP [WORD...]: one input. FLAGS names the
# world: any of exists (the dump), database, short, not_started, refused.
# WINDOW is the read's window size (1 to 65536); ROOM is 0 for a standard
# output that takes everything, or 1 + the bytes it takes. DUMP is a file,
# or '' for none.
seed() {
    local name=$1 flags=$2 window=$3 room=$4 dump=$5 settings
    shift 5
    settings=$#
    case " $flags " in *" exists "*) settings=$((settings | 0x08)) ;; esac
    case " $flags " in *" database "*) settings=$((settings | 0x10)) ;; esac
    case " $flags " in *" short "*) settings=$((settings | 0x20)) ;; esac
    case " $flags " in *" not_started "*) settings=$((settings | 0x40)) ;; esac
    case " $flags " in *" refused "*) settings=$((settings | 0x80)) ;; esac
    {
        printf "$(hex $settings)$(hex $((window - 1)))$(hex $(((window - 1) >> 8)))$(hex "$room")"
        [ $# -gt 0 ] && printf '%s\0' "$@"
        [ -z "$dump" ] || cat "$dump"
    } >"$out/$name"
}

all='[POP3.SMTP.HTTP.FTP]'
example=$dumps/windows_example

# The keywords (written, or not), and too few words.
seed usage                  '' 1 0 ''
seed version                '' 1 0 '' v
seed version_before_count   '' 1 0 '' V db.rrd spool
seed help                   '' 1 0 '' '?'
seed help_word              '' 1 0 '' help
seed help_capitals          '' 1 0 '' HELP x y z video
seed too_few_words          '' 1 0 '' db.rrd spool "$all"
seed usage_stdout_full      '' 1 5 ''
seed version_stdout_full    '' 1 1 '' V

# video: windows of every size, a mode spelt wrong, a full standard output.
seed video_all              exists 100 0 "$example" db.rrd spool "$all" video
seed video_one_window       exists 65536 0 "$example" db.rrd spool "$all" video
seed video_byte_windows     exists 1 0 "$dumps/near_misses" x spool '[http.pop3]' video
seed video_misspelt_mode    exists 7 0 "$dumps/stray_colon" x spool '[SMTP.ftp]' vidoe extra
seed video_linux            exists 300 0 "$dumps/linux_tan" x /var/spool/ "$all" video
seed video_cr_only          exists 16 0 "$dumps/cr_only" x spool '[HTTP.POP3]' video
seed video_stdout_full      exists 64 50 "$dumps/lf_no_final" x spool "$all" video
seed video_empty_dump       exists 1 0 '' x spool "$all" video
seed video_no_dump          '' 1 0 '' x spool "$all" video
seed video_short_read       'exists short' 64 0 "$dumps/near_misses" x spool "$all" video

# The service list.
seed list_unbracketed       exists 1 0 '' x spool POP3.SMTP video
seed list_one_bracket       exists 1 0 '' x spool '[' video
seed list_mixed_case        exists 9 0 "$dumps/near_misses" x spool '[Pop3.SMTP.HTTP,FTP]' video

# fillrrd: each answer of the launch, no database, nothing selected.
seed fillrrd_all            'exists database' 128 0 "$example" db.rrd spool "$all" fillrrd
seed fillrrd_two            'exists database' 5 0 "$dumps/near_misses" 'my-stats.rrd' spool '[HTTP.pop3]' fillrrd
seed fillrrd_not_started    'exists database not_started' 33 0 "$dumps/linux_tan" db.rrd spool "$all" fillrrd
seed fillrrd_refused        'exists database refused' 2 0 "$dumps/cr_only" 'a&b.rrd' spool '[ftp]' fillrrd
seed fillrrd_no_database    exists 1 0 '' db.rrd spool "$all" fillrrd
seed fillrrd_empty_list     'exists database' 1 0 "$dumps/cr_only" db.rrd spool '[]' fillrrd
seed fillrrd_unknown_names  'exists database' 1 0 "$dumps/cr_only" db.rrd spool '[www.mail]' fillrrd
seed fillrrd_no_dump        database 1 0 '' db.rrd spool "$all" fillrrd
seed fillrrd_short_read     'exists database short' 40 0 "$dumps/near_misses" db.rrd spool "$all" fillrrd
# Paths rrdtool would take as something else: refused just before the launch,
# after the interpreter's own refusal.
seed fillrrd_path_space     'exists database' 5 0 "$dumps/near_misses" 'my stats.rrd' spool '[HTTP.pop3]' fillrrd
seed fillrrd_path_dash      'exists database' 1 0 "$dumps/cr_only" --daemon=x spool "$all" fillrrd
seed fillrrd_path_control   'exists database' 1 0 "$dumps/cr_only" $'x\x7f.rrd' spool "$all" fillrrd
seed fillrrd_refused_first  'exists database refused' 1 0 "$dumps/cr_only" 'a& b.rrd' spool '[ftp]' fillrrd
seed fillrrd_six_words      'exists database' 20 0 "$dumps/lf_no_final" db.rrd spool '[smtp.pop3]' fillrrd a b

# Words given as keyword bytes: db.rrd spool/ [HTTP.ftp] fillrrd.
seed keyword_bytes          'exists database' 3 0 "$dumps/lf_no_final" $'\x0d' $'\x0f' $'\x0c' $'\x06'
