// The run is one straight pass: every check below runs in this order, the
// first that fails decides the message, and this file alone prints a refusal
// and chooses the exit status: 0 for usage or version, 1 when the run reached
// its delivery, -1 when it was refused or failed (text that never reached
// standard output included).
//
// Standard output carries the fixed texts that callers parse, byte for byte.
// What a person needs beyond them goes to standard error, one line each: the
// path and the system's reason behind a refusal that involves a file or a
// launch, and a warning where the words are taken but likely not meant.
// cron mails whatever a job writes there, so nothing goes there on a run
// that did what it was asked.

#include "front/run.h"

#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>

#include "common/run_state.h"
#include "common/text.h"
#include "counting/dump.h"
#include "counting/listing_look.h"
#include "delivery/report.h"
#include "delivery/update.h"
#include "front/service_list.h"
#include "front/usage.h"
#include "platform/console.h"

namespace {

// Text that never reached its reader (a full disk, a closed descriptor) is no
// delivery, and there is nowhere left to say so. Both tests are needed: the
// Windows C runtime writes an unbuffered stdout at once, so its fflush has
// nothing left to fail and the error sits only in the stream's flag.
bool output_written()
{
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

// One line on standard error, written at once: "estacount: " and `text`.
// Written before the refusal's own text, which may lack a final line feed,
// so that on a shared terminal neither message runs into the other.
void tell(const std::string &text)
{
    const std::string line = "estacount: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void tell_about(std::string_view path, std::string_view why)
{
    tell(shown(path) + ": " + std::string(why));
}

// The database-path faults the program refuses, in the order it asks: the
// interpreter's first, so that a path it would act on keeps that message
// whatever else it holds. The program takes an empty, bracketed or keyword
// path as any other and lets the database check judge it.
struct path_refusal {
    path_fault fault;
    const char *why;      // standard error, after the path
    const char *refused;  // standard output, after "... [PATH] to "
};
constexpr path_refusal path_refusals[] = {
    {path_fault::interpreter,
     "cmd.exe would act on a character of the path: one of \" % ! ^ & | < > ( ) or a control character",
     "the command interpreter: it holds one of \" % ! ^ & | < > ( ) or a control character"},
    {path_fault::space, "rrdtool would take a path with a space as several words", "rrdtool: it holds a space"},
    {path_fault::leading_dash, "rrdtool would take a path that begins with - as an option",
     "rrdtool: it begins with -"},
    {path_fault::control_character, "a control character in the path could break rrdtool's command",
     "rrdtool: it holds a control character"},
};
// A launch that cmd.exe would act on is refused with the first row's texts.
static_assert(path_refusals[0].fault == path_fault::interpreter);

int refuse_path(std::string_view rrd_path, const path_refusal &refusal)
{
    tell_about(rrd_path, refusal.why);
    std::printf("\nimpossible to pass the rrd at [%.*s] to %s\n", static_cast<int>(rrd_path.size()),
                rrd_path.data(), refusal.refused);
    return -1;
}

bool same_letters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A list is taken whatever it names; a name that selects nothing is most
// likely a slip (the comma form of the help text, a name in mixed case).
void warn_about_list(std::string_view list, const service_selection &selected)
{
    const unknown_names unknown = find_unknown_names(list);
    if (unknown.count > 0) {
        std::string advice = "the services are POP3, SMTP, HTTP and FTP";
        for (const service &row : service_table)
            if (same_letters(unknown.first, row.label))
                advice = "write each name all in capitals or all in lower case";
        if (unknown.first.find(',') != std::string_view::npos)
            advice = "separate the names with dots, as in [POP3.SMTP]";
        std::string text = "warning: \"" + shown(unknown.first) + "\" in the service list is no service";
        if (unknown.count > 1)
            text += unknown.count == 2 ? " (nor is 1 more of its names)"
                                       : " (nor are " + std::to_string(unknown.count - 1) + " more of its names)";
        tell(text + ": " + advice);
    }
    if (selected == service_selection{})
        tell("warning: the service list " + shown(list) + " selects no service: no count is delivered");
}

// A dump in which nothing counted is often one the scan can never count.
// Looked at only then, so that a run that counted pays nothing for it; an
// English listing is quiet, whatever it holds.
void warn_about_listing(std::string_view spool_dir)
{
    std::string head;
    if (!read_dump_head(spool_dir, head))
        return;
    const listing_look look = look_of_listing(head);
    std::string what;
    switch (look.kind) {
    case listing_kind::english:
        return;
    case listing_kind::ss:
        what = "is a listing of ss, whose lines the count cannot read";
        break;
    case listing_kind::other_language:
        what = "gives the connections' states in another language (\"" + shown(look.word) +
               "\"), and only ESTABLISHED counts";
        break;
    case listing_kind::two_bytes:
        what = "is stored with two bytes per character (UTF-16, as PowerShell 5's > writes), "
               "which the count cannot read";
        break;
    case listing_kind::no_connections:
        what = "holds no connection line and no English netstat header";
        break;
    }
    tell("warning: " + shown(dump_path(spool_dir)) + " " + what +
         ": save netstat's listing in English, as estacount-kit collect does");
}

}  // namespace

int run_command_line(int argc, char **argv)
{
    run_state run;

    if (argc < 2) {
        print_usage(usage_variant::dot);
        return output_written() ? 0 : -1;
    }
    // Keywords come before the word count, so "V a b c" prints the version.
    // Beside the program's own keywords, the ones a person tries first.
    const std::string_view first = argv[1];
    if (first == "V" || first == "v" || first == "--version") {
        print_version();
        return output_written() ? 0 : -1;
    }
    if (first == "?" || first == "help" || first == "HELP" || first == "--help" || first == "-h" ||
        (slash_question_asks_help && first == "/?")) {
        print_usage(usage_variant::comma);
        return output_written() ? 0 : -1;
    }
    if (argc < 5) {
        std::fputs("wrong use of parameters. use [estacount ?] for help", stdout);
        return -1;
    }

    // The words are read here once; from now on the run state stands for them.
    run.rrd_path = first;
    run.spool_dir = argv[2];
    run.service_list = argv[3];
    // Any word but "fillrrd" means video, so a misspelt mode only prints.
    const std::string_view mode = argv[4];
    if (mode == "fillrrd")
        run.mode = run_mode::fillrrd;
    else if (mode != "video")
        tell("warning: the mode \"" + shown(mode) + "\" is neither video nor fillrrd: the run counts as video");

    // The database is checked before the list, so a missing database wins
    // over a malformed list; a video run never looks at it.
    std::string why;
    if (run.mode == run_mode::fillrrd && !check_database(run.rrd_path, why)) {
        tell_about(run.rrd_path, why);
        std::printf("\nimpossible to find the rrd choosen at [%.*s]\n", static_cast<int>(run.rrd_path.size()),
                    run.rrd_path.data());
        return -1;
    }

    if (!service_list_is_bracketed(run.service_list)) {
        std::fputs("\nWrong passing parameters.\nuse [POP3.SMTP.HTTP.FTP] syntax", stdout);
        return -1;
    }
    run.selected = parse_service_list(run.service_list);
    warn_about_list(run.service_list, run.selected);

    const dump_read read = load_dump(run.spool_dir, run.counts);
    switch (read.result) {
    case read_result::done:
        break;
    case read_result::not_opened:
        tell_about(dump_path(run.spool_dir), read.why);
        std::fputs("\nCan't find netstat output file", stdout);
        return -1;
    case read_result::short_read:
        // A dump cut short, or changed while it was read, would deliver
        // counts of no one listing: no report, and on standard output no
        // word, as ever.
        tell_about(dump_path(run.spool_dir), read.why);
        return -1;
    }
    if (run.counts == service_counts{})
        warn_about_listing(run.spool_dir);

    form_count_texts(run);

    if (run.mode == run_mode::video) {
        print_report(run);
        return output_written() ? 1 : -1;
    }

    // A sample with no value could only make rrdtool fail.
    if (run.selected == service_selection{})
        return 1;
    const path_faults faults = database_path_faults(run.rrd_path);
    for (const path_refusal &refusal : path_refusals)
        if (has_fault(faults, refusal.fault))
            return refuse_path(run.rrd_path, refusal);
    std::string failure;
    switch (launch_update(update_words(run), failure)) {
    case launch_result::started:
        return 1;
    case launch_result::not_started:
        tell(shown(failure));
        std::printf("\nimpossible to start rrdtool to update the rrd at [%.*s]\n",
                    static_cast<int>(run.rrd_path.size()), run.rrd_path.data());
        return -1;
    case launch_result::refused:
        return refuse_path(run.rrd_path, path_refusals[0]);
    }
    return 1;
}
